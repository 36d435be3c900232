// Salvage of damaged file systems with --keep-going: broken inode slots and
// directory entries are left out, every sound file comes back, and files
// no sound entry names come back as orphans. Images written by mkbfs and
// patched a few bytes at a time.
#include <gmock/gmock.h>

#include <algorithm>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "harness.h"

namespace {

using ::testing::HasSubstr;

const std::vector<mkbfs::File> kFiles = {
    {"a.txt", pattern(700, 1)}, {"b.txt", pattern(1500, 2)}, {"c.txt", pattern(3, 3)},
    {"d.txt", pattern(513, 4)}, {"e.txt", pattern(9000, 5)}};

std::string be16(uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v)}; }
std::string be32(uint32_t v) {
  return be16(static_cast<uint16_t>(v >> 16)) + be16(static_cast<uint16_t>(v));
}

// Field offsets in an inode slot.
constexpr uint32_t kEblock = 6, kType = 14, kNlink = 30;

class SalvageTest : public ::testing::Test {
 public:
  TempDir dir;
  std::string img = dir / "d.img";
  mkbfs::Layout layout = writeImage(img, kFiles);

  void patch(uint64_t pos, const std::string& bytes) {
    mkbfs::ImageWriter(img, false).write(pos, bytes);
  }
  void slotField(uint32_t slot, uint32_t field, const std::string& bytes) {
    patch(mkbfs::slotOffset(slot) + field, bytes);
  }
  // Entry index of the root directory: 0 ".", 1 "..", then one per file.
  void entryIno(uint32_t index, uint16_t ino) {
    patch((layout.start + 511) / 512 * 512 + 16 * index, be16(ino));
  }
};

std::string errLine(const std::string& what) {
  return "bfsscan: inconsistent file system at 0: " + what + "; left out\n";
}

TEST_F(SalvageTest, EverySoundFileComesBack) {
  struct Row {
    const char* label;
    std::function<void(SalvageTest&)> damage;
    std::vector<std::string> files;        // extracted under their names
    std::map<std::string, int> orphans;    // ino-N: index into kFiles
    std::string err;
    int status;
  } rows[] = {
      {"a broken slot in the middle",
       [](SalvageTest& t) { t.slotField(4, kEblock, be32(0)); },
       {"a.txt", "c.txt", "d.txt", "e.txt"}, {},
       errLine("inode slot 4 broken: d_sblock <= d_eblock") +
           errLine("directory entry 3 for inode 0x4 broken: !bfsInodes[bld.l_ino].undefined()"),
       3},
      {"a run of broken slots, each on another condition",
       [](SalvageTest& t) {
         t.slotField(4, kEblock, be32(0));
         t.slotField(5, kType, be32(3));
         t.slotField(6, kNlink, be32(2));
       },
       {"a.txt", "e.txt"}, {},
       errLine("inode slots 4 to 6 broken (3 slots; the first: d_sblock <= d_eblock)") +
           errLine("directory entries 3 to 5 broken (3 entries; the first, for inode 0x4: "
                   "!bfsInodes[bld.l_ino].undefined())"),
       3},
      {"a broken directory entry: its file is an orphan",
       [](SalvageTest& t) { t.entryIno(4, 0x7777); },
       {"a.txt", "b.txt", "d.txt", "e.txt"}, {{"ino-5", 2}},
       errLine("directory entry 4 for inode 0x7777 broken: bld.l_ino < bsb.numInodes()"), 3},
      {"a broken root slot: every file is an orphan",
       [](SalvageTest& t) { t.slotField(2, kType, be32(1)); },
       {}, {{"ino-3", 0}, {"ino-4", 1}, {"ino-5", 2}, {"ino-6", 3}, {"ino-7", 4}},
       errLine("inode slot 2 broken: bd.isDirectory()"), 3},
      {"a root directory past the end of the image: every file is an orphan",
       [](SalvageTest& t) {
         t.slotField(2, 2, be32(0x100000) + be32(0x100000) + be32(0x100000 * 512 + 15));
       },
       {}, {{"ino-3", 0}, {"ino-4", 1}, {"ino-5", 2}, {"ino-6", 3}, {"ino-7", 4}},
       "bfsscan: file system at 0 is truncated: root directory runs past the end of the image "
       "(LENGTH bytes)\n",
       2},
      {"a slot in use that no entry names",
       [](SalvageTest& t) { t.entryIno(5, 0); },
       {"a.txt", "b.txt", "c.txt", "e.txt"}, {{"ino-6", 3}}, "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    TempDir work;
    img = work / "d.img";
    layout = writeImage(img, kFiles);
    row.damage(*this);
    std::string err = row.err;
    const size_t at = err.find("LENGTH");
    if (at != std::string::npos) {
      err.replace(at, 6, std::to_string(mkbfs::ImageWriter(img, false).length()));
    }
    const RunResult r = run({BFSSCAN_BIN, "-k", "d.img"}, work.path());
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, row.status);
    std::vector<std::string> expected = {"d-0/", "d.img"};
    for (const std::string& name : row.files) expected.push_back("d-0/" + name);
    if (!row.orphans.empty()) expected.push_back("d-0/.bfsscan-orphans/");
    for (const auto& [name, index] : row.orphans) {
      expected.push_back("d-0/.bfsscan-orphans/" + name);
      EXPECT_EQ(readFile(work / "d-0/.bfsscan-orphans/" + name), kFiles[index].data) << name;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listTree(work.path()), expected);
    for (const mkbfs::File& f : kFiles) {
      if (std::count(row.files.begin(), row.files.end(), f.name) == 0) continue;
      EXPECT_EQ(readFile(work / "d-0/" + f.name), f.data) << f.name;
    }
    EXPECT_THAT(r.out, HasSubstr("end of d.img\n"));
  }
}

