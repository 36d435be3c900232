// One file system read on its own, at an offset known beforehand: its
// superblock, the inode slots asked about, the root directory when names
// are wanted, and one file's bytes. Nothing else of the image is read, so
// that looking at one file of a large image costs a few reads.
#ifndef BFSSCAN_ONE_FILE_SYSTEM_H
#define BFSSCAN_ONE_FILE_SYSTEM_H

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bfsscan/events.h"
#include "image.h"
#include "sys/fs/bfs.h"

// Why a file cannot be given: what() is the text after "bfsscan: ".
class FileSystemError : public std::runtime_error {
 public:
  enum Kind { kNoFileSystem, kNoInode, kNotRegular, kOutside, kUnreadable };
  FileSystemError(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// One inode slot as read: an inode in use, or a deleted candidate (an
// unused slot whose fields still describe a regular file in the data area).
struct SlotRecord {
  enum State { kInUse, kDeleted };
  uint32_t slot = 0;
  State state = kInUse;
  bfsscan::Inode inode;  // as far as decoded; a candidate's number is 0
  bfsDirent::Stage stage = bfsDirent::kDecoded;
  std::vector<std::string> broken;  // the consistency conditions it violates
  uint64_t imageOffset = 0;         // of its first byte
  uint64_t length = 0;              // bytes
};

class OneFileSystem {
 public:
  // Reads and checks the superblock at base. Throws FileSystemError
  // (kNoFileSystem) when no file system starts there, ReadFailure.
  OneFileSystem(const Image& image, int64_t base);

  int64_t base() const { return base_; }
  uint32_t start() const { return start_; }  // end of the inode table
  uint32_t end() const { return end_; }      // last byte of the file system
  uint64_t slotCount() const { return slotCount_; }

  // The inode in use in slot ino. Throws FileSystemError (kNoInode) when
  // the slot lies outside the table or is unused, ReadFailure.
  SlotRecord inode(uint32_t ino) const;
  // The deleted candidate in slot. Throws as inode().
  SlotRecord deleted(uint32_t slot) const;
  // The entries of the root directory naming inode ino (reads the root
  // directory; none when there is no root). Throws ReadFailure.
  std::vector<std::string> namesOf(uint32_t ino) const;

  // Throws FileSystemError when r is no regular file whose bytes lie
  // inside the image (kNotRegular, kOutside).
  void checkReadable(const SlotRecord& r) const;
  // Reads up to n bytes of r's file from byte pos of it; fewer only at its
  // end. Throws FileSystemError (kUnreadable).
  size_t read(const SlotRecord& r, uint64_t pos, char* buffer, size_t n) const;
  // Hands r's bytes to fn in order, in pieces of at most 1 MiB. When some
  // cannot be read, every byte before them has been handed over; then
  // throws FileSystemError (kUnreadable).
  void forEachPiece(const SlotRecord& r, const std::function<void(const char*, size_t)>& fn) const;

 private:
  // The raw slot, checked to lie in the table. Throws as inode().
  void readSlot(uint32_t slot, char* raw, const char* what) const;
  [[noreturn]] void unreadable(const SlotRecord& r, uint64_t at, const ReadFailure& f) const;

  const Image& image_;
  int64_t base_;
  uint32_t start_ = 0, end_ = 0;
  uint64_t slotCount_ = 0;
};

#endif  // BFSSCAN_ONE_FILE_SYSTEM_H
