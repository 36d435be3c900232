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
  // Nothing past the measured length is read: a device that never ends
  // (/dev/zero) is scanned for exactly the length it measured.
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

uint64_t Image::nextData(uint64_t pos) const {
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

uint64_t Image::nextHole(uint64_t pos) const {
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
  const AlignedBuffer buf(size);
  while (len > 0) {
    const size_t n = static_cast<size_t>(len < size ? len : size);
    readExact(pos, buf.data(), n);
    fn(buf.data(), n);
    pos += n;
    len -= n;
  }
}

bool parseImageFormat(const std::string& name, ImageFormat* format) {
  static const struct {
    const char* name;
    ImageFormat format;
  } kNames[] = {{"auto", ImageFormat::kAuto}, {"raw", ImageFormat::kRaw}};
  for (const auto& n : kNames) {
    if (name == n.name) {
      *format = n.format;
      return true;
    }
  }
  return false;
}

std::unique_ptr<Image> openImage(const std::string& path, ImageFormat /*format*/) {
  return std::make_unique<Image>(path);
}