// A broken slot's report line ends with its condition; the map marks it.
TEST_F(SalvageTest, ABrokenSlotLineIsCompleted) {
  slotField(4, kEblock, be32(0));
  slotField(5, kType, be32(3));
  slotField(6, kNlink, be32(2));
  const RunResult r = run({BFSSCAN_BIN, "-k", "-n", "--map=m.svg", "d.img"}, dir.path());
  EXPECT_THAT(r.out, HasSubstr("Inode 0x4 broken: d_sblock <= d_eblock\nInode 0x5 0x"));
  // The map marks the run where it starts.
  EXPECT_THAT(readFile(dir / "m.svg"),
              HasSubstr("<g><title>bfsscan: inconsistent file system at 0: inode slots 4 to 6"));
  EXPECT_THAT(r.out, HasSubstr(" broken: (d_fattr.va_type == BFS_VDIR) || "
                               "(d_fattr.va_type == BFS_VREG)\nInode 0x6 0x"));
  EXPECT_THAT(r.out, HasSubstr(" links 2 broken: bd.d_fattr.va_nlink == 1\nInode 0x7 "));
}

// Without --keep-going the run stops as it always did; its line says so.
TEST_F(SalvageTest, WithoutKeepGoingTheRunStopsAndSaysSo) {
  slotField(4, kEblock, be32(0));
  const RunResult r = scan("d.img", dir.path());
  EXPECT_EQ(r.err, "bfsscan: inconsistent file system at 0: d_sblock <= d_eblock; the rest of the "
                   "image was not scanned (--keep-going scans it)\n");
  EXPECT_EQ(r.status, 3);
  EXPECT_THAT(r.out, ::testing::EndsWith("\nInode 0x4 \n"));
  EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"d.img"});
}

