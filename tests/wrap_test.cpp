// Block numbers become byte offsets in 32 bits: block 0x800000 is offset 0
// of its file system. File data, the root directory and the extents in the
// report all follow that wrap, on the real binary.
#include <gmock/gmock.h>

#include "harness.h"

namespace {

TEST(WrapTest, BlockOffsetsWrapAt4GiB) {
  // A file system at 0x1000 with slots 0 to 3. The root directory starts at
  // block 0x800002, which is block 2; file "f" at block 0x800000 is the
  // first ten bytes of the file system, its superblock.
  TempDir dir;
  mkbfs::Inode root = rootInode(0x800002, 3), f = mkbfs::fileInode(3, 0x800000, 10);
  root.eblock = 0x800002;
  root.eoffset = 0x42f;
  f.eblock = 0x800000;
  f.eoffset = 0x9;
  TestImage(dir / "w.img")
      .superblock(0x1000, 388 + 62 * 4, 0xfff)
      .inode(0x1000, root)
      .inode(0x1000, f)
      .entries(0x1000, 2, {{2, "."}, {2, ".."}, {3, "f"}})
      .length(0x2000);
  const RunResult r = scan("w.img", dir.path());
  EXPECT_EQ(r.out, "scanning w.img\n"
                   "8192 bytes / 16 sectors to read\n" +
                       superblockLines(0x1000, 0x27c, 0xfff) +
                       "Scanning inodes...\n"
                       "Inode 0x2 0x800002[0x400] - 0x800002[0x400] (0x42f) size 0x2f (47)\n"
                       "type dir mode 040755 owner 0/0 links 2\n"
                       "Inode 0x3 0x800000[0] - 0x800000[0] (0x9) size 0x9 (9)\n"
                       "type reg mode 0100644 owner 0/0 links 1\n"
                       "directory entry for inode 0x2 '.'\n"
                       "directory entry for inode 0x2 '..'\n"
                       "directory entry for inode 0x3 'f'\n"
                       "writing files to directory \"w-4096\"\n"
                       "copying \"w-4096/f\" 0-0x9 9\n"
                       "end of w.img\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "w-4096/f"), std::string("\x1b\xad\xfa\xce\0\0\x02\x7c\0\0", 10));
}

}  // namespace
