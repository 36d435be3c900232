// Hostile images: each must finish quickly, in little memory, write nothing
// outside its extraction directories, and end with the status its damage
// calls for.
#include <gmock/gmock.h>

#include <algorithm>

#include "harness.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

const RunOptions kTight = limits(64 << 20, 10);

class HostileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string img = dir / "h.img";

  // Every entry of the working directory but the image is an extraction
  // directory of it, holding plain files only.
  void expectOnlyExtractionDirectories() {
    for (const std::string& p : listTree(dir.path())) {
      if (p == "h.img") continue;
      EXPECT_EQ(p.rfind("h-", 0), 0u) << p;
      const size_t slash = p.find('/');
      EXPECT_TRUE(slash == p.size() - 1 || p.find('/', slash + 1) == std::string::npos) << p;
    }
  }
};

TEST_F(HostileTest, FileClaimingFourGiB) {
  mkbfs::Inode big = mkbfs::fileInode(3, 3, 1);
  big.eblock = 0x7FFFFE;
  big.eoffset = 0xFFFFFDFF;
  TestImage(img).superblock(0, 388 + 62 * 4, 0x1000).inode(0, rootInode(2, 1)).inode(0, big)
      .entries(0, 2, {{3, "big"}}).length(1 << 16);
  const RunResult r = scan("h.img", dir.path(), kTight);
  EXPECT_THAT(r.out, EndsWith("copying \"h-0/big\" 0x600-0xfffffdff 4294965247\nend of h.img\n"));
  EXPECT_EQ(r.err, "bfsscan: file system at 0 is truncated: data of inode 3 runs past the end of "
                   "the image (65536 bytes); the rest of the image was not scanned (--keep-going scans it)\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"h-0/", "h.img"}));
}

TEST_F(HostileTest, SuperblockInEveryBlock) {
  TestImage t(img);
  for (uint64_t s = 0; s < (1 << 20); s += 512) t.superblock(s, 0x200, 0x1000);
  const RunResult r = scan("h.img", dir.path(), kTight);
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.out, HasSubstr("hit magic at 0xffe00 (1048064)\n"));
  EXPECT_THAT(r.out, EndsWith("writing files to directory \"h-1048064\"\nend of h.img\n"));
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2048);
  EXPECT_EQ(listTree(dir.path()).size(), 2049u);
  expectOnlyExtractionDirectories();
}

TEST_F(HostileTest, NamesOfEveryByte) {
  // Inode 2 + b holds the name "n", byte b, "x" for b = 1 to 255.
  TestImage t(img);
  t.superblock(0, 388 + 62 * 258, 1 << 20).length(1 << 20);
  std::vector<mkbfs::DirEntry> entries;
  for (int b = 1; b <= 255; ++b) {
    const uint16_t ino = static_cast<uint16_t>(2 + b);
    t.inode(0, mkbfs::fileInode(ino, 100 + b, 1)).bytes((100 + b) * 512ull, std::string(1, char(b)));
    entries.push_back({ino, std::string("n") + char(b) + "x"});
  }
  t.inode(0, rootInode(40, 255)).entries(0, 40, entries);
  const RunResult r = scan("h.img", dir.path(), kTight);
  EXPECT_EQ(r.err, "bfsscan: file system at 0: inode 49 not extracted: unsafe name 'n/x'\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.out, HasSubstr("directory entry for inode 0x3 'n\x01x'\n"));
  EXPECT_THAT(r.out, HasSubstr("copying \"h-0/n&\"x\" "));
  EXPECT_THAT(r.out, HasSubstr("copying \"h-0/n&&x\" "));
  EXPECT_THAT(r.out, HasSubstr("copying \"h-0/n\nx\" "));
  for (int b = 1; b <= 255; ++b) {
    if (b == '/') continue;
    EXPECT_EQ(readFile(dir / (std::string("h-0/n") + char(b) + "x")), std::string(1, char(b)))
        << b;
  }
  EXPECT_EQ(listTree(dir.path()).size(), 2u + 254u);
  expectOnlyExtractionDirectories();
}

TEST_F(HostileTest, FileSystemsNestedInFiles) {
  const std::string inner = dir / "inner.tmp", middle = dir / "middle.tmp";
  {
    mkbfs::ImageWriter w(inner);
    mkbfs::writeFileSystem(w, 0, {{"deepest", "three levels down"}});
  }
  {
    mkbfs::ImageWriter w(middle);
    mkbfs::writeFileSystem(w, 0, {{"inner.img", readFile(inner)}, {"mid", "two"}});
  }
  const std::string middleBytes = readFile(middle);
  ::unlink(inner.c_str());
  ::unlink(middle.c_str());
  mkbfs::Layout outer;
  {
    mkbfs::ImageWriter w(img);
    outer = mkbfs::writeFileSystem(w, 0, {{"middle.img", middleBytes}, {"top", "one"}});
  }
  const RunResult r = scan("h.img", dir.path(), kTight);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  const uint64_t m = outer.sblocks[0] * 512ull;  // the middle file system's base
  const uint64_t i = m + 3 * 512;                // its first file: the inner image
  EXPECT_EQ(readFile(dir / "h-0/middle.img"), middleBytes);
  EXPECT_EQ(readFile(dir / ("h-" + std::to_string(m) + "/mid")), "two");
  EXPECT_EQ(readFile(dir / ("h-" + std::to_string(i) + "/deepest")), "three levels down");
  expectOnlyExtractionDirectories();
}

TEST_F(HostileTest, TwoHundredFilesOnTheSameBlocks) {
  TestImage t(img);
  t.superblock(0, 388 + 62 * 203, 1 << 16).length(1 << 16);
  std::vector<mkbfs::DirEntry> entries;
  for (uint16_t ino = 3; ino < 203; ++ino) {
    t.inode(0, mkbfs::fileInode(ino, 40, 1000));
    entries.push_back({ino, "f" + std::to_string(ino)});
  }
  t.inode(0, rootInode(30, 200)).entries(0, 30, entries).bytes(40 * 512, pattern(1000));
  const RunResult r = scan("h.img", dir.path(), kTight);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(listTree(dir.path()).size(), 202u);
  EXPECT_EQ(readFile(dir / "h-0/f202"), pattern(1000));
  expectOnlyExtractionDirectories();
}

}  // namespace
