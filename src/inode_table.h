// The inode table of one file system: every slot from 2 up to the end of
// the table is read, reported and checked against the shape of a flat file
// system (a root directory in slot 2, regular files with one link in the
// others). Only the inodes in use are kept, so memory follows what the
// image holds, not what the superblock claims.
#ifndef BFSSCAN_INODE_TABLE_H
#define BFSSCAN_INODE_TABLE_H

#include <cstdint>
#include <deque>
#include <utility>

#include "image.h"
#include "sys/fs/bfs.h"

class InodeTable {
 public:
  using Entry = std::pair<uint32_t, bfsDirent>;  // slot number, inode

  // Number of slots, counting the never-read slots 0 and 1.
  uint64_t size() const { return size_; }
  // The inode in use in slot ino, or nullptr for an unused slot.
  const bfsDirent* find(uint64_t ino) const;
  // Inodes in use, in slot order.
  const std::deque<Entry>& inUse() const { return used_; }

  // Prints "Scanning inodes..." and loads the table of the file system at
  // base. Throws ReadFailure or InconsistentFileSystem.
  static InodeTable load(const Image& image, int64_t base, const bfsSuperBlock& bsb);

 private:
  explicit InodeTable(uint64_t size) : size_(size) {}
  void add(uint32_t slot, const bfsDirent& bd);

  uint64_t size_;
  std::deque<Entry> used_;  // grows without copying what it holds
};

#endif  // BFSSCAN_INODE_TABLE_H
