// The space of a file system's data area that no inode in use owns: the
// data area runs from the superblock's start field to its end field (both
// inclusive); an inode in use owns its blocks from its first to its last.
// The free runs are the complement of the union of those extents, so that
// overlapping extents, or extents that reach outside the area, are noted
// and still give an exact answer. A pure computation over decoded fields,
// in memory bounded by the area (one bit per block: at most 1 MiB).
#ifndef BFSSCAN_FREE_SPACE_H
#define BFSSCAN_FREE_SPACE_H

#include <cstdint>
#include <functional>
#include <vector>

// A run of bytes, as file-system offsets (64-bit: a block number times 512
// may pass 2^32).
struct ByteRun {
  uint64_t offset = 0;
  uint64_t length = 0;
};

class SpaceMap {
 public:
  // The data area from start to end, both inclusive (start < end).
  SpaceMap(uint32_t start, uint32_t end);

  // The blocks first to last (inclusive) belong to an inode in use.
  void addExtent(uint32_t first, uint32_t last);
  // Whether two extents shared a block; whether one reached outside the area.
  bool overlap() const { return overlap_; }
  bool outside() const { return outside_; }
  // Whether any of the blocks first to last belongs to an extent added.
  bool owned(uint32_t first, uint32_t last) const;
  // Every maximal run of the area that no extent covers, in offset order.
  void forEachFreeRun(const std::function<void(const ByteRun&)>& fn) const;

 private:
  bool isSet(uint64_t i) const { return (bits_[i >> 6] >> (i & 63)) & 1; }

  uint32_t start_, end_;
  uint64_t firstBlock_, lastBlock_;  // the blocks the area touches
  std::vector<uint64_t> bits_;       // one bit per block, from firstBlock_
  std::vector<uint64_t> full_;       // one bit per 64 words of bits_ that are all set
  std::vector<uint64_t> any_;        // one bit per 64 words of bits_ of which one is not zero
  bool overlap_ = false;
  bool outside_ = false;
};

// The slack of a file whose last byte is at lastByte: from the byte after
// it to the end of the block that holds it, cut to the data area [start,
// end]; length 0 when nothing is left.
ByteRun slackOf(uint32_t lastByte, uint32_t start, uint32_t end);

#endif  // BFSSCAN_FREE_SPACE_H
