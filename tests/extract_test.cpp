// Extraction: directories, file contents, and the safety rules, on the
// real binary.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

class ExtractTest : public ::testing::Test {
 protected:
  TempDir dir;

  // Writes a consistent file system holding files at base of the image at path.
  void writeFs(const std::string& path, uint64_t base, const std::vector<mkbfs::File>& files,
               bool fresh = true) {
    mkbfs::ImageWriter w(path, fresh);
    mkbfs::writeFileSystem(w, base, files);
  }
};

TEST_F(ExtractTest, RoundTripOfManySizes) {
  std::vector<mkbfs::File> files;
  for (size_t size : {1, 2, 511, 512, 513, 1024, 4097, 300000}) {
    files.push_back({"f" + std::to_string(size), pattern(size, static_cast<unsigned>(size))});
  }
  writeFs(dir / "disk.img", 0, files);
  writeFs(dir / "disk.img", 1 << 20, {{"late", "in the second file system\n"}}, false);
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  for (const mkbfs::File& f : files) EXPECT_EQ(readFile(dir / "disk-0/" + f.name), f.data);
  EXPECT_EQ(readFile(dir / "disk-1048576/late"), "in the second file system\n");
  EXPECT_THAT(r.out, HasSubstr("writing files to directory \"disk-0\"\n"
                               "copying \"disk-0/f1\" 0x800-0x800 0\n"
                               "copying \"disk-0/f2\" 0xa00-0xa01 1\n"
                               "copying \"disk-0/f511\" 0xc00-0xdfe 510\n"
                               "copying \"disk-0/f512\" 0xe00-0xfff 511\n"));
}

