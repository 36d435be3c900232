// Traces of deleted files: an unused inode slot (inode number 0) whose
// other fields still describe a regular file inside the data area (a
// deleted candidate), and a root-directory entry whose inode number is 0
// but whose name bytes are not all zero (a deleted name). Candidates only:
// nothing on disk says the bytes are still those of the file. The decoders
// are pure functions over raw records; the readers walk a table or a
// directory once more, in bounded pieces.
#ifndef BFSSCAN_DELETED_H
#define BFSSCAN_DELETED_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "image.h"
#include "stop.h"
#include "sys/fs/bfs.h"

struct DeletedInode {
  uint32_t slot = 0;
  uint32_t firstBlock = 0, lastBlock = 0, lastByte = 0;
  uint32_t mode = 0, uid = 0, gid = 0, nlink = 0, atime = 0, mtime = 0, ctime = 0;
  uint32_t first() const { return firstBlock * BFS_BSIZE; }
  uint64_t length() const { return static_cast<uint64_t>(lastByte - first()) + 1; }
};

// The candidate in a raw 62-byte slot of a file system whose data area is
// [start, end]: its inode number is 0, its extent meets the three
// conditions of an inode in use, lies inside the area, and its type is
// regular. Nothing otherwise.
std::optional<DeletedInode> deletedCandidate(const char* slot, uint32_t slotNumber,
                                             uint32_t start, uint32_t end);

// The name of a raw 16-byte directory entry whose inode number is 0 and
// whose name bytes are not all zero (its 14 bytes less trailing zero bytes);
// nothing otherwise.
std::optional<std::string> deletedName(const char* entry);

// Reads the slots 2 up to slotCount of the file system at base, the part
// of the table that lies inside the image, and hands every candidate to fn.
// Throws ReadFailure.
void forEachDeletedCandidate(const Image& image, int64_t base, uint64_t slotCount, uint32_t start,
                             uint32_t end, const std::function<void(const DeletedInode&)>& fn,
                             const StopToken* stop = nullptr);

// Reads the root directory root of the file system at base and hands the
// index and name of every deleted name to fn. Throws ReadFailure.
void forEachDeletedName(const Image& image, int64_t base, const bfsDirent& root,
                        const std::function<void(uint64_t, const std::string&)>& fn,
                        const StopToken* stop = nullptr);

#endif  // BFSSCAN_DELETED_H
