// The mkbfs command: what it writes is what bfsscan extracts, and what it
// cannot store it refuses.
#include <gmock/gmock.h>

#include "harness.h"

namespace {

using ::testing::HasSubstr;

TEST(MkbfsTest, WritesWhatTheScannerExtracts) {
  TempDir dir;
  { mkbfs::ImageWriter(dir / "one").write(0, "first file\n"); }
  { mkbfs::ImageWriter(dir / "two.bin").write(0, pattern(70000)); }
  RunResult r = run({MKBFS_BIN, "disk.img", "one", "two.bin"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  r = run({MKBFS_BIN, "--at", "0x20000", "disk.img", "one"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  r = scan("disk.img", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir / "disk-0/one"), "first file\n");
  EXPECT_EQ(readFile(dir / "disk-0/two.bin"), pattern(70000));
  EXPECT_EQ(readFile(dir / "disk-131072/one"), "first file\n");
}

TEST(MkbfsTest, RefusesWhatItCannotStore) {
  TempDir dir;
  { mkbfs::ImageWriter(dir / "empty"); }
  { mkbfs::ImageWriter(dir / "name-of-fifteen").write(0, "x"); }
  { mkbfs::ImageWriter(dir / "ok").write(0, "x"); }
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"out.img", "empty"}, "mkbfs: file 'empty' is empty: BFS cannot store it\n"},
      {{"out.img", "name-of-fifteen"}, "mkbfs: name 'name-of-fifteen' must be 1 to 14 bytes long\n"},
      {{"out.img", "missing"}, "mkbfs: cannot read missing: No such file or directory\n"},
      {{"--at", "100", "out.img", "ok"}, "mkbfs: offset must be a multiple of 512: 100\n"},
      {{"--at", "0x100000000", "out.img", "ok"}, ""},
      {{}, "usage: mkbfs"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {MKBFS_BIN};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const RunResult r = run(argv, dir.path());
    if (c.err.empty()) {
      EXPECT_EQ(r.status, 0) << r.err;
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_THAT(r.err, HasSubstr(c.err));
    }
  }
}

}  // namespace
