// What the user keeps is never overwritten: results files against the
// files of the image, against each other and against extracted files; a map
// over a link; the disk a budget spends; devices that are no disk; names on
// a terminal; a set-user-ID-root file given its mode.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class OutputGuardTest : public ::testing::Test {
 protected:
  TempDir dir;

  RunResult bfsscan(std::vector<std::string> args) {
    args.insert(args.begin(), BFSSCAN_BIN);
    return run(args, dir.path());
  }
};

// A split set disk.001 + disk.002: a results file over the second segment
// is refused before anything is written.
TEST_F(OutputGuardTest, ResultsFileOverASegmentIsAUsageError) {
  const std::string whole = dir / "whole";
  writeImage(whole, {{"notes", pattern(3000)}});
  const std::string bytes = readFile(whole);
  ::unlink(whole.c_str());
  { mkbfs::ImageWriter(dir / "disk.001").write(0, bytes.substr(0, 2048)); }
  { mkbfs::ImageWriter(dir / "disk.002").write(0, bytes.substr(2048)); }
  const struct {
    const char* option;
    const char* err;
  } rows[] = {
      {"--json=disk.002", "bfsscan: cannot write \"disk.002\": it is a file of the image "
                          "\"disk.001\"\n"},
      {"--map=disk.002", "bfsscan: cannot write \"disk.002\": it is a file of the image "
                         "\"disk.001\"\n"},
      {"--bodyfile=./disk.001", "bfsscan: cannot write \"./disk.001\": it is the image "
                                "\"disk.001\"\n"},
  };
  for (const auto& row : rows) {
    const RunResult r = bfsscan({"-n", row.option, "disk.001"});
    EXPECT_EQ(r.err, row.err) << row.option;
    EXPECT_EQ(r.status, 1) << row.option;
    EXPECT_EQ(r.out, "") << row.option;
    EXPECT_EQ(readFile(dir / "disk.002"), bytes.substr(2048)) << row.option;
    EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"disk.001", "disk.002"}))
        << row.option;
  }
}

TEST_F(OutputGuardTest, OneResultsFileUnderTwoSpellingsIsAUsageError) {
  writeImage(dir / "disk.img", {{"notes", "text"}});
  { mkbfs::ImageWriter(dir / "kept").write(0, "kept"); }
  const struct {
    const char* label;
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {"a new file", {"--json=x", "--bodyfile=./x"},
       "bfsscan: --bodyfile and --json name one file: \"./x\" and \"x\" (see bfsscan --help)\n"},
      {"an existing file", {"--json=kept", "--map=../" + dir.path().substr(5) + "/kept"},
       "bfsscan: --json and --map name one file: \"kept\" and \"../" + dir.path().substr(5) +
           "/kept\" (see bfsscan --help)\n"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = row.args;
    args.push_back("disk.img");
    const RunResult r = bfsscan(args);
    EXPECT_EQ(r.err, row.err) << row.label;
    EXPECT_EQ(r.status, 1) << row.label;
    EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"disk.img", "kept"})) << row.label;
    EXPECT_EQ(readFile(dir / "kept"), "kept") << row.label;
  }
}

