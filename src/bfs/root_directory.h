// The root directory of one file system and the name table it gives: every
// entry in use is reported; each entry for a file sets that inode's name,
// a later entry replacing an earlier one.
#ifndef BFSSCAN_ROOT_DIRECTORY_H
#define BFSSCAN_ROOT_DIRECTORY_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
  // fixed table holds them all (under 1 MiB), in pages of 256 inode numbers
  // made at the first name among them, so that a directory of a few names
  // costs a few KiB; the index of the pages is made at the first name, so
  // that a table without names costs nothing to make, move or drop.
  struct Name {
    uint8_t length;
    char bytes[BFS_DIRNAMELEN];
  };
  static constexpr size_t kPageSize = 256;
  struct Page {
    Name names[kPageSize];
  };
  static constexpr size_t kPages = (UINT16_MAX + 1) / kPageSize;
  std::vector<std::unique_ptr<Page>> pages_;  // empty, or kPages of them
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
// InconsistentFileSystem, or Interrupted when stop asks.
NameTable readRootDirectory(const Image& image, int64_t base, const bfsDirent& root,
                            const InodeTable& inodes, DirectoryMemo& memo, ScanSink& sink,
                            const StopToken* stop);

#endif  // BFSSCAN_ROOT_DIRECTORY_H
