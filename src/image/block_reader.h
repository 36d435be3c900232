// Finds the blocks of the image that start with the magic, in scan order.
// Only those matter: a block without the magic is passed over in silence.
// Holes of a sparse image are skipped; the rest is read in large
// page-aligned pieces. When a large read fails with an error of the
// system, that piece is read block by block, so that every block before a
// bad one is still examined. A large plain image is searched at the same
// time from its middle on a second thread (look_ahead.h). An image held in memory is searched in place, in
// pieces of the same size, with no buffer at all.
#ifndef BFSSCAN_BLOCK_READER_H
#define BFSSCAN_BLOCK_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "aligned_buffer.h"
#include "image.h"
#include "look_ahead.h"
#include "sys/fs/bfs.h"

class BlockReader {
 public:
  static constexpr size_t kChunk = 1 << 19;

  explicit BlockReader(const Image& image);

  // Searches one stretch of the image from block s (a multiple of 512) for
  // a block that starts with the magic. True with s at that block, whose
  // bytes block() then holds; false with s at the first block not searched
  // yet. Throws ReadFailure: kEndOfImage when no whole block is left at s,
  // kSystemError with s at a block that cannot be read, kShrunk.
  bool next(int64_t& s);
  const char* block() const { return block_; }

 private:
  void fill(uint64_t pos, size_t n);  // reads up to n <= piece_ bytes at pos

  const Image& image_;
  size_t piece_;                       // bytes read at a time
  std::unique_ptr<AlignedBuffer> buf_;  // made at the first read that needs it
  const char* data_ = nullptr;          // the piece at bufPos_, in buf_ or in place
  uint64_t bufPos_ = 0;
  size_t bufLen_ = 0;
  uint64_t blockwiseUntil_ = 0;  // read block by block below this offset
  uint64_t dataUntil_ = 0;       // no hole below this offset
  const char* block_ = nullptr;
  std::unique_ptr<LookAhead> ahead_;  // the second half's search, if any
  char found_[BFS_BSIZE];             // a block the search found, read again
};

#endif  // BFSSCAN_BLOCK_READER_H
