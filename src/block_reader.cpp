#include "block_reader.h"

#include "sys/fs/bfs.h"

BlockReader::BlockReader(const Image& image) : image_(image), buf_(new char[kChunk]) {}

const char* BlockReader::block(int64_t s) {
  const uint64_t pos = static_cast<uint64_t>(s);
  if (pos < bufPos_ || pos - bufPos_ + BFS_BSIZE > bufLen_) fill(pos);
  return buf_.get() + (pos - bufPos_);
}

void BlockReader::fill(uint64_t pos) {
  bufPos_ = pos;
  bufLen_ = 0;
  if (pos >= blockwiseUntil_) {
    try {
      bufLen_ = image_.readUpTo(pos, buf_.get(), kChunk);
    } catch (const ReadFailure& failure) {
      if (failure.kind() != ReadFailure::kSystemError) throw;
      blockwiseUntil_ = pos + kChunk;
    }
  }
  if (pos < blockwiseUntil_) bufLen_ = image_.readUpTo(pos, buf_.get(), BFS_BSIZE);
  if (bufLen_ < BFS_BSIZE) {
    throw ReadFailure(ReadFailure::kEndOfImage);
  }
}
