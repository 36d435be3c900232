// Extraction that nothing can trick: links at the final name, signals,
// closed pipes, endless devices, an image that shrinks while read, files
// lost to a duplicate name, and control bytes on standard error.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "harness.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

class SafetyTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string img = dir / "disk.img";

  RunOptions shim(const std::vector<std::string>& env) {
    RunOptions options;
    options.env = env;
    options.env.push_back("LD_PRELOAD=" EIO_SHIM);
    options.env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0");
    return options;
  }
};

TEST_F(SafetyTest, HardLinkAtTheFinalNameIsReplacedNotWrittenThrough) {
  writeImage(img, {{"notes", "from the image"}});
  ::mkdir((dir / "disk-0").c_str(), 0755);
  { mkbfs::ImageWriter(dir / "victim").write(0, "precious"); }
  ASSERT_EQ(::link((dir / "victim").c_str(), (dir / "disk-0/notes").c_str()), 0);
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "victim"), "precious");
  EXPECT_EQ(readFile(dir / "disk-0/notes"), "from the image");
}

TEST_F(SafetyTest, InterruptionRemovesTheFileBeingWritten) {
  const mkbfs::Layout layout = writeImage(img, {{"a", "first"}, {"big", pattern(3 << 20)}});
  const uint64_t inBig = layout.sblocks[1] * 512ull + (2 << 20);
  const RunResult r =
      scan("disk.img", dir.path(), shim({"BFSSCAN_TEST_SIGNAL_AT=" + std::to_string(inBig)}));
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.err, "bfsscan: interrupted by SIGINT in the file system at 0\n");
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"disk-0/", "disk-0/a", "disk.img"}));
}

TEST_F(SafetyTest, TerminationEndsWith143) {
  const mkbfs::Layout layout = writeImage(img, {{"a", "first"}, {"big", pattern(3 << 20)}});
  const uint64_t inBig = layout.sblocks[1] * 512ull + (2 << 20);
  const RunResult r = scan("disk.img", dir.path(),
                           shim({"BFSSCAN_TEST_SIGNAL_AT=" + std::to_string(inBig),
                                 "BFSSCAN_TEST_SIGNAL=" + std::to_string(SIGTERM)}));
  EXPECT_EQ(r.status, 143);
  EXPECT_EQ(r.err, "bfsscan: interrupted by SIGTERM in the file system at 0\n");
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"disk-0/", "disk-0/a", "disk.img"}));
}

// The temporary name of a file being written is predictable; a link planted
// there is not followed, the file goes to another temporary name.
TEST_F(SafetyTest, LinkAtTheTemporaryNameIsNotFollowed) {
  writeImage(img, {{"notes", "from the image"}});
  ::mkdir((dir / "disk-0").c_str(), 0755);
  { mkbfs::ImageWriter(dir / "victim").write(0, "precious"); }
  // exec keeps the shell's process number, which the temporary name holds.
  const RunResult r = run({"/bin/sh", "-c",
                           "ln -s ../victim disk-0/.bfsscan-part-$$-1 && exec \"$0\" disk.img",
                           BFSSCAN_BIN},
                          dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir / "victim"), "precious");
  EXPECT_EQ(readFile(dir / "disk-0/notes"), "from the image");
}

TEST_F(SafetyTest, ClosedPipeIsNoticedOnceAndExtractionGoesOn) {
  std::vector<mkbfs::File> files;
  for (int i = 0; i < 40; ++i) files.push_back({"f" + std::to_string(i), "data"});
  writeImage(img, files);
  RunOptions options;
  options.brokenPipeStdout = true;
  const RunResult r = scan("disk.img", dir.path(), options);
  EXPECT_EQ(r.err, "bfsscan: cannot write the report to standard output\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(listTree(dir / "disk-0").size(), 40u);
}

TEST_F(SafetyTest, EndlessDeviceIsRefused) {
  const RunResult r = run({BFSSCAN_BIN, "/dev/zero"}, dir.path(), limits(0, kHangGuardSeconds));
  EXPECT_EQ(r.out, "scanning /dev/zero\n");
  EXPECT_EQ(r.err, "error reading /dev/zero: not a regular file or disk\n");
  EXPECT_EQ(r.status, 2);
}

TEST_F(SafetyTest, ImageThatShrinksWhileReadIsAnError) {
  writeImage(img, {{"a", "first"}});
  { mkbfs::ImageWriter(img, false).write(1 << 20, std::string(15 << 20, '\0')); }  // no hole
  const RunResult r = scan("disk.img", dir.path(),
                           shim({"BFSSCAN_TEST_SHRINK_AT=" + std::to_string(4 << 20),
                                 "BFSSCAN_TEST_SHRINK_PATH=" + img}));
  EXPECT_EQ(r.err, "error reading disk.img: the image became shorter while it was read\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.out, EndsWith("copying \"disk-0/a\" 0x600-0x604 4\n"));
}

// With -k too: a file cut short by the image shrinking ends the run.
TEST_F(SafetyTest, ImageThatShrinksDuringACopyEndsTheRunWithKeepGoing) {
  const mkbfs::Layout layout = writeImage(img, {{"big", pattern(3 << 20)}, {"after", "x"}});
  const uint64_t inBig = layout.sblocks[0] * 512ull + (1 << 20);
  const RunResult r = run({BFSSCAN_BIN, "-k", "disk.img"}, dir.path(),
                          shim({"BFSSCAN_TEST_SHRINK_AT=" + std::to_string(inBig),
                                "BFSSCAN_TEST_SHRINK_PATH=" + img}));
  EXPECT_EQ(r.err, "error reading disk.img: the image became shorter while it was read\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.out, EndsWith("copying \"disk-0/big\" 0x600-0x3005ff 3145727\n"));
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"disk-0/", "disk.img"}));
}

TEST_F(SafetyTest, ControlBytesInNamesAreEscapedOnStandardError) {
  TestImage t(img);
  t.superblock(0, 388 + 62 * 4, 0x10000).length(0x10000).inode(0, rootInode(4, 1));
  t.inode(0, mkbfs::fileInode(3, 6, 1)).entries(0, 4, {{3, "x/\r\x1b[2K\xc3\xbc\\"}});
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_EQ(r.err, "bfsscan: file system at 0: inode 3 not extracted: unsafe name "
                   "'x/\\r\\x1b[2K\\xc3\\xbc\\\\'\n");
  EXPECT_THAT(r.out, HasSubstr("directory entry for inode 0x3 'x/\r\x1b[2K\xc3\xbc\\'\n"));
  const RunResult missing = run({BFSSCAN_BIN, "no\x1b[2Kimage"}, dir.path());
  EXPECT_EQ(missing.err, "error reading no\\x1b[2Kimage: No such file or directory\n");
}

}  // namespace
