// The image interface's read helpers, the read failure, and the raw image.
#include "image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <memory>

#include "aligned_buffer.h"

ReadFailure::ReadFailure(Kind kind, int error)
    : std::runtime_error(kind == kEndOfImage ? "end of image" : "read error"),
      kind_(kind),
      error_(error) {}

ReadFailure::ReadFailure(Kind kind, const std::string& description)
    : std::runtime_error(description), kind_(kind), error_(0), description_(description) {}

std::string ReadFailure::description() const {
  if (!description_.empty()) return description_;
  if (kind_ == kShrunk) return "the image became shorter while it was read";
  if (kind_ == kEndOfImage) return "end of image";
  return std::strerror(error_);
}

namespace {

// Whether a read of fd (not blocking) finds the end of the file at once.
bool atEndOfFile(int fd) {
  char byte;
  ssize_t got;
  do {
    got = ::read(fd, &byte, 1);
  } while (got < 0 && errno == EINTR);
  return got == 0;
}

}  // namespace

RawImage::RawImage(const std::string& path) {
  // Not blocking: opening a named pipe must not wait for a writer (it is
  // then refused where the length is measured: a pipe cannot seek).
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) throw ReadFailure(ReadFailure::kSystemError, errno);
  measure();
}

RawImage::RawImage(int fd) : fd_(fd) { measure(); }

void RawImage::measure() {
  struct stat st;
  int err = 0;
  if (::fstat(fd_, &st) != 0) {
    err = errno;
  } else if (S_ISDIR(st.st_mode)) {
    err = EISDIR;
  } else if (S_ISCHR(st.st_mode) && !atEndOfFile(fd_)) {
    // A character device that gives data (/dev/zero, a terminal) is no
    // disk; one at its end at once (/dev/null) is an empty image.
    ::close(fd_);
    fd_ = -1;
    throw ReadFailure(ReadFailure::kSystemError, "not a regular file or disk");
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

RawImage::~RawImage() {
  if (fd_ >= 0) ::close(fd_);
}

size_t RawImage::readUpTo(uint64_t pos, char* buf, size_t n) const {
  // Nothing past the measured length is read.
  const uint64_t length = static_cast<uint64_t>(length_);
  if (pos >= length) return 0;
  if (n > length - pos) n = static_cast<size_t>(length - pos);
  size_t done = 0;
  while (done < n) {
    const uint64_t at = pos + done;
    const ssize_t got = ::pread(fd_, buf + done, n - done, static_cast<off_t>(at));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ReadFailure(ReadFailure::kSystemError, errno);
    }
    if (got == 0) throw ReadFailure(ReadFailure::kShrunk);
    done += static_cast<size_t>(got);
  }
  return done;
}

uint64_t RawImage::nextData(uint64_t pos) const {
  const uint64_t length = static_cast<uint64_t>(length_);
  if (pos >= length) return length;
  const off_t data = ::lseek(fd_, static_cast<off_t>(pos), SEEK_DATA);
  if (data >= 0) return std::min(static_cast<uint64_t>(data), length);
  if (errno != ENXIO) return pos;
  // Only a hole up to the end of the file, or no file left there at all.
  struct stat st;
  if (::fstat(fd_, &st) == 0 && st.st_size < length_) throw ReadFailure(ReadFailure::kShrunk);
  return length;
}

uint64_t Image::nextData(uint64_t pos) const {
  return std::min(pos, static_cast<uint64_t>(length()));
}

uint64_t Image::nextHole(uint64_t /*pos*/) const { return static_cast<uint64_t>(length()); }

uint64_t RawImage::nextHole(uint64_t pos) const {
  const uint64_t length = static_cast<uint64_t>(length_);
  if (pos >= length) return length;
  const off_t hole = ::lseek(fd_, static_cast<off_t>(pos), SEEK_HOLE);
  return hole >= 0 ? std::min(static_cast<uint64_t>(hole), length) : length;
}

void Image::readExact(uint64_t pos, char* buf, size_t n) const {
  const size_t got = readUpTo(pos, buf, n);
  if (got < n) throw ReadFailure(ReadFailure::kEndOfImage);
}

void Image::forEachChunk(uint64_t pos, uint64_t len, size_t chunk,
                         const std::function<void(const char*, size_t)>& fn) const {
  const size_t size = static_cast<size_t>(len < chunk ? len : chunk);
  size_t first = size;
  if (inPlace(pos, first) != nullptr) {  // in memory: no buffer, no copy
    while (len > 0) {
      size_t n = static_cast<size_t>(len < size ? len : size);
      const size_t want = n;
      const char* bytes = inPlace(pos, n);
      if (n < want) throw ReadFailure(ReadFailure::kEndOfImage);
      fn(bytes, n);
      pos += n;
      len -= n;
    }
    return;
  }
  const AlignedBuffer buf(size);
  while (len > 0) {
    const size_t n = static_cast<size_t>(len < size ? len : size);
    readExact(pos, buf.data(), n);
    fn(buf.data(), n);
    pos += n;
    len -= n;
  }
}
