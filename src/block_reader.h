// Hands out the image's 512-byte blocks in scan order, read in large
// aligned chunks. When a large read fails with an error of the system, the
// rest of that chunk is read block by block, so that every block before a
// bad one is still examined.
#ifndef BFSSCAN_BLOCK_READER_H
#define BFSSCAN_BLOCK_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image.h"

class BlockReader {
 public:
  static constexpr size_t kChunk = 1 << 19;

  explicit BlockReader(const Image& image);
  // The 512 bytes at image offset s (a multiple of 512); throws ReadFailure
  // when the block cannot be read whole.
  const char* block(int64_t s);

 private:
  void fill(uint64_t pos);

  const Image& image_;
  std::unique_ptr<char[]> buf_;
  uint64_t bufPos_ = 0;
  size_t bufLen_ = 0;
  uint64_t blockwiseUntil_ = 0;  // read block by block below this offset
};

#endif  // BFSSCAN_BLOCK_READER_H
