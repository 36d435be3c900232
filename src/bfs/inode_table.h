// The inode table of one file system: every slot from 2 up to the end of
// the table is read, each inode in use is reported and checked against the
// shape of a flat file system (a root directory in slot 2, regular files
// with one link in the others). Unused slots print nothing.
//
// Memory stays bounded whatever the table claims or holds: up to a limit
// the inodes in use are kept; past it, forEachInUse decodes the table a
// second time, silently. Runs of unused slots that one file system's table
// showed are remembered (OffsetRuns), so that the tables of later file
// systems that cover the same bytes do not read them again.
#ifndef BFSSCAN_INODE_TABLE_H
#define BFSSCAN_INODE_TABLE_H

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <deque>

#include "broken_runs.h"
#include "image.h"
#include "sys/fs/bfs.h"
#include "offset_runs.h"
#include "scan_sink.h"
#include "stop.h"

class InodeTable {
 public:
  // An inode in use and its slot.
  struct Entry {
    uint32_t slot;
    bfsDirent inode;
  };

  // Loads the table of the file system at base, sending every inode in use
  // to sink and checking it. Throws ReadFailure, InconsistentFileSystem or
  // Interrupted (when stop asks). With salvage, a slot that breaks a
  // condition is told there and left out instead, and the rest is read.
  static InodeTable load(const Image& image, int64_t base, const bfsSuperBlock& bsb,
                         OffsetRuns& unused, ScanSink& sink, const StopToken* stop,
                         BrokenRuns* salvage = nullptr);

  // The slot count the superblock claims, counting the never-read slots 0
  // and 1 (not what the image holds).
  uint64_t slotCount() const { return slotCount_; }
  // The root directory (slot 2), or nullptr when that slot is unused.
  const bfsDirent* root() const { return hasRoot_ ? &root_ : nullptr; }
  // Whether slot 2 was in use but broken (salvaged tables only).
  bool rootBroken() const { return rootBroken_; }
  // Whether slot (a 16-bit inode number of a directory entry) is in use.
  bool inUse(uint16_t slot) const { return used16_[slot]; }
  // Calls fn for every inode in use, in slot order. Throws ReadFailure when
  // the table must be read again and cannot be.
  void forEachInUse(const std::function<void(const Entry&)>& fn) const;

 private:
  InodeTable(const Image& image, int64_t base, uint64_t slotCount);
  void add(uint32_t slot, const bfsDirent& bd);
  // Reads slots [from, to) and hands each slot in use to fn, skipping runs
  // known to be unused. Returns normally when every slot was read.
  void walk(uint64_t to, OffsetRuns* unused, const std::function<void(uint32_t, const char*)>& fn) const;

  static constexpr size_t kMaxKept = 32768;  // inodes kept in memory: 2 MiB

  const Image* image_;
  int64_t base_;
  uint64_t slotCount_;
  bool hasRoot_ = false;
  bool rootBroken_ = false;
  bfsDirent root_;
  std::bitset<65536> used16_;
  OffsetRuns* unused_ = nullptr;
  const StopToken* stop_ = nullptr;
  std::deque<Entry> kept_;  // grows without copying what it holds
  bool dropped_ = false;  // more inodes in use than kept: decode again
};

#endif  // BFSSCAN_INODE_TABLE_H
