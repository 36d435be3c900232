// An image held in memory: the media is a span of bytes the caller owns
// and keeps alive. For scanning bytes that never were a file (the fuzzing
// targets, a caller of the library with a buffer), read as "raw".
#ifndef BFSSCAN_MEMORY_IMAGE_H
#define BFSSCAN_MEMORY_IMAGE_H

#include <cstddef>
#include <cstdint>

#include "image.h"

class MemoryImage : public Image {
 public:
  MemoryImage(const void* data, size_t size)
      : data_(static_cast<const char*>(data)), size_(size) {}

  const char* formatName() const override { return "raw"; }
  int64_t length() const override { return static_cast<int64_t>(size_); }
  // No file on any device is this image.
  bool isSameFile(dev_t, ino_t) const override { return false; }
  size_t readUpTo(uint64_t pos, char* buf, size_t n) const override;
  const char* inPlace(uint64_t pos, size_t& n) const override;

 private:
  const char* data_;
  size_t size_;
};

#endif  // BFSSCAN_MEMORY_IMAGE_H
