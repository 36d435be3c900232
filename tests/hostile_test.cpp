// Hostile images: each must finish with little work (bytes read), in little memory, write nothing
// outside its extraction directories, and end with the status its damage
// calls for.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <algorithm>

#include "harness.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

// Memory is bounded by an address-space limit, work by the bytes read
// (counted through the I/O shim); the CPU limit only stops a hang.
RunOptions bounded(uint64_t memoryBytes) {
  RunOptions options = limits(memoryBytes, kHangGuardSeconds);
  options.countReads = true;
  return options;
}

const RunOptions kTight = bounded(64 << 20);

class HostileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string img = dir / "h.img";

  // The work of a run stays within a small multiple of the image and the
  // report: nothing is read again and again.
  void expectReadsWithin(const RunResult& r, uint64_t times, uint64_t budget = 0) {
    struct stat st;
    ASSERT_EQ(::stat(img.c_str(), &st), 0);
    const uint64_t image = static_cast<uint64_t>(st.st_size);
    EXPECT_GT(r.bytesRead, 0u);  // the counting works
    EXPECT_LE(r.bytesRead, budget + times * (image + r.out.size()));
  }

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
  expectReadsWithin(r, 4);
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
  expectReadsWithin(r, 4);
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
  expectReadsWithin(r, 4);
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
  expectReadsWithin(r, 4);
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
  expectReadsWithin(r, 4);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(listTree(dir.path()).size(), 202u);
  EXPECT_EQ(readFile(dir / "h-0/f202"), pattern(1000));
  expectOnlyExtractionDirectories();
}

// A superblock every 31 blocks, each claiming an inode table that reaches
// the end of the image: every table covers those after it. Each run of
// unused slots is read once, not once per file system.
TEST_F(HostileTest, OverlappingTablesAreNotReadAgainAndAgain) {
  const uint64_t length = 64 << 20;
  TestImage t(img);
  unsigned count = 0;
  for (uint64_t b = 0; b + 512 <= length; b += 31 * 512, ++count) {
    const uint32_t start = 388 + 62 * static_cast<uint32_t>((length - b - 388) / 62);
    t.superblock(b, start, start + 1);
  }
  t.length(length);
  const RunResult r = scan("h.img", dir.path(), bounded(32 << 20));
  expectReadsWithin(r, 4);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), count);  // "has no root directory"
  EXPECT_THAT(r.out, EndsWith("end of h.img\n"));
}

// 270,000 inodes in use, each reported; memory stays small all the same.
TEST_F(HostileTest, TableFullOfInodesInBoundedMemory) {
  const uint32_t slots = (16 << 20) / 62;
  const uint32_t start = 388 + 62 * (slots + 2), block = (start + 511) / 512;
  TestImage t(img);
  t.superblock(0, start, start + 1024).inode(0, rootInode(block, 1)).entries(0, block, {{3, "a"}});
  std::string table;
  for (uint32_t i = 3; i < slots + 2; ++i) {
    table += mkbfs::inodeSlot(mkbfs::fileInode(static_cast<uint16_t>(i % 65536 ? i : 1), block, 1));
  }
  t.bytes(mkbfs::slotOffset(3), table).length((block + 2) * 512ull);
  const RunResult r = scan("h.img", dir.path(), bounded(32 << 20));
  expectReadsWithin(r, 4);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.out, HasSubstr("Inode 0x3 "));
  EXPECT_THAT(r.out, EndsWith("end of h.img\n"));
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"h-0/", "h-0/a", "h.img"}));
}

// 20,000 names on one 64 KiB extent ask for 1.2 GiB: the default budget (at
// least 1 GiB for a small image) stops extraction; a dry run counts alike.
TEST_F(HostileTest, NamesSharingOneExtentStopAtTheBudget) {
  const uint16_t files = 20000;
  const uint32_t start = 388 + 62 * (files + 3), dirBlock = (start + 511) / 512;
  const uint32_t dataBlock = dirBlock + (16 * files + 511) / 512;
  TestImage t(img);
  t.superblock(0, start, (dataBlock + 128) * 512).inode(0, rootInode(dirBlock, files));
  std::vector<mkbfs::DirEntry> entries;
  std::string table;
  for (uint16_t ino = 3; ino < files + 3; ++ino) {
    table += mkbfs::inodeSlot(mkbfs::fileInode(ino, dataBlock, 64 << 10));
    entries.push_back({ino, "f" + std::to_string(ino)});
  }
  t.bytes(mkbfs::slotOffset(3), table).entries(0, dirBlock, entries);
  t.bytes(dataBlock * 512ull, pattern(64 << 10)).length((dataBlock + 128) * 512ull);
  const RunResult r = run({BFSSCAN_BIN, "-n", "h.img"}, dir.path(), bounded(64 << 20));
  expectReadsWithin(r, 4, 1 << 30);  // the files are read as if written
  // 16383 files of 64 KiB and the directory's block (4 KiB blocks here).
  EXPECT_EQ(r.err, "bfsscan: the output limit of 1073741824 bytes would be passed (1073680384 "
                   "bytes of disk used): no further files are written; raise it with "
                   "--max-output=SIZE (0 for no limit)\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"h.img"});
}

// A superblock every 31 blocks of a written-out image, each root directory
// reaching the end of the image (and stopping on the next superblock, an
// entry for inode 0x1bad): each directory's bytes are read once, not once
// per file system.
TEST_F(HostileTest, OverlappingDirectoriesAreNotReadAgainAndAgain) {
  const uint64_t length = 64 << 20;
  TestImage t(img);
  t.bytes(0, std::string(length, '\0'));
  unsigned count = 0;
  for (uint64_t b = 0; b + 1024 <= length; b += 31 * 512, ++count) {
    mkbfs::Inode root = rootInode(2, 1);
    root.eblock = static_cast<uint32_t>((length - b - 1) / 512);
    root.eoffset = static_cast<uint32_t>(length - b - 1);
    t.superblock(b, 388 + 62 * 3, static_cast<uint32_t>(length - b)).inode(b, root);
  }
  const RunResult r =
      run({BFSSCAN_BIN, "-k", "h.img"}, dir.path(), bounded(32 << 20));
  expectReadsWithin(r, 4);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), count - 1);  // all but the last
  EXPECT_THAT(r.out, EndsWith("end of h.img\n"));
}

// 1,024 file systems 62 KiB apart in a written-out image, each claiming a
// table that runs past the end: the runs of unused slots read before a
// table is cut off are remembered all the same.
TEST_F(HostileTest, TablesCutOffByTheEndAreNotReadAgainAndAgain) {
  const uint64_t step = 15872 * 4, length = 1024 * step;
  TestImage t(img);
  t.bytes(0, std::string(length, '\0'));
  for (uint64_t b = 0; b < length; b += step) {
    t.superblock(b, 388 + 62 * ((0xFFFFFF00u - 388) / 62), 0xFFFFFFFF);
  }
  const RunResult r =
      run({BFSSCAN_BIN, "-k", "-n", "h.img"}, dir.path(), bounded(32 << 20));
  expectReadsWithin(r, 4);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1024);  // each one truncated
  EXPECT_THAT(r.out, EndsWith("end of h.img\n"));
}

}  // namespace
