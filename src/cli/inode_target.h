// The file named on the command line by --cat and --stat: FS:INODE, the
// byte offset of a file system in the image and an inode number, or
// FS:slot=N, a slot of its table holding a deleted candidate. Each number
// is decimal or 0x hexadecimal.
#ifndef BFSSCAN_INODE_TARGET_H
#define BFSSCAN_INODE_TARGET_H

#include <cstdint>
#include <string>

struct InodeTarget {
  int64_t fs = 0;
  uint32_t number = 0;   // the inode, or the slot
  bool deleted = false;  // FS:slot=N
};

// Parses text; false when it is not of either form.
bool parseInodeTarget(const std::string& text, InodeTarget* target);

// A byte offset, decimal or 0x hexadecimal, below 2^63; false otherwise.
bool parseOffset(const std::string& text, int64_t* offset);

#endif  // BFSSCAN_INODE_TARGET_H
