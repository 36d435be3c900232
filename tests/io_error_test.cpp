// A disk with a bad spot: everything before it is still examined, reported
// and extracted, and the run ends with "error reading" and status 2.
#include <gmock/gmock.h>

#include "harness.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

class IoErrorTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string img = dir / "bad.img";

  RunResult scanWithBadByte(uint64_t at) {
    RunOptions options;
    options.env = {"LD_PRELOAD=" EIO_SHIM, "BFSSCAN_TEST_EIO_AT=" + std::to_string(at),
                   "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
    return scan("bad.img", dir.path(), options);
  }
};

TEST_F(IoErrorTest, BlockScanStopsAtTheBadBlockOnly) {
  // A file system, then a bad byte, then another file system, all in the
  // 16 KiB at 0x27c000: any larger aligned read of the bad byte takes in
  // the first file system too. One more file system at 0, far before.
  {
    mkbfs::ImageWriter w(img);
    mkbfs::writeFileSystem(w, 0, {{"a", "first"}});
    mkbfs::writeFileSystem(w, 0x27d000, {{"b", "before"}});
    mkbfs::writeFileSystem(w, 0x27f800, {{"c", "after"}});
    w.setLength(0x300000);
  }
  const RunResult r = scanWithBadByte(0x27f007);
  EXPECT_EQ(r.err, "error reading bad.img: Input/output error\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.out, EndsWith("copying \"bad-2609152/b\" 0x600-0x605 5\n"));
  EXPECT_EQ(readFile(dir / "bad-0/a"), "first");
  EXPECT_EQ(readFile(dir / "bad-2609152/b"), "before");
  EXPECT_FALSE(exists(dir / "bad-2619392"));
}

TEST_F(IoErrorTest, InodeTableStopsAtTheBadSlot) {
  TestImage t(img);
  t.superblock(0, 388 + 62 * 100, 0x10000).length(0x10000).inode(0, rootInode(20, 1));
  for (uint16_t ino = 3; ino < 100; ++ino) t.inode(0, mkbfs::fileInode(ino, 30, 1));
  const RunResult r = scanWithBadByte(mkbfs::slotOffset(50) + 10);
  EXPECT_THAT(r.out, HasSubstr("Inode 0x31 "));
  EXPECT_THAT(r.out, Not(HasSubstr("Inode 0x32 ")));
  EXPECT_THAT(r.out, EndsWith("type reg mode 0100644 owner 0/0 links 1\n"));
  EXPECT_EQ(r.err, "error reading bad.img: Input/output error\n");
  EXPECT_EQ(r.status, 2);
}

TEST_F(IoErrorTest, FileCutByTheBadSpotIsNotLeftBehind) {
  const mkbfs::Layout layout = writeImage(img, {{"a", "whole"}, {"b", pattern(5000)}, {"c", "x"}});
  const RunResult r = scanWithBadByte(layout.sblocks[1] * 512ull + 4000);
  EXPECT_THAT(r.out, EndsWith("copying \"bad-0/b\" 0x800-0x1b87 4999\n"));
  EXPECT_EQ(r.err, "error reading bad.img: Input/output error\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"bad-0/", "bad-0/a", "bad.img"}));
}

}  // namespace
