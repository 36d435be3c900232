// Help, version, odd file names and the progress line, on the real binaries.
#include <gmock/gmock.h>

#include "harness.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

TEST(CliTest, HelpAndVersion) {
  TempDir dir;
  struct Case {
    std::string bin, arg, start;
  } cases[] = {{BFSSCAN_BIN, "--help", "usage: bfsscan [OPTION]... IMAGE\n"},
               {BFSSCAN_BIN, "-h", "usage: bfsscan [OPTION]... IMAGE\n"},
               {BFSSCAN_BIN, "--version", "bfsscan 1."},
               {MKBFS_BIN, "--help", "usage: mkbfs [--at OFFSET] [TRACE OPTION]... OUT.img FILE...\n"},
               {MKBFS_BIN, "--version", "mkbfs 1."}};
  for (const Case& c : cases) {
    const RunResult r = run({c.bin, c.arg}, dir.path());
    EXPECT_EQ(r.status, 0) << c.arg;
    EXPECT_THAT(r.out, StartsWith(c.start));
    EXPECT_EQ(r.err, "");
  }
  EXPECT_TRUE(listTree(dir.path()).empty());
  const RunResult r = run({BFSSCAN_BIN, "--help", "x"}, dir.path());
  EXPECT_EQ(r.err, "exactly one argument needed");
  EXPECT_EQ(r.status, 1);
}

TEST(CliTest, ImageNamedLikeAnOption) {
  TempDir dir;
  writeImage(dir / "--help", {{"f", "data"}});
  const RunResult r = run({BFSSCAN_BIN, "./--help"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "--help-0/f"), "data");
}

TEST(CliTest, ReportThatCannotBeWrittenIsAFailure) {
  TempDir dir;
  writeImage(dir / "f.img", {{"f", "data"}});
  const RunResult r =
      run({"/bin/sh", "-c", std::string(BFSSCAN_BIN) + " f.img > /dev/full"}, dir.path());
  EXPECT_EQ(r.err, "bfsscan: cannot write the report to standard output\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readFile(dir / "f-0/f"), "data");
}

// Under a terminal, a progress line is drawn and cleared before the report
// lines, and a summary ends the run; elsewhere (every other test) standard error stays empty.
TEST(CliTest, ProgressLineOnlyOnATerminal) {
  TempDir dir;
  writeImage(dir / "p.img", {{"f", "data"}});
  const RunResult tty =
      run({"/usr/bin/script", "-qfec", std::string(BFSSCAN_BIN) + " p.img", "/dev/null"},
          dir.path());
  EXPECT_EQ(tty.status, 0);
  EXPECT_THAT(tty.out, HasSubstr("sectors to read\r\n\r\033[Kbfsscan: 0 B of 2.0 KiB (0%), "
                                 "0 file systems\r\033[Khit magic at 0 (0)\r\n"));
  // The summary closes the run, its time being whatever it took.
  EXPECT_THAT(tty.out, HasSubstr("end of p.img\r\nbfsscan: 1 file system, 1 file extracted, "
                                 "0 skipped, 0 lost, 4 B written in "));
  EXPECT_THAT(tty.out, EndsWith(" s; status 0: complete\r\n"));
  const RunResult pipe = scan("p.img", dir.path());
  EXPECT_EQ(pipe.err, "");
  EXPECT_THAT(pipe.out, HasSubstr("sectors to read\nhit magic at 0 (0)\n"));
}

// A run without digests never maps the crypto library: it is loaded when a
// digest is asked for.
TEST(CliTest, CryptoLibraryIsLoadedOnlyWhenAskedFor) {
  TempDir dir;
  writeImage(dir / "f.img", {{"f", "data"}});
  RunOptions debug;
  debug.env = {"LD_DEBUG=libs"};
  const struct {
    const char* label;
    std::vector<std::string> args;
    bool crypto;
  } rows[] = {
      {"raw image", {BFSSCAN_BIN, "-n", "f.img"}, false},
      {"raw image, digests", {BFSSCAN_BIN, "-n", "--hash=md5", "f.img"}, true},
  };
  for (const auto& row : rows) {
    const RunResult r = run(row.args, dir.path(), debug);
    EXPECT_EQ(r.status, 0) << row.label;
    EXPECT_EQ(r.err.find("libcrypto.so") != std::string::npos, row.crypto) << row.label;
  }
}

}  // namespace
