// The options for recovery work: -C, --dry-run, --keep-going, --preserve,
// --max-output, and the command line itself.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "harness.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

class OptionsTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string img = dir / "disk.img";

  RunResult bfsscan(std::vector<std::string> args, const RunOptions& options = RunOptions()) {
    args.insert(args.begin(), BFSSCAN_BIN);
    return run(args, dir.path(), options);
  }
};

TEST_F(OptionsTest, DryRunReportsWhatTheRealRunDoesAndWritesNothing) {
  writeImage(img, {{"a", "alpha"}, {"b", pattern(3000)}});
  mkbfs::ImageWriter(img, false).setLength(0x800 + 1000);  // b runs past the end
  const RunResult dry = bfsscan({"-n", "disk.img"});
  EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"disk.img"});
  const RunResult real = bfsscan({"disk.img"});
  EXPECT_EQ(dry.out, real.out);
  EXPECT_EQ(dry.err, real.err);
  EXPECT_EQ(dry.status, 2);
  EXPECT_EQ(real.status, 2);
  // With the directory there, both say "had existing".
  EXPECT_EQ(bfsscan({"--dry-run", "disk.img"}).out, bfsscan({"disk.img"}).out);
}

TEST_F(OptionsTest, DryRunFailsWhereTheRealRunWould) {
  writeImage(img, {{"a", "alpha"}});
  struct Case {
    const char* what;
    std::function<void()> setUp;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"a directory at an output path", [&] { ::mkdir((dir / "disk-0").c_str(), 0755);
                                              ::mkdir((dir / "disk-0/a").c_str(), 0755); },
       {"disk.img"}, "bfsscan: cannot open \"disk-0/a\": Is a directory\n"},
      {"a link to nothing as the directory", [&] { ::symlink("nowhere", (dir / "disk-0").c_str()); },
       {"disk.img"}, "bfsscan: cannot create directory \"disk-0\": File exists\n"},
      {"-C with a missing parent", [] {}, {"-C", "no/deeper", "disk.img"},
       "bfsscan: cannot create directory \"no/deeper\": No such file or directory\n"},
  };
  for (const Case& c : cases) {
    c.setUp();
    std::vector<std::string> dry = c.args;
    dry.insert(dry.begin(), "-n");
    const RunResult d = bfsscan(dry), r = bfsscan(c.args);
    EXPECT_EQ(d.err, c.err) << c.what;
    EXPECT_EQ(d.out, r.out) << c.what;
    EXPECT_EQ(d.err, r.err) << c.what;
    EXPECT_EQ(d.status, 2) << c.what;
    EXPECT_EQ(r.status, 2) << c.what;
    ::rmdir((dir / "disk-0/a").c_str());
    ::rmdir((dir / "disk-0").c_str());
    ::unlink((dir / "disk-0").c_str());
  }
}

TEST_F(OptionsTest, DirectoryOption) {
  writeImage(img, {{"a", "alpha"}});
  const RunResult r = bfsscan({"-C", "out", "disk.img"});
  EXPECT_THAT(r.out, HasSubstr("writing files to directory \"disk-0\"\n"
                               "copying \"disk-0/a\" 0x600-0x604 4\n"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "out/disk-0/a"), "alpha");
  const RunResult deep = bfsscan({"--directory=missing/out", "disk.img"});
  EXPECT_EQ(deep.err, "bfsscan: cannot create directory \"missing/out\": No such file or directory\n");
  EXPECT_EQ(deep.status, 2);
}

TEST_F(OptionsTest, KeepGoingPastDamage) {
  struct Case {
    const char* what;
    std::vector<std::string> env;
    std::string err;
    int status;
  };
  // File systems at 0 (a, cut: runs past its block), 64 KiB (bad: two links) and 128 KiB (late).
  mkbfs::Inode twoLinks = mkbfs::fileInode(3, 4, 1);
  twoLinks.nlink = 2;
  {
    mkbfs::ImageWriter w(img);
    mkbfs::writeFileSystem(w, 0, {{"a", "alpha"}, {"cut", "x"}, {"z", "zulu"}});
    mkbfs::writeFileSystem(w, 128 << 10, {{"late", "after the damage"}});
    w.write(mkbfs::slotOffset(4), mkbfs::inodeSlot(mkbfs::fileInode(4, 0x7000, 1)));
    w.write(64 << 10, mkbfs::superblock(388 + 62 * 4, 0x1000));
    w.write((64 << 10) + mkbfs::slotOffset(2), mkbfs::inodeSlot(rootInode(3, 1)));
    w.write((64 << 10) + mkbfs::slotOffset(3), mkbfs::inodeSlot(twoLinks));
    w.setLength(192 << 10);
  }
  const RunResult r = bfsscan({"-k", "disk.img"});
  EXPECT_EQ(r.err,
            "bfsscan: file system at 0 is truncated: data of inode 4 runs past the end of the "
            "image (196608 bytes)\n"
            "bfsscan: inconsistent file system at 65536: inode slot 3 broken: "
            "bd.d_fattr.va_nlink == 1; left out\n");
  EXPECT_EQ(r.status, 3);
  EXPECT_THAT(r.out, EndsWith("end of disk.img\n"));
  EXPECT_EQ(readFile(dir / "disk-0/z"), "zulu");
  EXPECT_EQ(readFile(dir / "disk-131072/late"), "after the damage");
  EXPECT_FALSE(exists(dir / "disk-0/cut"));
}

