// A file written under a temporary name beside its final one and renamed
// over it only when complete: nobody sees half a file, and a link or a file
// already at the final name is replaced, never written through. Every
// writer of whole files (extracted files, the map) makes its files so.
#ifndef BFSSCAN_ATOMIC_FILE_H
#define BFSSCAN_ATOMIC_FILE_H

#include <fcntl.h>

#include <functional>
#include <string>

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile() { abandon(); }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file in the directory dirfd (AT_FDCWD: the
  // working directory), exclusively and without following a link, mode 0666
  // less the umask, trying the names tempName gives until one is free.
  // Returns 0, or the errno of the failure.
  int create(int dirfd, const std::string& finalName,
             const std::function<std::string()>& tempName);
  int fd() const { return fd_; }

  // What commit could not do.
  enum Step { kNone, kClose, kRename };
  // Closes the file and renames it over the final name. Returns kNone, or
  // the step that failed with its errno in *error (the temporary file is
  // then removed).
  Step commit(int* error);
  // Closes and removes the temporary file, unless committed.
  void abandon();

 private:
  int dirfd_ = AT_FDCWD;
  std::string final_, temp_;
  int fd_ = -1;
  bool pending_ = false;  // the temporary file exists
};

#endif  // BFSSCAN_ATOMIC_FILE_H
