// The inode stage: slots reported, checked and kept, on the real binary.
#include <gmock/gmock.h>

#include <optional>

#include "harness.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

// A file system at 0 with n inode slots (start 388 + 62 n), end 0x10000.
class InodesTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string img = dir / "fs.img";

  std::optional<TestImage> image;

  TestImage& build(uint32_t slots) {
    image.emplace(img);
    return image->superblock(0, 388 + 62 * slots, 0x10000).length(0x10000);
  }
  static mkbfs::Inode regular(uint16_t ino, uint32_t sblock, uint32_t length) {
    return mkbfs::fileInode(ino, sblock, length);
  }
};

TEST_F(InodesTest, WorkedExampleAndGaps) {
  // Slots 2 to 5; slot 4 unused between used ones.
  mkbfs::Inode unix = regular(3, 5, 544);
  unix.gid = 3;
  build(6)
      .inode(0, rootInode(4, 3))
      .inode(0, unix)
      .inode(0, regular(5, 7, 1))
      .entries(0, 4, {{2, "."}, {3, "unix"}, {5, "one"}})
      .bytes(5 * 512, pattern(544))
      .bytes(7 * 512, "x");
  const RunResult r = scan("fs.img", dir.path());
  EXPECT_EQ(r.out, "scanning fs.img\n"
                   "65536 bytes / 128 sectors to read\n" +
                       superblockLines(0, 388 + 62 * 6, 0x10000) +
                       "Scanning inodes...\n"
                       "Inode 0x2 0x4[0x800] - 0x4[0x800] (0x82f) size 0x2f (47)\n"
                       "type dir mode 040755 owner 0/0 links 2\n"
                       "Inode 0x3 0x5[0xa00] - 0x6[0xc00] (0xc1f) size 0x21f (543)\n"
                       "type reg mode 0100644 owner 0/3 links 1\n"
                       "Inode 0x5 0x7[0xe00] - 0x7[0xe00] (0xe00) size 0 (0)\n"
                       "type reg mode 0100644 owner 0/0 links 1\n"
                       "directory entry for inode 0x2 '.'\n"
                       "directory entry for inode 0x3 'unix'\n"
                       "directory entry for inode 0x5 'one'\n"
                       "writing files to directory \"fs-0\"\n"
                       "copying \"fs-0/unix\" 0xa00-0xc1f 543\n"
                       "copying \"fs-0/one\" 0xe00-0xe00 0\n"
                       "end of fs.img\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "fs-0/unix"), pattern(544));
  EXPECT_EQ(readFile(dir / "fs-0/one"), "x");
}

TEST_F(InodesTest, ConditionsStopTheRun) {
  struct Case {
    const char* what;
    uint32_t slot;
    mkbfs::Inode inode;
    std::string lastLines, condition;
  };
  mkbfs::Inode fileRoot = regular(2, 4, 32), dirFile = rootInode(5, 1), twoLinks = regular(3, 5, 10),
               backwards = regular(3, 5, 10), wrap = regular(3, 5, 10), type3 = regular(3, 5, 10);
  dirFile.ino = 3;
  twoLinks.nlink = 2;
  backwards.sblock = 6;
  wrap.eblock = 0x7FFFFF;
  type3.type = 3;
  const Case cases[] = {
      {"root not a directory", 2, fileRoot,
       "Inode 0x2 0x4[0x800] - 0x4[0x800] (0x81f) size 0x1f (31)\n"
       "type reg mode 0100644 owner 0/0 links 1\n",
       "bd.isDirectory()"},
      {"directory in slot 3", 3, dirFile,
       "Inode 0x3 0x5[0xa00] - 0x5[0xa00] (0xa0f) size 0xf (15)\n"
       "type dir mode 040755 owner 0/0 links 2\n",
       "bd.isRegular()"},
      {"two links", 3, twoLinks,
       "Inode 0x3 0x5[0xa00] - 0x5[0xa00] (0xa09) size 0x9 (9)\n"
       "type reg mode 0100644 owner 0/0 links 2\n",
       "bd.d_fattr.va_nlink == 1"},
      {"runs backwards", 3, backwards, "Inode 0x3 \n", "d_sblock <= d_eblock"},
      {"end block wraps", 3, wrap, "Inode 0x3 \n",
       "d_eoffset < (d_eblock * BFS_BSIZE) + BFS_BSIZE"},
      {"type 3", 3, type3, "Inode 0x3 0x5[0xa00] - 0x5[0xa00] (0xa09) size 0x9 (9)\n",
       "(d_fattr.va_type == BFS_VDIR) || (d_fattr.va_type == BFS_VREG)"},
  };
  for (const Case& c : cases) {
    TestImage& t = build(5);
    if (c.slot != 2) t.inode(0, rootInode(4, 1));
    t.inodeAt(0, c.slot, c.inode);
    const RunResult r = scan("fs.img", dir.path());
    EXPECT_THAT(r.out, EndsWith(c.lastLines)) << c.what;
    EXPECT_EQ(r.err, "bfsscan: inconsistent file system at 0: " + c.condition +
                         "; the rest of the image was not scanned (--keep-going scans it)\n")
        << c.what;
    EXPECT_EQ(r.status, 3) << c.what;
  }
  EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"fs.img"});
}

TEST_F(InodesTest, InodeTableRunsPastTheEnd) {
  // 100 slots claimed; the image ends inside slot 5.
  build(100)
      .inode(0, rootInode(40, 1))
      .inode(0, regular(3, 41, 5))
      .length(mkbfs::slotOffset(5) + 10);
  const RunResult r = scan("fs.img", dir.path());
  EXPECT_THAT(r.out, EndsWith("Scanning inodes...\n"
                              "Inode 0x2 0x28[0x5000] - 0x28[0x5000] (0x500f) size 0xf (15)\n"
                              "type dir mode 040755 owner 0/0 links 2\n"
                              "Inode 0x3 0x29[0x5200] - 0x29[0x5200] (0x5204) size 0x4 (4)\n"
                              "type reg mode 0100644 owner 0/0 links 1\n"
                              "end of fs.img\n"));
  EXPECT_EQ(r.err,
            "bfsscan: file system at 0 is truncated: inode slot 5 runs past the end of the "
            "image (708 bytes); the rest of the image was not scanned (--keep-going scans it)\n");
  EXPECT_EQ(r.status, 2);
}

TEST_F(InodesTest, HugeClaimOnASmallImageFinishesAtOnce) {
  // 0xFFFFFFCE claims 69273659 slots; the image holds a few hundred.
  TestImage(img).superblock(512, 0xFFFFFFCE, 0xFFFFFFFF).length(1 << 20);
  const RunResult r = scan("fs.img", dir.path(), limits(64 << 20, kHangGuardSeconds));
  EXPECT_THAT(r.out, HasSubstr("number of inodes: 69273659\n"));
  EXPECT_THAT(r.out, EndsWith("Scanning inodes...\nend of fs.img\n"));
  EXPECT_THAT(r.err, HasSubstr("file system at 512 is truncated: inode slot 16898 runs past"));
  EXPECT_EQ(r.status, 2);
}

}  // namespace
