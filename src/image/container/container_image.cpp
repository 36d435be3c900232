// What every container family shares: bounds, the files of the image, and
// the text of a library's error.
#include "container_image.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>

bool ContainerImage::isSameFile(dev_t dev, ino_t ino) const {
  for (const auto& file : files_) {
    if (file.first == dev && file.second == ino) return true;
  }
  return false;
}

void ContainerImage::setLength(uint64_t mediaSize) {
  if (mediaSize > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    throw ReadFailure(ReadFailure::kSystemError,
                      "media size " + std::to_string(mediaSize) + " is too large");
  }
  length_ = static_cast<int64_t>(mediaSize);
}

void ContainerImage::addFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw ReadFailure(ReadFailure::kSystemError, errno);
  files_.emplace_back(st.st_dev, st.st_ino);
}

void ContainerImage::setStoredEnd(uint64_t end, const std::string& why) {
  storedEnd_ = end;
  storedEndWhy_ = why;
}

void ContainerImage::setAllocation(std::unique_ptr<AllocationTable> table) {
  allocation_.reset();
  if (table) {
    allocation_ = std::make_unique<AllocationMap>(std::move(table),
                                                  static_cast<uint64_t>(length_));
  }
}

uint64_t ContainerImage::nextData(uint64_t pos) const {
  return allocation_ ? allocation_->nextData(pos) : Image::nextData(pos);
}

uint64_t ContainerImage::nextHole(uint64_t pos) const {
  return allocation_ ? allocation_->nextHole(pos) : Image::nextHole(pos);
}

FileReader containerFileReader(const std::string& path, uint64_t* fileSize) {
  const std::shared_ptr<RawImage> file = std::make_shared<RawImage>(path);
  *fileSize = static_cast<uint64_t>(file->length());
  return [file](uint64_t off, unsigned char* buf, size_t n) -> size_t {
    try {
      // A table in a hole of a sparse container file is zeros: not read.
      const uint64_t length = static_cast<uint64_t>(file->length());
      if (off <= length && n <= length - off && file->nextData(off) >= off + n) {
        std::memset(buf, 0, n);
        return n;
      }
      return file->readUpTo(off, reinterpret_cast<char*>(buf), n);
    } catch (const ReadFailure&) {
      return 0;
    }
  };
}

size_t ContainerImage::readUpTo(uint64_t pos, char* buf, size_t n) const {
  const uint64_t length = static_cast<uint64_t>(length_);
  if (n == 0) return 0;
  if (pos >= length) return 0;
  if (n > length - pos) n = static_cast<size_t>(length - pos);
  if (pos >= storedEnd_ || n > storedEnd_ - pos) {
    throw ReadFailure(ReadFailure::kMediaEnds, storedEndWhy_);
  }
  size_t done = 0;
  while (done < n) {
    const size_t got = readMedia(pos + done, buf + done, n - done);
    if (got == 0) throw ReadFailure(ReadFailure::kShrunk);
    done += got;
  }
  return done;
}

std::string libraryErrorText(const std::string& backtrace) {
  std::istringstream lines(backtrace);
  std::string line, innermost;
  while (std::getline(lines, line)) {
    const size_t reason = line.find("with error: ");
    if (reason != std::string::npos) {
      innermost = line.substr(reason + 12);
      break;
    }
    if (innermost.empty()) innermost = line;
  }
  const size_t colon = innermost.find(": ");
  if (colon != std::string::npos && innermost.find(' ') > colon) {
    innermost.erase(0, colon + 2);
  }
  while (!innermost.empty() &&
         (innermost.back() == '.' || innermost.back() == ' ' || innermost.back() == '\r')) {
    innermost.pop_back();
  }
  return innermost;
}

void checkImageFile(const std::string& what, const std::string& path) {
  struct stat st;
  std::string why;
  if (::stat(path.c_str(), &st) != 0) {
    why = std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    why = std::strerror(EISDIR);
  } else if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    why = "not a regular file or disk";
  }
  if (!why.empty()) throw ReadFailure(ReadFailure::kSystemError, what + " " + path + ": " + why);
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
