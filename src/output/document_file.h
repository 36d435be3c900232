// A results document written whole at the end of the run (the map, the
// HTML report): under a temporary name beside FILE that is renamed into
// place once complete, so that a half-written document never passes for
// one. FILE "-" is standard output; a FILE that is a symbolic link, a device
// or a pipe is written through, as the other results files are.
#ifndef BFSSCAN_DOCUMENT_FILE_H
#define BFSSCAN_DOCUMENT_FILE_H

#include <cstdio>
#include <functional>
#include <string>

#include "atomic_file.h"

class DocumentFile {
 public:
  // image: the image to be scanned, never to be replaced (may be empty);
  // what: the document's name in messages about standard output ("the map").
  DocumentFile(std::string path, std::string image, std::string what);
  ~DocumentFile();
  DocumentFile(const DocumentFile&) = delete;
  DocumentFile& operator=(const DocumentFile&) = delete;

  // Makes the temporary file; throws OutputFailure ("cannot write "F": REASON"),
  // also when FILE is the image.
  void open();
  // Opens if needed, hands a stream to body, and puts the file in place;
  // throws OutputFailure when any of it fails (the temporary file is gone).
  void write(const std::function<void(std::FILE*)>& body);
  // The next document goes to path.
  void setPath(const std::string& path) { path_ = path; }
  const std::string& path() const { return path_; }

 private:
  [[noreturn]] void fail(int err);

  std::string path_;
  std::string image_;
  std::string what_;
  AtomicFile file_;  // a new or regular file, renamed into place at the end
  int fd_ = -1;      // written through: standard output, a link, a device, a pipe
};

#endif  // BFSSCAN_DOCUMENT_FILE_H
