#include "block_reader.h"

#include <algorithm>

#include "sys/fs/bfs.h"

namespace {

bool hasMagic(const char* p) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] == 0x1B && b[1] == 0xAD && b[2] == 0xFA && b[3] == 0xCE;
}

}  // namespace

// No larger than the image (a block at least): a small image costs little.
BlockReader::BlockReader(const Image& image)
    : image_(image),
      piece_(static_cast<size_t>(std::min<uint64_t>(
          kChunk, std::max<uint64_t>(static_cast<uint64_t>(std::max<int64_t>(image.length(), 0)),
                                     BFS_BSIZE)))),
      ahead_(LookAhead::start(image)) {}

bool BlockReader::next(int64_t& s) {
  const uint64_t pos = static_cast<uint64_t>(s);
  const uint64_t length = static_cast<uint64_t>(image_.length());
  if (pos + BFS_BSIZE > length) throw ReadFailure(ReadFailure::kEndOfImage);
  for (;;) {
    if (ahead_ && pos >= ahead_->boundary()) {
      uint64_t at = pos;
      switch (ahead_->next(at)) {
        case LookAhead::Answer::kFound:
          // Read again, as the scan would have read it: where that fails
          // the scan reads on from here by itself.
          try {
            if (image_.readUpTo(at, found_, BFS_BSIZE) == BFS_BSIZE) {
              s = static_cast<int64_t>(at);
              block_ = found_;
              return true;
            }
          } catch (const ReadFailure&) {
          }
          ahead_.reset();
          s = static_cast<int64_t>(at);
          return false;
        case LookAhead::Answer::kNone:
          s = static_cast<int64_t>(std::min(at, length));
          return false;
        case LookAhead::Answer::kOwnRead:
          if (pos >= ahead_->boundary()) ahead_.reset();  // its search is over
          break;
      }
    }
    // A hole holds no magic. Where the data goes on is asked once for each
    // stretch of data, not for every piece.
    if (pos >= dataUntil_) {
      const uint64_t data = image_.nextData(pos);
      if (data > pos) {
        s = static_cast<int64_t>(std::min(data, length) / BFS_BSIZE * BFS_BSIZE);
        if (static_cast<uint64_t>(s) == pos) s += BFS_BSIZE;
        return false;
      }
      dataUntil_ = image_.nextHole(pos);
    }
    if (pos < bufPos_ || pos - bufPos_ + BFS_BSIZE > bufLen_) {
      // Below the second thread's part only.
      const size_t n = ahead_ ? ahead_->claim(pos, piece_) : piece_;
      if (n == 0) continue;
      fill(pos, n);
    }
    for (uint64_t at = pos; at - bufPos_ + BFS_BSIZE <= bufLen_; at += BFS_BSIZE) {
      const char* b = data_ + (at - bufPos_);
      if (hasMagic(b)) {
        s = static_cast<int64_t>(at);
        block_ = b;
        return true;
      }
    }
    s = static_cast<int64_t>(bufPos_ + bufLen_ / BFS_BSIZE * BFS_BSIZE);
    return false;
  }
}

void BlockReader::fill(uint64_t pos, size_t n) {
  bufPos_ = pos;
  bufLen_ = n;
  if ((data_ = image_.inPlace(pos, bufLen_)) != nullptr) {
    if (bufLen_ < BFS_BSIZE) throw ReadFailure(ReadFailure::kEndOfImage);
    return;
  }
  bufLen_ = 0;
  if (!buf_) buf_ = std::make_unique<AlignedBuffer>(piece_);
  data_ = buf_->data();
  if (pos >= blockwiseUntil_) {
    try {
      bufLen_ = image_.readUpTo(pos, buf_->data(), n);
    } catch (const ReadFailure& failure) {
      // Block by block up to the one that fails: a container's missing end
      // and an image that became shorter too, so that every block it still
      // holds is examined before the failure is met.
      if (failure.kind() != ReadFailure::kSystemError &&
          failure.kind() != ReadFailure::kMediaEnds && failure.kind() != ReadFailure::kShrunk) {
        throw;
      }
      blockwiseUntil_ = pos + n;
    }
  }
  if (pos < blockwiseUntil_) bufLen_ = image_.readUpTo(pos, buf_->data(), BFS_BSIZE);
  if (bufLen_ < BFS_BSIZE) throw ReadFailure(ReadFailure::kEndOfImage);
}