TEST_F(OptionsTest, KeepGoingPastAnUnreadableBlock) {
  {
    mkbfs::ImageWriter w(img);
    mkbfs::writeFileSystem(w, 0, {{"a", "alpha"}});
    w.write(1 << 20, std::string(2 << 20, '\0'));  // read, not skipped as a hole
    mkbfs::writeFileSystem(w, 3 << 20, {{"b", "beyond the bad spot"}});
    w.setLength(4 << 20);
  }
  RunOptions options;
  options.env = {"LD_PRELOAD=" EIO_SHIM, "BFSSCAN_TEST_EIO_AT=" + std::to_string((2 << 20) + 7),
                 "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
  const RunResult r = bfsscan({"--keep-going", "disk.img"}, options);
  EXPECT_EQ(r.err, "error reading disk.img: Input/output error in the blocks at 2097152 to "
                   "2097152, skipped\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readFile(dir / "disk-3145728/b"), "beyond the bad spot");
}

TEST_F(OptionsTest, PreserveGivesModeAndTimes) {
  TestImage t(img);
  t.superblock(0, 388 + 62 * 5, 0x10000).length(0x10000).inode(0, rootInode(4, 2));
  mkbfs::Inode script = mkbfs::fileInode(3, 6, 4), setuid = mkbfs::fileInode(4, 7, 4);
  script.mode = 0100750;
  script.atime = 1000000000;
  script.mtime = 4000000000u;  // after 2038: unsigned seconds
  setuid.mode = 0104755;
  t.inode(0, script).inode(0, setuid).entries(0, 4, {{3, "run"}, {4, "suid"}});
  const RunResult r = bfsscan({"-p", "disk.img"});
  EXPECT_EQ(r.status, 0);
  struct stat st;
  ASSERT_EQ(::stat((dir / "disk-0/run").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(st.st_atime, 1000000000);
  EXPECT_EQ(st.st_mtime, 4000000000);
  ASSERT_EQ(::stat((dir / "disk-0/suid").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, ::geteuid() == 0 ? 04755u : 0755u);
}

TEST_F(OptionsTest, OutputBudget) {
  // 200 names on one 64 KiB extent: 12.5 MiB asked of a 1 MiB budget.
  TestImage t(img);
  t.superblock(0, 388 + 62 * 203, 1 << 20).length(1 << 20);
  std::vector<mkbfs::DirEntry> entries;
  for (uint16_t ino = 3; ino < 203; ++ino) {
    t.inode(0, mkbfs::fileInode(ino, 100, 64 << 10));
    entries.push_back({ino, "f" + std::to_string(ino)});
  }
  t.inode(0, rootInode(30, 200)).entries(0, 30, entries);
  const RunResult r = bfsscan({"--max-output=1M", "disk.img"});
  // 15 files of 64 KiB and the directory's block (4 KiB blocks here).
  EXPECT_EQ(r.err, "bfsscan: the output limit of 1048576 bytes would be passed (987136 bytes "
                   "of disk used): no further files are written; raise it with --max-output=SIZE "
                   "(0 for no limit)\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(listTree(dir / "disk-0").size(), 15u);
  EXPECT_THAT(r.out, EndsWith("copying \"disk-0/f202\" 0xc800-0x1c7ff 65535\nend of disk.img\n"));
}

TEST_F(OptionsTest, CommandLineErrors) {
  writeImage(img, {{"a", "alpha"}});
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--frobnicate", "disk.img"}, "bfsscan: unknown option '--frobnicate' (see bfsscan --help)\n"},
      {{"-x", "disk.img"}, "bfsscan: unknown option '-x' (see bfsscan --help)\n"},
      {{"--max-output=lots", "disk.img"},
       "bfsscan: --max-output takes a size such as 500M, not 'lots' (see bfsscan --help)\n"},
      {{"disk.img", "other.img"}, "exactly one argument needed"},
      {{"-n"}, "exactly one argument needed"},
  };
  for (const Case& c : cases) {
    const RunResult r = bfsscan(c.args);
    EXPECT_EQ(r.err, c.err) << c.args[0];
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_EQ(r.out, "") << c.args[0];
  }
  EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"disk.img"});
  EXPECT_EQ(bfsscan({"--", "disk.img"}).status, 0);
}

// An existing file whose name starts with a dash is the image unless it is
// an option; "-" alone stands for standard input, not for a file.
TEST_F(OptionsTest, ImageNamedWithADash) {
  for (const char* name : {"-lead.img", "--lead.img", "-n", "-"}) {
    writeImage(dir / name, {{"a", "x"}});
  }
  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string out;  // the first line
    std::string err;
    int status;
  } cases[] = {
      {"dash name", {"-lead.img"}, "scanning -lead.img", "", 0},
      {"double dash name, with options", {"-n", "--lead.img", "-k"}, "scanning --lead.img", "", 0},
      {"after --", {"-n", "--", "-lead.img"}, "scanning -lead.img", "", 0},
      {"as ./", {"-n", "./-lead.img"}, "scanning ./-lead.img", "", 0},
      {"value of an option", {"-n", "-C", "-lead.img"}, "",
       "exactly one argument needed", 1},
      {"a known option wins", {"-n"}, "", "exactly one argument needed", 1},
      {"missing dash name", {"-nothere.img"}, "",
       "bfsscan: unknown option '-o' (see bfsscan --help)\n", 1},
      {"standard input (here /dev/null)", {"-n", "-"}, "scanning -", "", 0},
      {"a file named -", {"-n", "./-"}, "scanning ./-", "", 0},
  };
  for (const Case& c : cases) {
    const RunResult r = bfsscan(c.args);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.out) << c.label;
    EXPECT_EQ(r.err, c.err) << c.label;
    EXPECT_EQ(r.status, c.status) << c.label;
  }
  EXPECT_EQ(readFile(dir / "-lead-0/a"), "x");
}

}  // namespace
