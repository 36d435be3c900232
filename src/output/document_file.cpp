// Writing a whole results document through a temporary file renamed into
// place (or straight through for standard output, links, devices and pipes).
#include "document_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "escape.h"
#include "output_failure.h"

namespace {

std::string quoted(const std::string& path) { return "\"" + escapeForDiag(path) + "\""; }

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

DocumentFile::DocumentFile(std::string path, std::string image, std::string what)
    : path_(std::move(path)), image_(std::move(image)), what_(std::move(what)) {}

DocumentFile::~DocumentFile() {
  if (fd_ >= 0) ::close(fd_);
}

void DocumentFile::fail(int err) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  file_.abandon();
  const std::string where = path_ == "-" ? what_ + " to standard output" : quoted(path_);
  throw OutputFailure("cannot write " + where + ": " + std::strerror(err));
}

void DocumentFile::open() {
  if (fd_ >= 0 || file_.fd() >= 0) return;
  if (path_ == "-") {
    fd_ = ::dup(STDOUT_FILENO);
    if (fd_ < 0) fail(errno);
    return;
  }
  if (!image_.empty() && sameFile(path_, image_)) {
    throw OutputFailure("cannot write " + quoted(path_) + ": it is the image");
  }
  // A symbolic link, device or pipe is written through: renaming over it
  // would replace the link or the node.
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) fail(errno);
    return;
  }
  unsigned n = 0;
  const std::string temp = path_ + ".bfsscan-" + std::to_string(::getpid()) + "-";
  const int err = file_.create(AT_FDCWD, path_, [&] { return temp + std::to_string(++n); });
  if (err != 0) fail(err);
}

void DocumentFile::write(const std::function<void(std::FILE*)>& body) {
  open();
  const bool atomic = file_.fd() >= 0;
  const int fd = atomic ? ::dup(file_.fd()) : fd_;
  if (fd < 0) fail(errno);
  std::FILE* f = ::fdopen(fd, "w");
  if (!f) {
    if (atomic) ::close(fd);
    fail(errno);
  }
  if (!atomic) fd_ = -1;  // the stream owns it now
  errno = 0;
  try {
    body(f);
  } catch (...) {
    std::fclose(f);
    file_.abandon();
    throw;
  }
  int err = 0;
  if (std::fflush(f) != 0 || std::ferror(f)) err = errno ? errno : EIO;
  if (std::fclose(f) != 0 && err == 0) err = errno ? errno : EIO;
  if (err == 0 && atomic) file_.commit(&err);
  if (err != 0) fail(err);
}
