#include "atomic_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

int AtomicFile::create(int dirfd, const std::string& finalName,
                       const std::function<std::string()>& tempName) {
  abandon();
  dirfd_ = dirfd;
  final_ = finalName;
  for (int tries = 0;; ++tries) {
    temp_ = tempName();
    fd_ = ::openat(dirfd_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   0666);
    if (fd_ >= 0) break;
    if (errno != EEXIST || tries > 100) return errno;
  }
  pending_ = true;
  return 0;
}

AtomicFile::Step AtomicFile::commit(int* error) {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    *error = errno;
    abandon();
    return kClose;
  }
  if (::renameat(dirfd_, temp_.c_str(), dirfd_, final_.c_str()) != 0) {
    *error = errno;
    abandon();
    return kRename;
  }
  pending_ = false;
  return kNone;
}

void AtomicFile::abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (pending_) ::unlinkat(dirfd_, temp_.c_str(), 0);
  pending_ = false;
}
