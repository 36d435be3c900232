// Ranges of the image already known to have some property, so that later
// file systems whose tables or directories cover them pass over them
// instead of reading them again: runs of unused records of one size (inode
// slots of 62 bytes, directory entries of 16, whose inode number is zero),
// kept apart per alignment (image offset modulo the record size), since a
// run says nothing about records that straddle its positions; or, with a
// size of 1, ranges already read whole. Bounded: when full, the shortest
// range gives way to a longer one (what is forgotten is simply read again).
#ifndef BFSSCAN_OFFSET_RUNS_H
#define BFSSCAN_OFFSET_RUNS_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

class OffsetRuns {
 public:
  explicit OffsetRuns(uint32_t recordSize) : size_(recordSize) {}

  // The end of the known range that holds the record at pos, or pos.
  uint64_t skipFrom(uint64_t pos) const;
  // The start of the first known range of pos's alignment after pos, or
  // UINT64_MAX.
  uint64_t nextStart(uint64_t pos) const;
  // The records at first, first + size, ... before end are unused.
  void add(uint64_t first, uint64_t end);

 private:
  static constexpr size_t kMaxRuns = 16384;  // about 1.5 MiB

  // (length, start) of every range, shortest first.
  using ByLength = std::set<std::pair<uint64_t, uint64_t>>;
  void erase(std::map<uint64_t, uint64_t>& runs, std::map<uint64_t, uint64_t>::iterator it);

  uint32_t size_;
  // start -> end, per alignment; made at the first range, so that a scan
  // that never adds one costs nothing.
  std::vector<std::map<uint64_t, uint64_t>> runs_;
  ByLength byLength_;
};

#endif  // BFSSCAN_OFFSET_RUNS_H