// The map written through a symbolic link: the link stays.
TEST_F(OutputGuardTest, MapThroughASymbolicLinkKeepsTheLink) {
  writeImage(dir / "disk.img", {{"notes", "text"}});
  ASSERT_EQ(::symlink("target.svg", (dir / "map.svg").c_str()), 0);
  const RunResult r = bfsscan({"--map=map.svg", "disk.img"});
  EXPECT_EQ(r.status, 0) << r.err;
  struct stat st;
  ASSERT_EQ(::lstat((dir / "map.svg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_THAT(readFile(dir / "target.svg"), HasSubstr("</svg>"));
}

// A results file where extraction would put a file: neither is lost.
TEST_F(OutputGuardTest, ResultsFileAtAnExtractedPathIsNotReplaced) {
  writeImage(dir / "disk.img", {{"notes", "from the image"}, {"other", "more"}});
  const struct {
    const char* option;
    const char* kind;
    const char* content;
    const char* linked = "";  // a results file the extracted path is a hard link to
  } rows[] = {
      {"--json=disk-0/notes", "--json", "{\"type\":\"image\""},
      {"--map=disk-0/notes", "--map", "</svg>"},
      {"--bodyfile=disk-0/notes", "--bodyfile", "|/disk-0/other|"},
      {"--json=kept.json", "--json", "{\"type\":\"image\"", "kept.json"},
  };
  for (const auto& row : rows) {
    ::mkdir((dir / "disk-0").c_str(), 0755);
    if (*row.linked != '\0') {
      { mkbfs::ImageWriter(dir / row.linked).write(0, "old"); }
      ASSERT_EQ(::link((dir / row.linked).c_str(), (dir / "disk-0/notes").c_str()), 0);
    }
    const RunResult r = bfsscan({row.option, "disk.img"});
    EXPECT_EQ(r.err, std::string("bfsscan: file system at 0: inode 3 not extracted: its output "
                                 "path \"disk-0/notes\" is the ") +
                         row.kind + " file\n")
        << row.option;
    EXPECT_EQ(r.status, 2) << row.option;
    EXPECT_THAT(readFile(dir / "disk-0/notes"), HasSubstr(row.content)) << row.option;
    EXPECT_EQ(readFile(dir / "disk-0/other"), "more") << row.option;
    ::unlink((dir / "disk-0/notes").c_str());
    ::unlink((dir / "disk-0/other").c_str());
    if (*row.linked != '\0') ::unlink((dir / row.linked).c_str());
  }
}

// Five one-byte files and a budget of three blocks: the directory and two
// files spend them.
TEST_F(OutputGuardTest, BudgetCountsWholeBlocks) {
  writeImage(dir / "disk.img", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"e", "5"}});
  struct stat st;
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  const uint64_t block = static_cast<uint64_t>(st.st_blksize);
  const RunResult r = bfsscan({"--max-output=" + std::to_string(3 * block), "disk.img"});
  EXPECT_EQ(r.err, "bfsscan: the output limit of " + std::to_string(3 * block) +
                       " bytes would be passed (" + std::to_string(3 * block) +
                       " bytes of disk used): no further files are written; raise it with "
                       "--max-output=SIZE (0 for no limit)\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(listTree(dir / "disk-0"), (std::vector<std::string>{"a", "b"}));
}

// Each file is rounded up to whole blocks: the directory and a file of one
// and a half blocks spend three of four, and a second such file does not fit.
TEST_F(OutputGuardTest, BudgetRoundsEachFileUpToWholeBlocks) {
  struct stat st;
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  const uint64_t block = static_cast<uint64_t>(st.st_blksize);
  writeImage(dir / "disk.img", {{"a", pattern(block * 3 / 2, 1)}, {"b", pattern(block * 3 / 2, 2)}});
  const RunResult r = bfsscan({"--max-output=" + std::to_string(4 * block), "disk.img"});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("(" + std::to_string(3 * block) + " bytes of disk used)"));
  EXPECT_EQ(listTree(dir / "disk-0"), (std::vector<std::string>{"a"}));
}

TEST_F(OutputGuardTest, CharacterDeviceWithDataIsRefused) {
  const struct {
    const char* device;
    std::string out, err;
    int status;
  } rows[] = {
      {"/dev/zero", "scanning /dev/zero\n",
       "error reading /dev/zero: not a regular file or disk\n", 2},
      {"/dev/urandom", "scanning /dev/urandom\n",
       "error reading /dev/urandom: not a regular file or disk\n", 2},
      {"/dev/null", "scanning /dev/null\n0 bytes / 0 sectors to read\nend of /dev/null\n", "", 0},
  };
  for (const auto& row : rows) {
    const RunResult r = run({BFSSCAN_BIN, row.device}, dir.path(), limits(0, 5));
    EXPECT_EQ(r.out, row.out) << row.device;
    EXPECT_EQ(r.err, row.err) << row.device;
    EXPECT_EQ(r.status, row.status) << row.device;
  }
}

// On a terminal (a pseudo-terminal made by script(1)) names from the image
// are escaped; the pipe case keeps the bytes (see the safety tests).
TEST_F(OutputGuardTest, NamesOnATerminalAreEscaped) {
  TestImage t(dir / "disk.img");
  t.superblock(0, 388 + 62 * 4, 0x10000).length(0x10000).inode(0, rootInode(4, 1));
  t.inode(0, mkbfs::fileInode(3, 6, 1)).entries(0, 4, {{3, "a\x1b]0;x\x07\xc3\xbc"}});
  const RunResult r = run({"/usr/bin/script", "-qec", BFSSCAN_BIN " -n disk.img", "/dev/null"},
                          dir.path());
  EXPECT_THAT(r.out, HasSubstr("directory entry for inode 0x3 'a\\x1b]0;x\\x07\\xc3\\xbc'\r\n"));
  EXPECT_THAT(r.out, HasSubstr("copying \"disk-0/a\\x1b]0;x\\x07\\xc3\\xbc\" 0xc00-0xc00 0\r\n"));
  // (standard error, the same terminal, carries the progress line's own controls)
  EXPECT_THAT(r.out, Not(HasSubstr("\x1b]")));
  EXPECT_THAT(r.out, Not(HasSubstr("\x07")));
  EXPECT_EQ(r.status, 0);
}

TEST_F(OutputGuardTest, SetUserIdRootFileIsPointedOut) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  TestImage t(dir / "disk.img");
  mkbfs::Inode su = mkbfs::fileInode(3, 6, 4), plain = mkbfs::fileInode(4, 7, 4);
  su.mode = 0104755;
  plain.mode = 0100755;
  t.superblock(0, 388 + 62 * 5, 0x10000).length(0x10000).inode(0, rootInode(4, 2));
  t.inode(0, su).inode(0, plain).entries(0, 4, {{3, "s\tu"}, {4, "plain"}});
  const RunResult r = bfsscan({"-p", "disk.img"});
  EXPECT_EQ(r.err, "bfsscan: \"disk-0/s\\tu\" is set-user-ID root\n");
  EXPECT_EQ(r.status, 0);
  struct stat st;
  ASSERT_EQ(::stat((dir / "disk-0/s\tu").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 04755u);
}

}  // namespace
