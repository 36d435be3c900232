#include "image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <memory>

namespace {
// Positions past this cannot be given to pread; reading there is reading
// past the end of any image.
constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
}  // namespace

ReadFailure::ReadFailure(Kind kind, int error)
    : std::runtime_error(kind == kEndOfImage ? "end of image" : "read error"),
      kind_(kind),
      error_(error) {}

Image::Image(const std::string& path) {
  // Not blocking: opening a named pipe must not wait for a writer.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) throw ReadFailure(ReadFailure::kSystemError, errno);
  struct stat st;
  int err = 0;
  if (::fstat(fd_, &st) != 0) {
    err = errno;
  } else if (S_ISDIR(st.st_mode)) {
    err = EISDIR;
  } else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    err = ESPIPE;  // the scan needs to seek
  } else if (::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0) {
    err = errno;
  } else {
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) err = errno;
    length_ = end;
  }
  if (err != 0) {
    ::close(fd_);
    fd_ = -1;
    throw ReadFailure(ReadFailure::kSystemError, err);
  }
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

Image::~Image() {
  if (fd_ >= 0) ::close(fd_);
}

size_t Image::readUpTo(uint64_t pos, char* buf, size_t n) const {
  size_t done = 0;
  while (done < n) {
    const uint64_t at = pos + done;
    if (at >= kMaxOffset) break;
    size_t want = n - done;
    if (want > kMaxOffset - at) want = static_cast<size_t>(kMaxOffset - at);
    const ssize_t got = ::pread(fd_, buf + done, want, static_cast<off_t>(at));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ReadFailure(ReadFailure::kSystemError, errno);
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

void Image::readExact(uint64_t pos, char* buf, size_t n) const {
  const size_t got = readUpTo(pos, buf, n);
  if (got < n) throw ReadFailure(ReadFailure::kEndOfImage);
}

void Image::forEachChunk(uint64_t pos, uint64_t len, size_t chunk,
                         const std::function<void(const char*, size_t)>& fn) const {
  const size_t size = static_cast<size_t>(len < chunk ? len : chunk);
  std::unique_ptr<char[]> buf(new char[size]);
  while (len > 0) {
    const size_t n = static_cast<size_t>(len < size ? len : size);
    readExact(pos, buf.get(), n);
    fn(buf.get(), n);
    pos += n;
    len -= n;
  }
}
