// Reads of an image held in memory.
#include "memory_image.h"

#include <cstring>

size_t MemoryImage::readUpTo(uint64_t pos, char* buf, size_t n) const {
  if (pos >= size_) return 0;
  const size_t left = size_ - static_cast<size_t>(pos);
  if (n > left) n = left;
  if (n > 0) std::memcpy(buf, data_ + pos, n);
  return n;
}
