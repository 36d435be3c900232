// A page-aligned buffer for reads of the image: the kernel copies into an
// aligned destination much faster than into one a few bytes off a page.
#ifndef BFSSCAN_ALIGNED_BUFFER_H
#define BFSSCAN_ALIGNED_BUFFER_H

#include <cstddef>
#include <cstdlib>
#include <new>

class AlignedBuffer {
 public:
  static constexpr size_t kAlignment = 4096;

  explicit AlignedBuffer(size_t size) : size_(size) {
    const size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
    data_ = static_cast<char*>(std::aligned_alloc(kAlignment, rounded ? rounded : kAlignment));
    if (!data_) throw std::bad_alloc();
  }
  ~AlignedBuffer() { std::free(data_); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;

  char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  char* data_;
  size_t size_;
};

#endif  // BFSSCAN_ALIGNED_BUFFER_H
