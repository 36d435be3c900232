// Decoding, reporting and checking of the on-disk records, in-process.
#include <gtest/gtest.h>

#include <sstream>

#include "consistency.h"
#include "image_builder.h"
#include "console.h"
#include "record_events.h"
#include "text_report.h"
#include "sys/fs/bfs.h"

namespace {

// Decodes records as the scan does, with their events sent to a text
// report whose output the test takes.
class Records : public ::testing::Test {
 protected:
  bool detect(const std::string& raw, int64_t s) { return detectAndReport(raw.data(), s, report_); }
  bfsDirent decode(const std::string& raw) { return decodeAndReport(raw.data(), 0, 3, report_); }
  bfsLDirs entry(const std::string& raw) { return decodeAndReportEntry(raw.data(), 0, report_); }
  std::string take() {
    std::string s = out_.str();
    out_.str("");
    return s;
  }
  std::ostringstream out_;
  std::ostringstream err_;
  StreamConsole console_{out_, err_};
  TextReport report_{console_, "disk.img"};
};

std::string violation(const std::function<void()>& f) {
  try {
    f();
  } catch (const InconsistentFileSystem& e) {
    return e.condition();
  }
  return "";
}

TEST_F(Records, SlotArithmetic) {
  EXPECT_EQ(bfsDirent::bfsINO2OFF(0), 388u);
  EXPECT_EQ(bfsDirent::bfsINO2OFF(1), 450u);
  EXPECT_EQ(bfsDirent::bfsINO2OFF(2), 512u);
  EXPECT_EQ(bfsDirent::bfsINO2OFF(3), 574u);
  EXPECT_EQ(bfsDirent::bfsINO2OFF(69273659), 0xFFFFFFCEu);
  EXPECT_EQ(bfsDirent::bfsINO2OFF(69273660), 12u);  // wraps
}

TEST_F(Records, NumInodes) {
  struct Case {
    uint32_t start;
    uint64_t want;
  } cases[] = {{512, 2}, {512 + 62 * 3, 5}, {388, 0}, {450, 1}, {0xFFFFFFCE, 69273659},
               {0, 69273659} /* the subtraction wraps */};
  for (const Case& c : cases) {
    const std::string raw = mkbfs::superblock(c.start, 0xFFFFFFFF);
    EXPECT_EQ(bfsSuperBlock(raw.data(), 0).numInodes(), c.want) << c.start;
  }
}

TEST_F(Records, SuperblockDecodesOnlyMagicStartEnd) {
  std::string raw = mkbfs::superblock(0x23e, 0x1000);
  raw[12] = 0x12;
  const bfsSuperBlock bsb(raw.data(), 1024);
  EXPECT_EQ(bsb.bdsup_bfsmagic, 0x1badfaceu);
  EXPECT_EQ(bsb.bdsup_start, 0x23eu);
  EXPECT_EQ(bsb.bdsup_end, 0x1000u);
  EXPECT_EQ(bsb.bdcp_fromblock, 0x12u);  // left in disk order
  EXPECT_EQ(take(), "");
}

TEST_F(Records, SuperblockConditions) {
  const std::string good = mkbfs::superblock(0x23e, 0x1000);
  const std::string flat = mkbfs::superblock(0x1000, 0x1000);
  EXPECT_EQ(violation([&] { bfsSuperBlock(good.data(), 100); }), "(pos % BFS_BSIZE) == 0");
  EXPECT_EQ(violation([&] { bfsSuperBlock(flat.data(), 0); }), "bdsup_start < bdsup_end");
}

TEST_F(Records, DetectWorkedExample) {
  const std::string raw = mkbfs::superblock(0x23e, 0x1000);
  EXPECT_TRUE(detect(raw, 512));
  EXPECT_EQ(take(),
            "hit magic at 0x200 (512)\n"
            "Start: 0x23e (0x43e)\n"
            "End: 0x1000 (0x1200)\n"
            "size of inode: 0x3e (62)\n"
            "position of inode 0: 0x184\n"
            "position of inode 2: 0x200\n"
            "position of inode 3: 0x23e\n"
            "3\n"
            "number of inodes: 3\n"
            "offset after last inode: 0x23e\n");
}

TEST_F(Records, DetectCases) {
  struct Case {
    uint32_t start, end;
    int64_t s;
    bool accepted;
    std::string condition;  // violated condition, if any
    std::string lastLine;
  } cases[] = {
      {0x200, 0x1000, 0, true, "", "offset after last inode: 0x200\n"},
      {388, 0x1000, 0, true, "", "offset after last inode: 0x184\n"},
      {0x1000, 0x1000, 0, false, "", "end >= start, discarded\n"},
      {0x2000, 0x1000, 0, false, "", "end >= start, discarded\n"},
      {600, 0x1000, 0, false, "nr == nr2", "3\n"},
      {0, 0x1000, 0, false, "nr == nr2", "69273659\n"},
      {387, 0x1000, 0, false, "nr == nr2", "69273666\n"},
      {0xFFFFFFCE, 0xFFFFFFFF, 0, true, "", "offset after last inode: 0xffffffce\n"},
      {0xFFFFFFD0, 0xFFFFFFFF, 0, false, "nr == nr2", "69273659\n"},
      {0xFFFFFFFE, 0xFFFFFFFF, 0, false, "nr == nr2", "69273659\n"},
  };
  for (const Case& c : cases) {
    const std::string raw = mkbfs::superblock(c.start, c.end);
    bool accepted = false;
    EXPECT_EQ(violation([&] { accepted = detect(raw, c.s); }), c.condition)
        << c.start;
    EXPECT_EQ(accepted, c.accepted) << c.start;
    const std::string out = take();
    const size_t cut = out.rfind('\n', out.size() - 2);
    EXPECT_EQ(out.substr(cut == std::string::npos ? 0 : cut + 1), c.lastLine) << c.start;
  }
}

TEST_F(Records, DetectAtZeroAndNoMagic) {
  std::string raw = mkbfs::superblock(0x200, 0x1000);
  EXPECT_TRUE(detect(raw, 0));
  EXPECT_EQ(take().substr(0, 20), "hit magic at 0 (0)\nS");
  for (int i = 0; i < 4; ++i) {
    std::string bad = raw;
    bad[i] = static_cast<char>(bad[i] ^ 0x40);
    EXPECT_FALSE(detect(bad, 0));
  }
  EXPECT_EQ(take(), "");
}

mkbfs::Inode inode3() {
  mkbfs::Inode in;
  in.ino = 3;
  in.sblock = 5;
  in.eblock = 6;
  in.eoffset = 0xc1f;
  in.gid = 3;
  return in;
}

TEST_F(Records, InodeWorkedExample) {
  const std::string raw = mkbfs::inodeSlot(inode3());
  const bfsDirent bd = decode(raw);
  EXPECT_EQ(take(),
            "Inode 0x3 0x5[0xa00] - 0x6[0xc00] (0xc1f) size 0x21f (543)\n"
            "type reg mode 0100644 owner 0/3 links 1\n");
  EXPECT_FALSE(bd.undefined());
  EXPECT_TRUE(bd.isRegular());
  EXPECT_FALSE(bd.isDirectory());
}

TEST_F(Records, InodeLines) {
  struct Case {
    const char* what;
    mkbfs::Inode in;
    std::string want;
  };
  mkbfs::Inode oneByte = inode3(), dir = inode3(), zero = inode3(), edge = inode3();
  oneByte.eblock = 5;
  oneByte.eoffset = 0xa00;
  dir.type = 2;
  dir.mode = 040755;
  dir.nlink = 7;
  zero.mode = 0;
  zero.uid = 4294967295u;
  edge.eoffset = 6 * 512 + 511;
  const Case cases[] = {
      {"one byte", oneByte,
       "Inode 0x3 0x5[0xa00] - 0x5[0xa00] (0xa00) size 0 (0)\n"
       "type reg mode 0100644 owner 0/3 links 1\n"},
      {"directory", dir,
       "Inode 0x3 0x5[0xa00] - 0x6[0xc00] (0xc1f) size 0x21f (543)\n"
       "type dir mode 040755 owner 0/3 links 7\n"},
      {"mode 0", zero,
       "Inode 0x3 0x5[0xa00] - 0x6[0xc00] (0xc1f) size 0x21f (543)\n"
       "type reg mode 0 owner 4294967295/3 links 1\n"},
      {"last byte of last block", edge,
       "Inode 0x3 0x5[0xa00] - 0x6[0xc00] (0xdff) size 0x3ff (1023)\n"
       "type reg mode 0100644 owner 0/3 links 1\n"},
  };
  for (const Case& c : cases) {
    const std::string raw = mkbfs::inodeSlot(c.in);
    decode(raw);
    EXPECT_EQ(take(), c.want) << c.what;
  }
}

TEST_F(Records, InodeConditions) {
  struct Case {
    const char* what;
    uint32_t sblock, eblock, eoffset, type;
    std::string condition, out;
  };
  const std::string open = "Inode 0x3 \n";
  const std::string line1 = "Inode 0x3 0x5[0xa00] - 0x6[0xc00] (0xc1f) size 0x21f (543)\n";
  const Case cases[] = {
      {"backwards", 7, 6, 0xe00, 1, "d_sblock <= d_eblock", open},
      {"before first block", 5, 6, 0x9ff, 1, "d_sblock * BFS_BSIZE <= d_eoffset", open},
      {"past last block", 5, 6, 0xe00, 1, "d_eoffset < (d_eblock * BFS_BSIZE) + BFS_BSIZE",
       open},
      {"end block wraps", 5, 0x7FFFFF, 0xc1f, 1,
       "d_eoffset < (d_eblock * BFS_BSIZE) + BFS_BSIZE", open},
      {"type 3", 5, 6, 0xc1f, 3,
       "(d_fattr.va_type == BFS_VDIR) || (d_fattr.va_type == BFS_VREG)", line1},
      {"type 0", 5, 6, 0xc1f, 0,
       "(d_fattr.va_type == BFS_VDIR) || (d_fattr.va_type == BFS_VREG)", line1},
  };
  for (const Case& c : cases) {
    mkbfs::Inode in = inode3();
    in.sblock = c.sblock;
    in.eblock = c.eblock;
    in.eoffset = c.eoffset;
    in.type = c.type;
    const std::string raw = mkbfs::inodeSlot(in);
    EXPECT_EQ(violation([&] { decode(raw); }), c.condition) << c.what;
    EXPECT_EQ(take(), c.out) << c.what;
    EXPECT_EQ(violation([&] { bfsDirent(raw.data(), 0); }), c.condition) << c.what;
    EXPECT_EQ(take(), "") << c.what << ": the record itself reports nothing";
  }
}

TEST_F(Records, UnusedInode) {
  std::string raw = mkbfs::inodeSlot(inode3());
  raw[0] = raw[1] = 0;
  const bfsDirent bd = decode(raw);
  EXPECT_TRUE(bd.undefined());
  EXPECT_EQ(take(), "");
  EXPECT_EQ(violation([&] { (void)bd.isDirectory(); }), "!undefined()");
  EXPECT_EQ(violation([&] { (void)bd.isRegular(); }), "!undefined()");
  EXPECT_TRUE(bfsDirent().undefined());
}

TEST_F(Records, DirectoryEntries) {
  struct Case {
    std::string raw;
    std::string name, out;
  } cases[] = {
      {mkbfs::dirEntries({{3, "unix"}}), "unix", "directory entry for inode 0x3 'unix'\n"},
      {mkbfs::dirEntries({{0x1234, "abcdefghijklmn"}}), "abcdefghijklmn",
       "directory entry for inode 0x1234 'abcdefghijklmn'\n"},
      {std::string("\0\x05" "ab\0cdefghijkl", 16), "ab", "directory entry for inode 0x5 'ab'\n"},
      {std::string("\0\x02.\0\0\0\0\0\0\0\0\0\0\0\0\0", 16), ".",
       "directory entry for inode 0x2 '.'\n"},
      {mkbfs::dirEntries({{7, "q\"&\x01 x'"}}), "q\"&\x01 x'",
       "directory entry for inode 0x7 'q\"&\x01 x''\n"},
      {mkbfs::dirEntries({{0, "ghost"}}), "ghost", ""},
      {std::string(16, '\0'), "", ""},
  };
  for (const Case& c : cases) {
    const bfsLDirs bld = entry(c.raw);
    EXPECT_EQ(bld.toString(), c.name);
    EXPECT_EQ(take(), c.out);
  }
}

}  // namespace