TEST_F(SalvageTest, ARunOfTenThousandBrokenSlotsIsOneLine) {
  const uint32_t slots = 10000, last = 3 + slots;  // slots 3 .. 10002 broken, 10003 sound
  const uint32_t start = 388 + 62 * (last + 1), dirBlock = (start + 511) / 512;
  TestImage t(img);
  t.superblock(0, start, (dirBlock + 4) * 512 - 1).inode(0, rootInode(dirBlock, 1));
  mkbfs::Inode broken = mkbfs::fileInode(1, 9, 10);
  broken.eblock = 8;
  std::string table;
  for (uint32_t i = 0; i < slots; ++i) table += mkbfs::inodeSlot(broken);
  t.bytes(mkbfs::slotOffset(3), table);
  t.inodeAt(0, last, mkbfs::fileInode(static_cast<uint16_t>(last), dirBlock + 1, 5));
  t.entries(0, dirBlock, {{static_cast<uint16_t>(last), "z"}});
  t.bytes((dirBlock + 1) * 512ull, "zzzzz").length((dirBlock + 4) * 512ull);
  RunOptions counted;
  counted.countReads = true;
  const RunResult r = run({BFSSCAN_BIN, "-k", "d.img"}, dir.path(), counted);
  // Read once: the table, the directory and the file, nothing again and again.
  EXPECT_GT(r.bytesRead, 0u);
  EXPECT_LE(r.bytesRead, 4 * ((dirBlock + 4) * 512ull));
  EXPECT_EQ(r.err, errLine("inode slots 3 to 10002 broken (10000 slots; the first: "
                           "d_sblock <= d_eblock)"));
  EXPECT_EQ(r.status, 3);
  size_t lines = 0;
  const std::string line = "broken: d_sblock <= d_eblock\n";
  for (size_t p = 0; (p = r.out.find(line, p)) != std::string::npos; ++p) ++lines;
  EXPECT_EQ(lines, slots);
  EXPECT_EQ(readFile(dir / "d-0/z"), "zzzzz");
}

// An orphan in every results file: its own JSON record, a DFXML fileobject
// without a name, a body-file line under the directory of orphans.
TEST_F(SalvageTest, OrphansInTheResults) {
  entryIno(4, 0x7777);
  const RunResult r = run({BFSSCAN_BIN, "-k", "--json=j", "--bodyfile=b", "--dfxml=x",
                           "--hash=md5", "d.img"},
                          dir.path());
  EXPECT_EQ(r.status, 3);
  const std::string json = readFile(dir / "j");
  const size_t at = json.find("{\"type\":\"orphan\"");
  ASSERT_NE(at, std::string::npos);
  const nlohmann::json o = nlohmann::json::parse(json.substr(at, json.find('\n', at) - at));
  EXPECT_EQ(o["slot"], 5);
  EXPECT_EQ(o["path"], "d-0/.bfsscan-orphans/ino-5");
  EXPECT_EQ(o["length"], 3);
  EXPECT_EQ(o["status"], "extracted");
  EXPECT_EQ(o["md5"].get<std::string>().size(), 32u);
  EXPECT_EQ(o["mode"], "0100644");
  const std::string md5 = o["md5"];
  EXPECT_THAT(readFile(dir / "b"), HasSubstr(md5 + "|/d-0/.bfsscan-orphans/ino-5|5|r/rrw-r--r--|"));
  EXPECT_THAT(readFile(dir / "x"),
              HasSubstr("<fileobject><filesize>3</filesize><alloc>1</alloc><orphan>1</orphan>"
                        "<inode>5</inode>"));
  // The listing and the HTML page have it too, by its path among the orphans.
  const RunResult list = run({BFSSCAN_BIN, "-k", "--list", "d.img"}, dir.path());
  EXPECT_THAT(list.out, HasSubstr("\td-0/.bfsscan-orphans/ino-5\n"));
  run({BFSSCAN_BIN, "-k", "-n", "--html=h.html", "d.img"}, dir.path());
  EXPECT_THAT(readFile(dir / "h.html"), HasSubstr("d-0/.bfsscan-orphans/ino-5"));
}

}  // namespace
