// On-disk records of the BFS boot file system (big-endian System V), the
// format's constants, and the wrapper classes that decode and check them. Every multi-byte integer on disk is big-endian; a wrapper converts
// in place only the fields it uses, the rest stay in disk byte order.
#ifndef SYS_FS_BFS_H
#define SYS_FS_BFS_H

#include <cstdint>
#include <string>

#include "bfsscan/events.h"

constexpr uint32_t BFS_MAGIC = 0x1BADFACE;
constexpr uint32_t BFS_BSIZE = 512;  // block size and scan step
constexpr uint32_t BFS_INODESIZE = 62;
constexpr uint32_t BFS_DIRENTSIZE = 16;
constexpr uint32_t BFS_DIRNAMELEN = 14;
constexpr uint32_t BFS_ROOTINO = 2;
constexpr uint32_t BFS_VREG = 1;
constexpr uint32_t BFS_VDIR = 2;

// Signed 64-bit image offset, like a stream position.
using bfs_pos_t = int64_t;

#pragma pack(push, 1)

// The superblock, the first 512 bytes of a file system.
struct bdsuper {
  uint32_t bdsup_bfsmagic;
  uint32_t bdsup_start;  // offset just past the last inode slot
  uint32_t bdsup_end;    // end offset of the file system
  uint32_t bdcp_fromblock;
  uint32_t bdcp_toblock;
  uint32_t bdcpb_fromblock;
  uint32_t bdcpb_toblock;
  uint32_t bdsup_filler[121];
};

// Attributes of an inode.
struct bfsvattr {
  uint32_t va_type;  // BFS_VREG or BFS_VDIR
  uint32_t va_mode;
  uint32_t va_uid;
  uint32_t va_gid;
  uint32_t va_nlink;
  uint32_t va_atime;
  uint32_t va_mtime;
  uint32_t va_ctime;
  uint32_t va_filler[4];
};

// An inode slot of the inode table.
struct bfs_dirent {
  uint16_t d_ino;  // 0 marks a slot not in use
  uint32_t d_sblock;
  uint32_t d_eblock;
  uint32_t d_eoffset;  // file-system offset of the file's last byte
  bfsvattr d_fattr;
};

// An entry of the root directory.
struct bfs_ldirs {
  uint16_t l_ino;  // 0 marks a free entry
  char l_name[BFS_DIRNAMELEN];  // NUL-padded, no terminator at 14 bytes
};

#pragma pack(pop)

static_assert(sizeof(bdsuper) == 512, "bdsuper is one block");
static_assert(sizeof(bfsvattr) == 48, "bfsvattr is 48 bytes");
static_assert(sizeof(bfs_dirent) == BFS_INODESIZE, "an inode slot is 62 bytes");
static_assert(sizeof(bfs_ldirs) == BFS_DIRENTSIZE, "a directory entry is 16 bytes");

// The superblock with magic, start and end in host order.
class bfsSuperBlock : public bdsuper {
 public:
  bfsSuperBlock(const char* buffer, bfs_pos_t pos);
  // One more than the highest inode number whose slot ends at or before
  // bdsup_start; slots 0 and 1 count but are never read.
  uint64_t numInodes() const;
};

// An inode slot; decoding checks the extent and type of an inode in use.
class bfsDirent : public bfs_dirent {
 public:
  // How far decoding an inode in use got: the fields known when a check
  // failed (only the number; the extent too), or all of them.
  enum Stage { kBadExtent, kBadType, kDecoded };

  bfsDirent();  // an unused entry
  // Decodes and checks; throws InconsistentFileSystem on a violated check.
  bfsDirent(const char* buffer, bfs_pos_t pos);
  // Decodes into d as far as the checks allow, without throwing: returns
  // the violated condition, or nullptr; stage tells how far it got.
  static const char* decode(const char* buffer, bfsDirent* d, Stage* stage = nullptr);
  static uint32_t bfsINO2OFF(uint32_t ino);  // offset of the slot of inode ino
  bool undefined() const { return d_ino == 0; }
  bool isDirectory() const;
  bool isRegular() const;

 private:
  static const char* decodeInto(const char* buffer, bfsDirent* d, Stage* stage);
};

// A root directory entry.
class bfsLDirs : public bfs_ldirs {
 public:
  explicit bfsLDirs(const char* buffer);
  bool undefined() const { return l_ino == 0; }
  std::string toString() const;

 private:
  static std::string lDirToString(const char* ldir);
};

static_assert(sizeof(bfsSuperBlock) == 512, "no data added to the superblock");
static_assert(sizeof(bfsDirent) == BFS_INODESIZE, "no data added to an inode");
static_assert(sizeof(bfsLDirs) == BFS_DIRENTSIZE, "no data added to an entry");

// What a block with the superblock magic says of its table: the hit event
// of the scan (offset, start, end, the two slot counts, the verdict).
using BfsHit = bfsscan::HitEvent;

// Tests the 512-byte block read at image offset s for the superblock magic;
// when present, fills hit and returns true. Throws nothing.
bool examine_bfs(const char* buffer, bfs_pos_t s, BfsHit* hit);
// Checks the start of a hit that was not discarded; throws
// InconsistentFileSystem.
void check_bfs_hit(const BfsHit& hit);

// Tests the block at s for the magic and checks its start and end. True
// when accepted as a file system.
bool detect_bfs(const char* buffer, bfs_pos_t s);

#endif  // SYS_FS_BFS_H
