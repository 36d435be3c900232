// One file system of an image, opened at its byte offset (known from a
// scan's FileSystemEvent, or given) without scanning the image: its inodes
// one at a time, the names the root directory gives them, and the bytes of
// a file, read from the image on demand.
#ifndef BFSSCAN_FILE_SYSTEM_H_PUBLIC
#define BFSSCAN_FILE_SYSTEM_H_PUBLIC

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bfsscan/events.h"
#include "bfsscan/export.h"
#include "bfsscan/image.h"

namespace bfsscan {

// One file (or the file system) cannot be given: what() says why, in the
// words of the command's error line (without "bfsscan: ").
class BFSSCAN_API FileError : public std::runtime_error {
 public:
  enum Kind {
    kNoFileSystem,  // no accepted superblock at the offset
    kNoInode,       // the slot lies outside the table, or is not in use
    kNotRegular,    // a directory, or an inode whose type could not be decoded
    kOutside,       // the file's bytes run past the end of the image
    kUnreadable,    // the image could not be read
  };
  FileError(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// An inode slot as read: an inode in use, or a deleted candidate.
struct FileInfo {
  int64_t fs = 0;        // the file system's offset
  uint32_t slot = 0;     // the slot number (the inode number of an inode in use)
  bool deleted = false;  // a deleted candidate (its inode number is 0)
  Inode inode;           // the fields, as far as they could be decoded
  uint64_t imageOffset = 0;  // of the first byte
  uint64_t length = 0;
  std::vector<std::string> broken;  // the consistency conditions it violates
};

class BFSSCAN_API FileSystem {
 public:
  // Opens the file system whose superblock is at offset of image, which
  // must outlive it. Throws FileError (kNoFileSystem, kUnreadable).
  static std::unique_ptr<FileSystem> open(const Image& image, int64_t offset);
  static std::unique_ptr<FileSystem> open(const Image& image, const FileSystemEvent& event);
  ~FileSystem();
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;

  int64_t offset() const;
  uint64_t slotCount() const;  // as the superblock gives it, slots 0 and 1 included

  // The inode in use in slot ino, or the deleted candidate in slot. Throw
  // FileError (kNoInode, kUnreadable).
  FileInfo file(uint32_t ino) const;
  FileInfo deleted(uint32_t slot) const;
  // The names the root directory's entries give inode ino. Throws
  // FileError (kUnreadable).
  std::vector<std::string> names(uint32_t ino) const;

  // Up to n bytes of the file f from byte pos of it (fewer only at its end).
  // Throws FileError (kNotRegular, kOutside, kUnreadable).
  size_t read(const FileInfo& f, uint64_t pos, char* buffer, size_t n) const;
  // The whole file, as extraction writes it. Throws as above.
  std::string read(const FileInfo& f) const;
  // The whole file in pieces of at most 1 MiB, in order; when some bytes
  // cannot be read, fn has had every byte before them. Throws as above.
  void read(const FileInfo& f, const std::function<void(const char*, size_t)>& fn) const;

 private:
  struct Impl;
  explicit FileSystem(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace bfsscan

#endif  // BFSSCAN_FILE_SYSTEM_H_PUBLIC
