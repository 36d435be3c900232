// A disk with a bad spot: everything before it is still examined, reported
// and extracted, and the run ends with "error reading" and status 2.
#include <gmock/gmock.h>
#include <unistd.h>

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

// A large image has its second half searched on a second thread; what is
// reported, extracted and met as damage is what one reader gives (the run
// on one core, where there is no second thread).
TEST_F(IoErrorTest, SecondHalfSearchedAtOnceReportsWhatOneReaderDoes) {
  const uint64_t mib = 1 << 20;
  {
    mkbfs::ImageWriter w(img);
    mkbfs::writeFileSystem(w, 0, {{"a", "first"}});
    mkbfs::writeFileSystem(w, 200 * mib, {{"b", pattern(mib)}, {"c", "second"}});
    mkbfs::writeFileSystem(w, 202 * mib + 0x1800, {{"d", "third"}});
    w.setLength(256 * mib);
  }
  struct Row {
    const char* label;
    const char* option;
    uint64_t badAt;  // 0: none
  } rows[] = {
      {"whole", "-n", 0},
      {"extracted", "-p", 0},
      {"bad byte in the second half", "-n", 200 * mib + 0x4000},
      {"bad byte in the second half, keep going", "-k", 200 * mib + 0x4000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    RunOptions options;
    options.env = {"LD_PRELOAD=" EIO_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
    if (row.badAt) options.env.push_back("BFSSCAN_TEST_EIO_AT=" + std::to_string(row.badAt));
    TempDir two, one;
    ASSERT_EQ(::symlink(img.c_str(), (two / "bad.img").c_str()), 0);
    ASSERT_EQ(::symlink(img.c_str(), (one / "bad.img").c_str()), 0);
    const RunResult r = run({BFSSCAN_BIN, row.option, "bad.img"}, two.path(), options);
    const RunResult single =
        run({"/usr/bin/taskset", "-c", "0", BFSSCAN_BIN, row.option, "bad.img"}, one.path(), options);
    EXPECT_THAT(r.out, HasSubstr("hit magic at 0xc800000 (209715200)\n"));
    EXPECT_EQ(r.out, single.out);
    EXPECT_EQ(r.err, single.err);
    EXPECT_EQ(r.status, single.status);
    EXPECT_EQ(listTree(two.path()), listTree(one.path()));
    if (std::string(row.option) == "-p") {
      EXPECT_EQ(readFile(two / "bad-209715200/b"), pattern(mib));
    }
  }
}
