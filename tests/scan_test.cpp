// The command line, the block scan, detection and the end of a run, on the
// real binary.
#include <sys/stat.h>

#include <gmock/gmock.h>

#include "harness.h"

namespace {

class ScanTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string img = dir / "disk.img";
};

TEST_F(ScanTest, ArgumentCount) {
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{BFSSCAN_BIN}, {BFSSCAN_BIN, "a", "b"}}) {
    const RunResult r = run(argv, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "exactly one argument needed");
  }
}

TEST_F(ScanTest, ImagesWithoutFileSystems) {
  struct Case {
    uint64_t length;
    std::string lengthLine;
  } cases[] = {{0, "0 bytes / 0 sectors to read\n"},
               {1024, "1024 bytes / 2 sectors to read\n"},
               {768, "768 bytes / 1 sectors to read\n"},
               {511, "511 bytes / 0 sectors to read\n"}};
  for (const Case& c : cases) {
    TestImage(img).length(c.length);
    const RunResult r = scan("disk.img", dir.path());
    EXPECT_EQ(r.out, "scanning disk.img\n" + c.lengthLine + "end of disk.img\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST_F(ScanTest, PartialLastBlockIsNeverExamined) {
  // The magic at 1024 lies in a block cut short by the end of the image.
  TestImage(img).superblock(1024, 0x200, 0x1000).length(1024 + 511);
  const RunResult r = scan(img, dir.path());
  EXPECT_EQ(r.out, "scanning " + img + "\n1535 bytes / 2 sectors to read\nend of " + img + "\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(ScanTest, UnreadableImages) {
  ::mkdir((dir / "adir").c_str(), 0755);
  // (A named pipe is read as a stream: see stream_input_test.cpp.)
  struct Case {
    std::string arg, err;
  } cases[] = {{"missing.img", "error reading missing.img: No such file or directory\n"},
               {"adir", "error reading adir: Is a directory\n"}};
  for (const Case& c : cases) {
    const RunResult r = scan(c.arg, dir.path());
    EXPECT_EQ(r.out, "scanning " + c.arg + "\n");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, 2);
  }
}

TEST_F(ScanTest, WorkedExampleAt512) {
  // start 0x23e: slot 2 only, unused; no root directory, no files.
  TestImage(img).superblock(512, 0x23e, 0x1000).length(4096);
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_EQ(r.out,
            "scanning disk.img\n"
            "4096 bytes / 8 sectors to read\n" +
                superblockLines(512, 0x23e, 0x1000) +
            "Scanning inodes...\n"
            "writing files to directory \"disk-512\"\n"
            "end of disk.img\n");
  EXPECT_EQ(r.err, "bfsscan: file system at 512 has no root directory\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"disk-512/", "disk.img"}));
}

TEST_F(ScanTest, DiscardedSuperblocksDoNotStopTheScan) {
  TestImage(img).superblock(0, 0x1000, 0x1000).superblock(1024, 0x2000, 0x100).length(2048);
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_EQ(r.out,
            "scanning disk.img\n"
            "2048 bytes / 4 sectors to read\n"
            "hit magic at 0 (0)\n"
            "Start: 0x1000 (0x1000)\n"
            "End: 0x1000 (0x1000)\n"
            "end >= start, discarded\n"
            "hit magic at 0x400 (1024)\n"
            "Start: 0x2000 (0x2400)\n"
            "End: 0x100 (0x500)\n"
            "end >= start, discarded\n"
            "end of disk.img\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(ScanTest, BadStartStopsTheRun) {
  struct Case {
    uint32_t start;
    std::string bare;
  } cases[] = {{600, "3"}, {0, "69273659"}, {387, "69273666"}, {0xFFFFFFD0, "69273659"},
               {0xFFFFFFFE, "69273659"}};
  for (const Case& c : cases) {
    TestImage(img).superblock(512, c.start, 0xFFFFFFFF).superblock(1024, 0x200, 0x1000).length(
        4096);
    const RunResult r = scan("disk.img", dir.path(), limits(0, kHangGuardSeconds));
    EXPECT_THAT(r.out, ::testing::EndsWith("position of inode 3: 0x23e\n" + c.bare + "\n"));
    EXPECT_EQ(r.err, "bfsscan: inconsistent file system at 512: nr == nr2; the rest of the image was "
                     "not scanned (--keep-going scans it)\n");
    EXPECT_EQ(r.status, 3);
  }
  EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"disk.img"});
}

TEST_F(ScanTest, TwoFileSystemsInImageOrder) {
  {
    mkbfs::ImageWriter w(img);
    mkbfs::writeFileSystem(w, 0, {{"a", "first"}});
    mkbfs::writeFileSystem(w, 8192, {{"b", "second"}});
  }
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const size_t first = r.out.find("hit magic at 0 (0)\n");
  const size_t second = r.out.find("hit magic at 0x2000 (8192)\n");
  EXPECT_NE(first, std::string::npos);
  EXPECT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_EQ(readFile(dir / "disk-0/a"), "first");
  EXPECT_EQ(readFile(dir / "disk-8192/b"), "second");
  EXPECT_EQ(r.out.substr(r.out.size() - 16), "end of disk.img\n");
}

}  // namespace
