// Line-by-line writing of a results file, with unbuffered writes so that
// nothing waits in memory when the run ends early.
#include "results_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "escape.h"
#include "output_failure.h"

namespace {

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

ResultsFile::ResultsFile(const std::string& path, const std::string& image, Console* console)
    : path_(path), console_(console) {
  if (path == "-") {
    stdout_ = true;
    fd_ = STDOUT_FILENO;
    return;
  }
  if (!image.empty() && sameFile(path, image)) {
    throw OutputFailure("cannot write \"" + escapeForDiag(path) + "\": it is the image");
  }
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) fail(errno);
}

ResultsFile::~ResultsFile() {
  if (!stdout_ && fd_ >= 0) ::close(fd_);
}

void ResultsFile::fail(int error) {
  failed_ = true;
  throw OutputFailure("cannot write \"" + escapeForDiag(path_) + "\": " + std::strerror(error));
}

void ResultsFile::writeLine(const std::string& line) {
  if (lost_ || failed_) return;
  if (fd_ < 0) fail(EBADF);
  if (stdout_ && console_ != nullptr) console_->beforeRawOutput();
  const std::string data = line + '\n';
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      if (!stdout_) fail(error);
      lost_ = true;
      (console_ != nullptr ? console_->err() : std::cerr) << "bfsscan: cannot write to standard output: " << std::strerror(error) << std::endl;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

void ResultsFile::close() {
  if (stdout_ || fd_ < 0 || failed_) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail(errno);
}
