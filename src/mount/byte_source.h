// What a mount reads file bytes from: the image, opened for the whole
// mount and read at the moment of each request.
#ifndef BFSSCAN_BYTE_SOURCE_H
#define BFSSCAN_BYTE_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "bfsscan/image.h"

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to n bytes at pos; fewer only where the image ends. Throws
  // bfsscan::ImageError.
  virtual size_t read(uint64_t pos, char* buffer, size_t n) = 0;
};

// The image itself; one read at a time (container libraries keep state).
class ImageByteSource : public ByteSource {
 public:
  explicit ImageByteSource(const bfsscan::Image& image) : image_(image) {}
  size_t read(uint64_t pos, char* buffer, size_t n) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return image_.read(pos, buffer, n);
  }

 private:
  const bfsscan::Image& image_;
  std::mutex mutex_;
};

#endif  // BFSSCAN_BYTE_SOURCE_H
