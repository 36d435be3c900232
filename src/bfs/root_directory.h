// The root directory of one file system and the name table it gives: every
// entry in use is reported; each entry for a file sets that inode's name,
// a later entry replacing an earlier one.
#ifndef BFSSCAN_ROOT_DIRECTORY_H
#define BFSSCAN_ROOT_DIRECTORY_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "broken_runs.h"
#include "image.h"
#include "inode_table.h"
#include "offset_runs.h"
#include "scan_sink.h"
#include "stop.h"

class NameTable {
 public:
  // The name of inode ino, empty when no entry names it.
  std::string lookup(uint64_t ino) const;
  // name: at most 14 bytes, as a directory entry gives it.
  void set(uint16_t ino, const std::string& name);

 private:
  // Entries carry 16-bit inode numbers and names of at most 14 bytes: a
  // table of pages of 32 inode numbers holds them all (under 1 MiB), each
  // page made at the first name among its numbers, and the index of the
  // pages grown to the highest one named, so that a directory of a few
  // names costs a few hundred bytes and a table without names nothing.
  struct Name {
    uint8_t length;
    char bytes[BFS_DIRNAMELEN];
  };
  static constexpr size_t kPageSize = 32;
  struct Page {
    Name names[kPageSize];
  };
  std::vector<std::unique_ptr<Page>> pages_;
};

// What the directories of earlier file systems showed: the ranges already
// read whole, and the runs of free entries (directory entries all lie at
// multiples of 16 in the image).
struct DirectoryMemo {
  OffsetRuns read{1};
  OffsetRuns freeEntries{BFS_DIRENTSIZE};
};

// Reads the root directory (the directory inode root) of the file system at
// base and walks its 16-byte entries; a trailing partial entry is ignored.
// Every entry in use goes to sink, but none before the whole directory
// has been read. What memo
// knows (and the holes of a sparse image) is not read again, so that
// directories that cover the same bytes cost little. Throws ReadFailure or
// InconsistentFileSystem, or Interrupted when stop asks. With salvage, an
// entry that breaks a condition is told there and left out instead, and
// the other entries are read; a broken entry that is the start of a
// superblock (the directory runs into another file system) ends the walk.
NameTable readRootDirectory(const Image& image, int64_t base, const bfsDirent& root,
                            const InodeTable& inodes, DirectoryMemo& memo, ScanSink& sink,
                            const StopToken* stop, BrokenRuns* salvage = nullptr);

#endif  // BFSSCAN_ROOT_DIRECTORY_H
