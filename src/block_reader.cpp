#include "block_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "sys/fs/bfs.h"

namespace {

constexpr uint64_t kPage = 4096;

bool hasMagic(const char* p) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] == 0x1B && b[1] == 0xAD && b[2] == 0xFA && b[3] == 0xCE;
}

// The search over a mapped window, run under a SIGBUS guard: plain data only.
struct Search {
  const char* data;  // the block at offset 0
  size_t blocks;     // whole blocks to look at
  size_t found;      // index of the block with the magic, or blocks
  char* copy;        // receives that block
};

void search(void* ctx) {
  Search& s = *static_cast<Search*>(ctx);
  s.found = s.blocks;
  for (size_t i = 0; i < s.blocks; ++i) {
    const char* b = s.data + i * BFS_BSIZE;
    if (hasMagic(b)) {
      std::memcpy(s.copy, b, BFS_BSIZE);
      s.found = i;
      return;
    }
  }
}

}  // namespace

BlockReader::BlockReader(const Image& image)
    : image_(image), window_(image.fd()), buf_(kChunk) {}

bool BlockReader::next(int64_t& s) {
  const uint64_t pos = static_cast<uint64_t>(s);
  const uint64_t length = static_cast<uint64_t>(image_.length());
  if (pos + BFS_BSIZE > length) throw ReadFailure(ReadFailure::kEndOfImage);
  // A hole holds no magic.
  const uint64_t data = image_.nextData(pos);
  if (data > pos) {
    s = static_cast<int64_t>(std::min(data, length) / BFS_BSIZE * BFS_BSIZE);
    if (static_cast<uint64_t>(s) == pos) s += BFS_BSIZE;
    return false;
  }
  if (window_.usable() && pos >= blockwiseUntil_) {
    const uint64_t hole = image_.nextHole(pos);
    if (nextMapped(s, std::min(hole, length))) return true;
    if (static_cast<uint64_t>(s) != pos) return false;
  }
  return nextRead(s);
}

// Searches [s, end) through a mapping; false with s unchanged when the
// mapping cannot be made or faulted, so that the caller reads instead.
bool BlockReader::nextMapped(int64_t& s, uint64_t end) {
  const uint64_t pos = static_cast<uint64_t>(s);
  const uint64_t first = pos / kPage * kPage;
  uint64_t last = std::min<uint64_t>(first + MappedWindow::kSize, end);
  if (last < pos + BFS_BSIZE) last = std::min<uint64_t>(pos + BFS_BSIZE, image_.length());
  const size_t blocks = static_cast<size_t>((last - pos) / BFS_BSIZE);
  if (blocks == 0) return false;
  const size_t mapLen = static_cast<size_t>((pos + blocks * BFS_BSIZE + kPage - 1) / kPage * kPage - first);
  const char* map = window_.map(first, mapLen);
  if (!map) return false;
  Search search_{map + (pos - first), blocks, 0, copy_};
  if (!MappedWindow::guarded(search, &search_)) {
    window_.unmap();
    return false;
  }
  if (search_.found < blocks) {
    s += static_cast<int64_t>(search_.found * BFS_BSIZE);
    block_ = copy_;
    return true;
  }
  s += static_cast<int64_t>(blocks * BFS_BSIZE);
  return false;
}

bool BlockReader::nextRead(int64_t& s) {
  const uint64_t pos = static_cast<uint64_t>(s);
  if (pos < bufPos_ || pos - bufPos_ + BFS_BSIZE > bufLen_) fill(pos);
  for (uint64_t at = pos; at - bufPos_ + BFS_BSIZE <= bufLen_; at += BFS_BSIZE) {
    const char* b = buf_.data() + (at - bufPos_);
    if (hasMagic(b)) {
      s = static_cast<int64_t>(at);
      block_ = b;
      return true;
    }
  }
  s = static_cast<int64_t>(bufPos_ + bufLen_ / BFS_BSIZE * BFS_BSIZE);
  return false;
}

void BlockReader::fill(uint64_t pos) {
  bufPos_ = pos;
  bufLen_ = 0;
  if (pos >= blockwiseUntil_) {
    try {
      bufLen_ = image_.readUpTo(pos, buf_.data(), kChunk);
    } catch (const ReadFailure& failure) {
      if (failure.kind() != ReadFailure::kSystemError) throw;
      blockwiseUntil_ = pos + kChunk;
    }
  }
  if (pos < blockwiseUntil_) bufLen_ = image_.readUpTo(pos, buf_.data(), BFS_BSIZE);
  if (bufLen_ < BFS_BSIZE) throw ReadFailure(ReadFailure::kEndOfImage);
}