TEST_F(ExtractTest, SecondRunRewritesTheSameFiles) {
  writeFs(dir / "disk.img", 0, {{"a", "alpha"}});
  ASSERT_EQ(scan("disk.img", dir.path()).status, 0);
  const std::string stale = dir / "disk-0/a";
  { mkbfs::ImageWriter(stale).write(0, "something much longer than alpha"); }
  { mkbfs::ImageWriter(dir / "disk-0/other").write(0, "kept"); }
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_THAT(r.out, HasSubstr("writing files to directory \"disk-0\"\n"
                               "had existing \"disk-0\"\n"
                               "copying \"disk-0/a\" 0x600-0x604 4\n"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(stale), "alpha");
  EXPECT_EQ(readFile(dir / "disk-0/other"), "kept");
}

TEST_F(ExtractTest, DirectoryNameFromTheImagePath) {
  ::mkdir((dir / "work").c_str(), 0755);
  ::mkdir((dir / "images").c_str(), 0755);
  struct Case {
    std::string image, directory;
  } cases[] = {{"images/disk.img", "disk-0"},
               {"images/noext", "noext-0"},
               {"images/.img", "-0"},
               {"images/a.b.c", "a.b-0"},
               {"images/q\"&.img", "q\"&-0"}};
  for (const Case& c : cases) {
    writeFs(dir / c.image, 0, {{"x", "data"}});
    const RunResult r = run({BFSSCAN_BIN, "../" + c.image}, dir / "work");
    EXPECT_EQ(r.status, 0) << c.image;
    EXPECT_EQ(readFile(dir / "work/" + c.directory + "/x"), "data") << c.image;
  }
  const RunResult r = run({BFSSCAN_BIN, "../images/q\"&.img"}, dir / "work");
  EXPECT_THAT(r.out, HasSubstr("writing files to directory \"q&\"&&-0\"\n"
                               "had existing \"q&\"&&-0\"\n"
                               "copying \"q&\"&&-0/x\" 0x600-0x603 3\n"));
}

TEST_F(ExtractTest, InodeOrderAndNamesByOwnNumber) {
  // Entries list 5 before 3; slot 4's own number is 5, so it is written
  // under inode 5's name, after slot 3 and before slot 5 overwrites it.
  TestImage t(dir / "fs.img");
  t.superblock(0, 388 + 62 * 6, 0x10000).length(0x10000).inode(0, rootInode(4, 3));
  t.inode(0, mkbfs::fileInode(3, 6, 5)).bytes(6 * 512, "three");
  t.inodeAt(0, 4, mkbfs::fileInode(5, 7, 4)).bytes(7 * 512, "four");
  t.inode(0, mkbfs::fileInode(5, 8, 4)).bytes(8 * 512, "five");
  t.entries(0, 4, {{5, "same"}, {3, "third"}, {2, "."}});
  const RunResult r = scan("fs.img", dir.path());
  EXPECT_THAT(r.out, EndsWith("writing files to directory \"fs-0\"\n"
                              "copying \"fs-0/third\" 0xc00-0xc04 4\n"
                              "copying \"fs-0/same\" 0xe00-0xe03 3\n"
                              "copying \"fs-0/same\" 0x1000-0x1003 3\n"
                              "end of fs.img\n"));
  EXPECT_EQ(r.err, "bfsscan: file system at 0: \"fs-0/same\" written again by inode 5: the file "
                   "of inode 4 is lost\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readFile(dir / "fs-0/same"), "five");
  EXPECT_EQ(readFile(dir / "fs-0/third"), "three");
}

// Three inodes under one name: each "lost" line names the inode whose
// file the new one replaced.
TEST_F(ExtractTest, ThreeInodesWritingOneName) {
  TestImage t(dir / "fs.img");
  t.superblock(0, 388 + 62 * 6, 0x10000).length(0x10000).inode(0, rootInode(9, 3));
  t.inode(0, mkbfs::fileInode(3, 6, 3)).bytes(6 * 512, "one");
  t.inode(0, mkbfs::fileInode(4, 7, 3)).bytes(7 * 512, "two");
  t.inode(0, mkbfs::fileInode(5, 8, 5)).bytes(8 * 512, "three");
  t.entries(0, 9, {{3, "same"}, {4, "same"}, {5, "same"}});
  const RunResult r = scan("fs.img", dir.path());
  EXPECT_EQ(r.err, "bfsscan: file system at 0: \"fs-0/same\" written again by inode 4: the file "
                   "of inode 3 is lost\n"
                   "bfsscan: file system at 0: \"fs-0/same\" written again by inode 5: the file "
                   "of inode 4 is lost\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readFile(dir / "fs-0/same"), "three");
}

TEST_F(ExtractTest, UnsafeAndMissingNamesAreSkipped) {
  // Slots 3 to 9; slot 9's own number is 300, beyond the table.
  TestImage t(dir / "fs.img");
  t.superblock(0, 388 + 62 * 10, 0x10000).length(0x10000).inode(0, rootInode(4, 6));
  for (uint16_t ino = 3; ino <= 9; ++ino) {
    t.inode(0, mkbfs::fileInode(ino, ino + 3, 3)).bytes((ino + 3) * 512ull, "bad");
  }
  t.inodeAt(0, 9, mkbfs::fileInode(300, 12, 3));
  t.inode(0, mkbfs::fileInode(8, 11, 2)).bytes(11 * 512, "ok");
  t.entries(0, 4, {{3, "."}, {4, ".."}, {5, "../x"}, {6, "a/b"}, {8, "good"}, {9, "ninth"}});
  const RunResult r = scan("fs.img", dir.path());
  EXPECT_EQ(r.err,
            "bfsscan: file system at 0: inode 3 not extracted: unsafe name '.'\n"
            "bfsscan: file system at 0: inode 4 not extracted: unsafe name '..'\n"
            "bfsscan: file system at 0: inode 5 not extracted: unsafe name '../x'\n"
            "bfsscan: file system at 0: inode 6 not extracted: unsafe name 'a/b'\n"
            "bfsscan: file system at 0: inode 7 not extracted: no directory entry names it\n"
            "bfsscan: file system at 0: inode 9 not extracted: no directory entry names it\n");
  EXPECT_THAT(r.out, EndsWith("writing files to directory \"fs-0\"\n"
                              "copying \"fs-0/good\" 0x1600-0x1601 1\n"
                              "end of fs.img\n"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"fs-0/", "fs-0/good", "fs.img"}));
}

TEST_F(ExtractTest, SymbolicLinksAreReplacedNotFollowed) {
  writeFs(dir / "disk.img", 0, {{"victim", "extracted"}});
  ::mkdir((dir / "disk-0").c_str(), 0755);
  { mkbfs::ImageWriter(dir / "target").write(0, "precious"); }
  ASSERT_EQ(::symlink("../target", (dir / "disk-0/victim").c_str()), 0);
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "target"), "precious");
  EXPECT_EQ(readFile(dir / "disk-0/victim"), "extracted");
  struct stat st;
  ASSERT_EQ(::lstat((dir / "disk-0/victim").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(ExtractTest, SymbolicLinkAsExtractionDirectory) {
  writeFs(dir / "disk.img", 0, {{"victim", "extracted"}});
  ::mkdir((dir / "elsewhere").c_str(), 0755);
  ASSERT_EQ(::symlink("elsewhere", (dir / "disk-0").c_str()), 0);
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_THAT(r.out, EndsWith("writing files to directory \"disk-0\"\nhad existing \"disk-0\"\n"));
  EXPECT_EQ(r.err, "bfsscan: cannot use directory \"disk-0\": it is a symbolic link\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(exists(dir / "elsewhere/victim"));
}

TEST_F(ExtractTest, TheImageItselfIsNeverOverwritten) {
  ::mkdir((dir / "disk-0").c_str(), 0755);
  const std::string img = dir / "disk-0/disk.img";
  writeFs(img, 0, {{"disk.img", "would truncate"}, {"b", "fine"}});
  const std::string before = readFile(img);
  const RunResult r = run({BFSSCAN_BIN, "disk-0/disk.img"}, dir.path());
  EXPECT_EQ(r.err, "bfsscan: file system at 0: inode 3 not extracted: its output path "
                   "\"disk-0/disk.img\" is the image itself\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readFile(img), before);
  EXPECT_EQ(readFile(dir / "disk-0/b"), "fine");
}

TEST_F(ExtractTest, OutputFailuresEndTheScan) {
  writeFs(dir / "disk.img", 0, {{"a", "first"}, {"big", pattern(5000)}, {"c", "never"}});
  writeFs(dir / "disk.img", 65536, {{"later", "never"}}, false);

  // The extraction directory's name is taken by a file.
  { mkbfs::ImageWriter(dir / "disk-0").write(0, "in the way"); }
  RunResult r = scan("disk.img", dir.path());
  EXPECT_THAT(r.out, EndsWith("writing files to directory \"disk-0\"\n"));
  EXPECT_EQ(r.err, "bfsscan: cannot create directory \"disk-0\": File exists\n");
  EXPECT_EQ(r.status, 2);
  ::unlink((dir / "disk-0").c_str());

  // An output path is a directory.
  ::mkdir((dir / "disk-0").c_str(), 0755);
  ::mkdir((dir / "disk-0/big").c_str(), 0755);
  r = scan("disk.img", dir.path());
  EXPECT_THAT(r.out, EndsWith("copying \"disk-0/big\" 0x800-0x1b87 4999\n"));
  EXPECT_EQ(r.err, "bfsscan: cannot open \"disk-0/big\": Is a directory\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readFile(dir / "disk-0/a"), "first");
  ::rmdir((dir / "disk-0/big").c_str());

  // The disk fills up: a write fails part way.
  r = scan("disk.img", dir.path(), limits(0, 60, 4096));
  EXPECT_THAT(r.out, EndsWith("copying \"disk-0/big\" 0x800-0x1b87 4999\n"));
  EXPECT_EQ(r.err, "bfsscan: cannot write \"disk-0/big\": File too large\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(exists(dir / "disk-0/big"));  // no partial file left behind
  EXPECT_FALSE(exists(dir / "disk-0/c"));
  EXPECT_FALSE(exists(dir / "disk-65536"));
}

TEST_F(ExtractTest, FileDataPastTheEndCreatesNoFile) {
  writeFs(dir / "disk.img", 0, {{"a", "whole"}, {"cut", pattern(2000)}});
  { mkbfs::ImageWriter(dir / "disk.img", false).setLength(0x800 + 1000); }
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_THAT(r.out, EndsWith("copying \"disk-0/cut\" 0x800-0xfcf 1999\nend of disk.img\n"));
  EXPECT_EQ(r.err,
            "bfsscan: file system at 0 is truncated: data of inode 4 runs past the end of the "
            "image (3048 bytes); the rest of the image was not scanned (--keep-going scans it)\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readFile(dir / "disk-0/a"), "whole");
  EXPECT_FALSE(exists(dir / "disk-0/cut"));
}

TEST_F(ExtractTest, FileSystemWithoutFilesGetsItsDirectory) {
  writeFs(dir / "disk.img", 0, {});
  const RunResult r = scan("disk.img", dir.path());
  EXPECT_THAT(r.out, EndsWith("directory entry for inode 0x2 '..'\n"
                              "writing files to directory \"disk-0\"\n"
                              "end of disk.img\n"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"disk-0/", "disk.img"}));
}

}  // namespace
