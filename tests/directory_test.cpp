// The root directory and the name table, on the real binary.
#include <gmock/gmock.h>

#include "harness.h"

namespace {

using ::testing::EndsWith;

// A file system at 0 with slots 2 to 5, the root directory at block 4 and
// files of one block each at blocks 6 to 8 for inodes 3 to 5.
class DirectoryTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string img = dir / "fs.img";

  RunResult scanWith(const std::vector<mkbfs::DirEntry>& entries, uint32_t length) {
    mkbfs::Inode root = rootInode(4, 1);
    root.eoffset = 4 * 512 + length - 1;
    root.eblock = root.eoffset / 512;
    TestImage t(img);
    t.superblock(0, 388 + 62 * 6, 0x10000).length(0x10000).inode(0, root);
    for (uint16_t ino = 3; ino <= 5; ++ino) {
      t.inode(0, mkbfs::fileInode(ino, ino + 3, 4)).bytes((ino + 3) * 512ull, "ino" + std::to_string(ino));
    }
    t.entries(0, 4, entries);
    return scan("fs.img", dir.path());
  }

  static std::string entryLines(const RunResult& r) {
    std::string lines;
    size_t at = 0;
    while ((at = r.out.find("directory entry", at)) != std::string::npos) {
      const size_t end = r.out.find('\n', at) + 1;
      lines += r.out.substr(at, end - at);
      at = end;
    }
    return lines;
  }
};

TEST_F(DirectoryTest, EntriesAndNames) {
  const RunResult r = scanWith({{2, "."}, {2, ".."}, {3, "unix"}, {0, "free"},
                                {4, "fourteen-bytes"}, {5, std::string("a\0b", 3)}},
                               6 * 16);
  EXPECT_EQ(entryLines(r),
            "directory entry for inode 0x2 '.'\n"
            "directory entry for inode 0x2 '..'\n"
            "directory entry for inode 0x3 'unix'\n"
            "directory entry for inode 0x4 'fourteen-bytes'\n"
            "directory entry for inode 0x5 'a'\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"fs-0/", "fs-0/a", "fs-0/fourteen-bytes",
                                                            "fs-0/unix", "fs.img"}));
  EXPECT_EQ(readFile(dir / "fs-0/fourteen-bytes"), "ino4");
}

TEST_F(DirectoryTest, LaterEntryForAnInodeWins) {
  const RunResult r = scanWith({{3, "old"}, {4, "four"}, {5, "five"}, {3, "new"}}, 64);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(listTree(dir.path()),
            (std::vector<std::string>{"fs-0/", "fs-0/five", "fs-0/four", "fs-0/new", "fs.img"}));
}

TEST_F(DirectoryTest, TrailingPartialEntryIsIgnored) {
  // 40 bytes: two entries and 8 bytes of a third that would name inode 4.
  const RunResult r = scanWith({{3, "three"}, {5, "five"}, {4, "four"}}, 40);
  EXPECT_EQ(entryLines(r),
            "directory entry for inode 0x3 'three'\n"
            "directory entry for inode 0x5 'five'\n");
  EXPECT_EQ(r.err, "bfsscan: file system at 0: inode 4 not extracted: no directory entry names it\n");
  EXPECT_EQ(r.status, 2);
}

TEST_F(DirectoryTest, EntriesForMissingInodesStopTheRun) {
  struct Case {
    uint16_t ino;
    std::string condition;
  } cases[] = {{1, "!bfsInodes[bld.l_ino].undefined()"},
               {6, "bld.l_ino < bsb.numInodes()"},
               {0xFFFF, "bld.l_ino < bsb.numInodes()"}};
  for (const Case& c : cases) {
    const RunResult r = scanWith({{3, "three"}, {c.ino, "bad"}, {4, "four"}}, 48);
    EXPECT_THAT(r.out, EndsWith("directory entry for inode 0x3 'three'\n"
                                "directory entry for inode " +
                                std::string(c.ino == 1 ? "0x1" : c.ino == 6 ? "0x6" : "0xffff") +
                                " 'bad'\n"));
    EXPECT_EQ(r.err, "bfsscan: inconsistent file system at 0: " + c.condition +
                         "; the rest of the image was not scanned (--keep-going scans it)\n");
    EXPECT_EQ(r.status, 3);
  }
  EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"fs.img"});
}

TEST_F(DirectoryTest, EntryForAnUnusedSlot) {
  TestImage t(img);
  t.superblock(0, 388 + 62 * 6, 0x10000).length(0x10000).inode(0, rootInode(4, 2));
  t.inode(0, mkbfs::fileInode(3, 6, 1)).entries(0, 4, {{3, "three"}, {4, "four"}});
  const RunResult r = scan("fs.img", dir.path());
  EXPECT_EQ(r.err, "bfsscan: inconsistent file system at 0: !bfsInodes[bld.l_ino].undefined(); the "
                   "rest of the image was not scanned (--keep-going scans it)\n");
  EXPECT_EQ(r.status, 3);
}

TEST_F(DirectoryTest, DirectoryRunsPastTheEnd) {
  // The root claims 4 GiB - 1 KiB; no entry is reported, nothing is allocated for it.
  mkbfs::Inode root = rootInode(2, 1);
  root.eblock = 0x7FFFFE;
  root.eoffset = 0xFFFFFBFF;
  TestImage(img).superblock(0, 388 + 62 * 3, 0x10000).length(0x10000).inode(0, root).entries(
      0, 2, {{2, "."}});
  const RunResult r = scan("fs.img", dir.path(), limits(64 << 20, kHangGuardSeconds));
  EXPECT_THAT(r.out, EndsWith("type dir mode 040755 owner 0/0 links 2\nend of fs.img\n"));
  EXPECT_EQ(r.err,
            "bfsscan: file system at 0 is truncated: root directory runs past the end of the "
            "image (65536 bytes); the rest of the image was not scanned (--keep-going scans it)\n");
  EXPECT_EQ(r.status, 2);
}

}  // namespace
