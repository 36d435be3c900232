// Reads of an image held in memory.
#include "memory_image.h"

#include <cstring>

size_t MemoryImage::readUpTo(uint64_t pos, char* buf, size_t n) const {
  const char* bytes = inPlace(pos, n);
  if (n > 0) std::memcpy(buf, bytes, n);
  return n;
}

const char* MemoryImage::inPlace(uint64_t pos, size_t& n) const {
  if (pos >= size_) {
    n = 0;
    return data_ != nullptr ? data_ + size_ : "";  // never null: the bytes are in place
  }
  const size_t left = size_ - static_cast<size_t>(pos);
  if (n > left) n = left;
  return data_ + pos;
}
