// Writes big-endian BFS images: the raw records with any field values (for
// tests of damaged and hostile images), and consistent file systems laid out
// from a list of files (for users, the demo and the benchmarks).
#ifndef MKBFS_IMAGE_BUILDER_H
#define MKBFS_IMAGE_BUILDER_H

#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace mkbfs {

// Something the format cannot store, or a file that cannot be written.
class BuildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Inode {
  uint16_t ino = 0;
  uint32_t sblock = 0;
  uint32_t eblock = 0;
  uint32_t eoffset = 0;
  uint32_t type = 1;  // 1 regular, 2 directory
  uint32_t mode = 0100644;
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint32_t nlink = 1;
  uint32_t atime = 0;
  uint32_t mtime = 0;
  uint32_t ctime = 0;
};

struct DirEntry {
  uint16_t ino = 0;
  std::string name;  // up to 14 bytes, stored NUL-padded
};

// What a file's inode records besides its extent; unset fields keep the
// defaults of Inode (mode 0100644, owner 0, times 0).
struct Attributes {
  std::optional<uint32_t> mode;  // permission bits; a mode without type bits gets 0100000
  std::optional<uint32_t> uid, gid;
  std::optional<uint32_t> atime, mtime, ctime;  // seconds since 1970
};

struct File {
  std::string name;
  std::string data;
  Attributes attributes = Attributes();
};

// Applies the attributes that are set to inode.
void applyAttributes(const Attributes& attributes, Inode& inode);

// Encoders of the on-disk records.
std::string superblock(uint32_t start, uint32_t end, uint32_t magic = 0x1BADFACE);
std::string inodeSlot(const Inode& inode);
std::string dirEntries(const std::vector<DirEntry>& entries);
// Offset of the slot of inode ino from its file system's base.
uint32_t slotOffset(uint32_t ino);
// The inode of a file stored from block sblock on with the given length.
Inode fileInode(uint16_t ino, uint32_t sblock, uint64_t length);

// An image file written at any offset; holes stay sparse.
class ImageWriter {
 public:
  explicit ImageWriter(const std::string& path, bool truncate = true);
  ~ImageWriter();
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;

  void write(uint64_t pos, const std::string& bytes);
  // Grows the image to at least len bytes.
  void extendTo(uint64_t len);
  // Cuts or grows the image to exactly len bytes.
  void setLength(uint64_t len);
  uint64_t length() const;

 private:
  std::string path_;
  int fd_;
};

// Where writeFileSystem put things, as offsets from the base.
struct Layout {
  uint32_t start = 0;  // end of the inode table
  uint32_t end = 0;    // last byte of the file system
  std::vector<uint32_t> sblocks;  // first block of each file, in order
};

// Traces to leave in a file system, for tests of recovery.
struct Traces {
  uint32_t freeBlocks = 0;  // free blocks left after the last file
  // Written at the start of the free blocks and into the slack of every
  // file (as much of it as fits).
  std::string marker;
  // Files whose inode slot gets inode number 0 (its other fields kept),
  // and files whose directory entry gets inode number 0 (its name kept).
  std::set<std::string> clearInode, clearEntry;
};

// Checks that the files can be stored: names of 1 to 14 bytes without "/",
// not "." or "..", no two alike; no empty file; everything within the
// 32-bit offsets and 16-bit inode numbers. Throws BuildError.
void checkFiles(const std::vector<File>& files);

// Writes a consistent file system holding files at base (a multiple of
// 512): inode 2 the root directory with "." and ".." and one entry per
// file, one inode per file from 3 on, files in contiguous blocks.
Layout writeFileSystem(ImageWriter& image, uint64_t base, const std::vector<File>& files,
                       const Traces& traces = Traces());

}  // namespace mkbfs

#endif  // MKBFS_IMAGE_BUILDER_H
