// The SVG map, fed with made-up scan events: well-formed, renders to a
// picture of the expected size with the colours of the outcomes, holds every
// item with its title, stays small when there are thousands of file
// systems, and reports a map that cannot be written.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "harness.h"
#include "output_failure.h"
#include "console.h"
#include "record_events.h"
#include "map_layout.h"
#include "svg_map.h"
#include "svg_writer.h"
#include "xml_text.h"

namespace {

// A picture read back: its size and its pixels as RGBA.
struct Picture {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<uint8_t> rgba;
  bool has(uint32_t rgb) const {
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
      if ((uint32_t{rgba[i]} << 16 | uint32_t{rgba[i + 1]} << 8 | rgba[i + 2]) == rgb) return true;
    }
    return false;
  }
};

Picture readPng(const std::string& path) {
  Picture p;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
  image.format = PNG_FORMAT_RGBA;
  p.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.rgba.data(), 0, nullptr)) return Picture();
  p.width = image.width;
  p.height = image.height;
  return p;
}

// Checks the file with xmllint and renders it; the picture, or an empty one.
Picture checkAndRender(const TempDir& dir, const std::string& svg) {
  const RunResult lint = run({"/usr/bin/xmllint", "--noout", svg}, dir.path());
  EXPECT_EQ(lint.status, 0) << lint.err;
  EXPECT_EQ(lint.err, "");
  const RunResult render = run({"/usr/bin/rsvg-convert", "-o", dir / "map.png", svg}, dir.path());
  EXPECT_EQ(render.status, 0) << render.err;
  EXPECT_EQ(render.err, "");
  return readPng(dir / "map.png");
}

bfsSuperBlock superblock(uint32_t start, uint32_t end) {
  char block[BFS_BSIZE] = {};
  const uint32_t words[] = {htonl(BFS_MAGIC), htonl(start), htonl(end)};
  std::memcpy(block, words, sizeof words);
  return bfsSuperBlock(block, 0);
}

bfsDirent inodeAt(uint16_t ino, uint32_t firstBlock, uint32_t length) {
  bfsDirent d;
  d.d_ino = ino;
  d.d_sblock = firstBlock;
  d.d_eoffset = firstBlock * BFS_BSIZE + length - 1;
  d.d_eblock = d.d_eoffset / BFS_BSIZE;
  return d;
}

// Feeds a file system: its superblock, its inodes (slot 2 the root
// directory at block 2) and the extraction directory.
class Feeder {
 public:
  explicit Feeder(ScanSink& sink) : sink_(sink) {}
  void fileSystem(int64_t base, uint32_t start, uint32_t end, uint32_t rootBytes) {
    base_ = base;
    sb_ = superblock(start, end);
    FileSystemEvent fs;
    fs.base = base;
    fs.magic = sb_.bdsup_bfsmagic;
    fs.start = sb_.bdsup_start;
    fs.end = sb_.bdsup_end;
    fs.slotCount = sb_.numInodes();
    sink_.fileSystem(fs);
    inode(2, 2, rootBytes);
    DirectoryEvent d;
    d.fs = base;
    d.path = "sample-" + std::to_string(base);
    sink_.directory(d);
  }
  void inode(uint16_t slot, uint32_t block, uint32_t length) {
    const bfsDirent d = inodeAt(slot, block, length);
    InodeEvent e;
    e.fs = base_;
    e.slot = slot;
    e.inode = inodeFields(d);
    sink_.inode(e);
  }
  void file(uint16_t slot, uint32_t block, uint32_t length, const std::string& name,
            FileEvent::Status status) {
    FileEvent f;
    f.fs = base_;
    f.slot = slot;
    f.name = name;
    f.dir = "sample-" + std::to_string(base_);
    f.first = block * BFS_BSIZE;
    f.imageOffset = base_ + f.first;
    f.length = length;
    f.status = status;
    sink_.file(f);
  }
  void problem(ProblemEvent::What what, int64_t slot, uint64_t offset, const std::string& text) {
    emitProblem(sink_, what, text, base_, slot, offset);
  }

 private:
  ScanSink& sink_;
  int64_t base_ = 0;
  bfsSuperBlock sb_ = superblock(BFS_BSIZE, BFS_BSIZE + 1);
};

// A 36 KiB image. The file system at 0 claims 64 KiB: its file "tail" runs
// past the end of the image; ".." is skipped; the first "dup" is lost to the
// second; "disk.img" holds a second file system, whose file has a name full
// of markup and bad bytes. A discarded magic at 0x6000, and a count
// mismatch at 0x8000 stops the scan.
void feedSample(ScanSink& sink) {
  Feeder feed(sink);
  sink.start("sample.img");
  ImageEvent image;
  image.path = "sample.img";
  image.length = 0x9000;
  image.format = "raw";
  sink.image(image);

  feed.fileSystem(0, 388 + 62 * 9, 0xFFFF, 48);
  const struct {
    uint16_t slot;
    uint32_t block;
    uint32_t length;
    const char* name;
    FileEvent::Status status;
  } files[] = {
      {3, 3, 100, "hello.txt", FileEvent::kExtracted},
      {4, 4, 200, "..", FileEvent::kSkipped},
      {5, 5, 300, "dup", FileEvent::kExtracted},
      {6, 6, 400, "dup", FileEvent::kExtracted},
      {7, 8, 0x4000, "disk.img", FileEvent::kExtracted},
      {8, 0x44, 0x1000, "tail", FileEvent::kFailed},
  };
  for (const auto& f : files) feed.inode(f.slot, f.block, f.length);
  for (const auto& f : files) {
    if (f.status == FileEvent::kExtracted) feed.file(f.slot, f.block, f.length, f.name, FileEvent::kPending);
    feed.file(f.slot, f.block, f.length, f.name, f.status);
    if (f.slot == 6) feed.problem(ProblemEvent::kLost, 5, 0, "bfsscan: \"sample-0/dup\" of inode 5 was overwritten");
    if (f.slot == 8) {
      feed.problem(ProblemEvent::kTruncated, 8, 0x9000,
                   "bfsscan: file system at 0 is truncated: inode 8 runs past the end of the image");
    }
  }

  feed.fileSystem(0x1000, 388 + 62 * 4, 0x3FFF, 32);
  feed.inode(3, 3, 50);
  feed.file(3, 3, 50, "<x&y>\x01\xff", FileEvent::kExtracted);

  HitEvent discarded;
  discarded.offset = 0x6000;
  discarded.start = 0x800;
  discarded.end = 0x400;
  sink.hit(discarded);
  ProblemEvent violation;
  violation.fs = 0x8000;
  violation.offset = 0x8000;
  violation.what = ProblemEvent::kInconsistent;
  violation.text = "bfsscan: inconsistent file system at 32768: nr == nr2";
  sink.problem(violation);

  EndEvent end;
  end.status = 3;
  end.fileSystems = 2;
  end.filesExtracted = 4;
  end.filesSkipped = 1;
  end.filesLost = 1;
  sink.end(end);
}

TEST(MapTest, SampleIsWellFormedRendersAndHoldsEveryItem) {
  TempDir dir;
  {
    MapSink map(dir / "map.svg");
    feedSample(map);
  }
  EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"map.svg"});  // no temporary left
  const std::string svg = readFile(dir / "map.svg");

  const Picture png = checkAndRender(dir, dir / "map.svg");
  EXPECT_EQ(png.width, 1200u);
  EXPECT_EQ(png.height, 421u);
  // Filled with the colours of the outcomes, not blank.
  const struct {
    const char* what;
    uint32_t rgb;
  } colours[] = {
      {"extracted", 0x009e73}, {"skipped", 0xe69f00},      {"lost", 0xcc79a7},
      {"truncated", 0xd55e00}, {"root directory", 0x0072b2}, {"inode table", 0x56b4e9},
  };
  for (const auto& c : colours) EXPECT_TRUE(png.has(c.rgb)) << c.what;

  const char* const items[] = {
      // the files, with name, slot, offsets, length and outcome
      "<title>'hello.txt'\ninode 3 of the file system at 0x0\nbytes 0x600-0x663 of the image, "
      "100 bytes (100 B)\nextracted to sample-0/hello.txt</title>",
      "<title>'..'\ninode 4 of the file system at 0x0\nbytes 0x800-0x8c7 of the image, 200 bytes "
      "(200 B)\nskipped: no usable name, or its path is the image</title>",
      "<title>'dup'\ninode 5 of the file system at 0x0\nbytes 0xa00-0xb2b of the image, 300 bytes "
      "(300 B)\nlost: overwritten by a later file of the same name</title>",
      "<title>'dup'\ninode 6 of the file system at 0x0\nbytes 0xc00-0xd8f of the image, 400 bytes "
      "(400 B)\nextracted to sample-0/dup</title>",
      "<title>'tail'\ninode 8 of the file system at 0x0\nbytes 0x8800-0x97ff of the image, 4096 "
      "bytes (4.0 KiB)\nnot extracted: past the end of the image, unreadable, or not written</title>",
      // bytes that are markup or not text
      "<title>'&lt;x&amp;y&gt;\\x01\\xff'\ninode 3 of the file system at 0x1000\n",
      // the regions of a file system
      "<title>superblock at 0x1000, 512 bytes</title>",
      "<title>inode table, bytes 0x200-0x3b1 of the file system (434 bytes): inodes 2 to 8</title>",
      "<title>root directory (inode 2), bytes 0x1400-0x141f of the image, 32 bytes</title>",
      "<title>file system at 0x0 (0): 64.0 KiB, inode table to 0x3b2, last byte 0xffff\n"
      "3 extracted, 1 skipped, 1 lost, 1 truncated or unreadable\nextracted into sample-0</title>",
      // nesting, damage and the stop
      "file system at 0x1000, 16.0 KiB: 1 extracted -&gt; sample-4096, inside &apos;disk.img&apos; of the "
      "file system at 0x0</text>",
      "<title>bfsscan: file system at 0 is truncated: inode 8 runs past the end of the image</title>"
      "<rect class=\"hatch\"",
      "<title>magic at 0x6000 discarded: start 0x800 is not below end 0x400</title><line class=\"tk\"",
      "<title>bfsscan: inconsistent file system at 32768: nr == nr2</title><line class=\"x\"",
      ">bfsscan: inconsistent file system at 32768: nr == nr2</text>",
      // the scale and the header
      ">35 KiB</text>",
      "2 file systems | files: 4 extracted, 1 skipped, 1 lost, 1 truncated or unreadable</text>",
      ">status 3: a file system is inconsistent, the scan stopped before the end of the image</text>",
      ">violated condition</text>",
  };
  for (const char* item : items) EXPECT_NE(svg.find(item), std::string::npos) << item;
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  EXPECT_EQ(svg.find("href"), std::string::npos);
}

TEST(MapTest, ThousandsOfFileSystemsAndFilesAreCounted) {
  TempDir dir;
  {
    MapSink map(dir / "map.svg");
    Feeder feed(map);
    map.start("many.img");
    ImageEvent image;
    image.path = "many.img";
    image.length = int64_t{1} << 33;
    image.format = "raw";
    map.image(image);
    // The first file system holds 5,000 files, then 2,047 more with one each.
    for (int n = 0; n < 2048; ++n) {
      const int64_t base = int64_t{n} << 22;
      const uint16_t files = n == 0 ? 5000 : 1;
      feed.fileSystem(base, 388 + 62 * (files + 3), 0x3FFFFF, 32);
      for (uint16_t i = 0; i < files; ++i) feed.inode(3 + i, 0x100 + i, 100);
      for (uint16_t i = 0; i < files; ++i) {
        feed.file(3 + i, 0x100 + i, 100, "f" + std::to_string(i), FileEvent::kExtracted);
      }
      if (n == 0) feed.problem(ProblemEvent::kLost, 4000, 0, "lost");
    }
    EndEvent end;
    end.reachedEnd = true;
    map.end(end);
  }
  const std::string svg = readFile(dir / "map.svg");
  EXPECT_LT(svg.size(), 3u << 20);
  const Picture png = checkAndRender(dir, dir / "map.svg");
  EXPECT_EQ(png.width, 1200u);
  EXPECT_GT(png.height, 1000u);
  const char* const items[] = {
      "2048 file systems | files: 7046 extracted, 1 lost</text>",
      "<title>32 file systems between 0x38000000 and 0x40000000, counted, "
                             "not drawn one by one; files: 32 extracted</title>",
      "<title>512 files starting between 0x200000 and 0x240000 of the file "
                             "system, counted, not drawn one by one: 511 extracted, 1 lost</title>",
  };
  for (const char* item : items) EXPECT_NE(svg.find(item), std::string::npos) << item;
}

// A map that cannot be made fails before the scan; one that cannot be put
// in place at the end is a line on standard error and lost output.
TEST(MapTest, MapThatCannotBeWritten) {
  TempDir dir;
  MapSink early(dir / "missing/map.svg");
  try {
    early.open();
    FAIL() << "no failure";
  } catch (const OutputFailure& e) {
    EXPECT_EQ(std::string(e.what()),
              "cannot write \"" + dir.path() + "/missing/map.svg\": No such file or directory");
  }

  ASSERT_EQ(::mkdir((dir / "gone").c_str(), 0700), 0);
  std::ostringstream out, err;
  StreamConsole console(out, err);
  MapSink late(dir / "gone/map.svg", "", &console);
  late.open();
  ASSERT_EQ(listTree(dir / "gone").size(), 1u);  // the temporary file
  ::unlink((dir / "gone/" + listTree(dir / "gone")[0]).c_str());
  ::rmdir((dir / "gone").c_str());
  late.end(EndEvent());
  EXPECT_EQ(err.str(), "bfsscan: cannot write \"" + dir.path() + "/gone/map.svg\": No such file or directory\n");
  EXPECT_TRUE(late.lostOutput());
}

TEST(MapTest, TextIsMadeSafeForXml) {
  const struct {
    const char* label;
    std::string raw;
    std::string safe;
  } rows[] = {
      {"plain", "unix", "unix"},
      {"markup", "<a & 'b' \"c\">", "&lt;a &amp; &apos;b&apos; &quot;c&quot;&gt;"},
      {"backslash", "a\\x41", "a\\\\x41"},
      {"control bytes", std::string("a\0b\n\x7f", 5), "a\\x00b\\x0a\\x7f"},
      {"valid UTF-8", "\xc3\xa9t\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80", "\xc3\xa9t\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80"},
      {"lone bytes", "\xff\x80z", "\\xff\\x80z"},
      {"cut sequence", "\xe6\x97", "\\xe6\\x97"},
      {"overlong", "\xc0\xaf\xe0\x80\xaf", "\\xc0\\xaf\\xe0\\x80\\xaf"},
      {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
      {"past U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
      {"C1 control", "\xc2\x85", "\\xc2\\x85"},
      {"non-character", "\xef\xbf\xbe", "\\xef\\xbf\\xbe"},
  };
  for (const auto& row : rows) EXPECT_EQ(xmlText(row.raw), row.safe) << row.label;
}

// Hands the events to a model, as the map sink does.
class ModelFeed : public ScanSink {
 public:
  explicit ModelFeed(MapModel& model) : model_(model) {}
  void start(const std::string& path) override { model_.start(path); }
  void image(const ImageEvent& e) override { model_.image(e); }
  void hit(const HitEvent& e) override { model_.hit(e); }
  void fileSystem(const FileSystemEvent& e) override { model_.fileSystem(e); }
  void inode(const InodeEvent& e) override { model_.inode(e); }
  void directory(const DirectoryEvent& e) override { model_.directory(e); }
  void file(const FileEvent& e) override { model_.file(e); }
  void problem(const ProblemEvent& e) override { model_.problem(e); }
  void end(const EndEvent& e) override { model_.end(e); }

 private:
  MapModel& model_;
};

TEST(MapTest, LayoutPlacesBandLanesAndLegend) {
  MapModel model;
  ModelFeed feed(model);
  feedSample(feed);
  const MapLayout l = layOutMap(model);

  EXPECT_EQ(l.band.x0, 20);
  EXPECT_EQ(l.band.width, 1160);
  EXPECT_EQ(l.band.span, 0x9000);
  EXPECT_EQ(l.band.at(0x4800), 600);
  EXPECT_EQ(l.band.at(-5), 20) << "held at the start";
  EXPECT_EQ(l.band.at(0x20000), 1180) << "held at the end";

  // The file system at 0, then the one nested in its "disk.img", indented.
  EXPECT_EQ(l.laneY, (std::vector<double>{162, 226}));
  ASSERT_EQ(l.laneScale.size(), 2u);
  EXPECT_EQ(l.laneScale[0].x0, 20);
  EXPECT_EQ(l.laneScale[0].width, 1160);
  EXPECT_EQ(l.laneScale[0].span, 0x10000);
  EXPECT_EQ(l.laneScale[1].x0, 44);
  EXPECT_EQ(l.laneScale[1].width, 1136);
  EXPECT_EQ(l.laneScale[1].span, 0x4000);
  EXPECT_EQ(l.lanesEnd, 290);

  // Keys run in rows from the left, each as wide as its label.
  ASSERT_GE(l.legend.size(), 7u);
  const double firstRow[] = {20, 117, 220.5, 343.5, 434, 674, 920.5};
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(l.legend[i].x, firstRow[i]) << l.legend[i].label;
    EXPECT_EQ(l.legend[i].y, 306) << l.legend[i].label;
  }
  EXPECT_EQ(std::string(l.legend.back().cls), "gr");
  EXPECT_EQ(l.legend.back().y, 324) << "a second row";
  EXPECT_EQ(l.legendEnd, 342);
  EXPECT_EQ(l.height, 421) << "the legend, then three problems";
}

TEST(MapTest, ScaleTicksAreRoundInOneUnit) {
  const struct {
    const char* label;
    double span;
    int maxTicks;
    std::vector<double> offsets;
    std::vector<std::string> labels;
  } rows[] = {
      {"one byte", 1, 10, {0, 1}, {"0", "1 B"}},
      {"36 KiB by 5", 0x9000, 10, {0, 5120, 10240, 15360, 20480, 25600, 30720, 35840},
       {"0", "5 KiB", "10 KiB", "15 KiB", "20 KiB", "25 KiB", "30 KiB", "35 KiB"}},
      {"64 KiB in at most 6", 0x10000, 6, {0, 20480, 40960, 61440}, {"0", "20 KiB", "40 KiB", "60 KiB"}},
      {"tenths of a unit", 1 << 20, 6, {0, 209715.2, 419430.4, 629145.6, 838860.8, 1048576},
       {"0", "0.2 MiB", "0.4 MiB", "0.6 MiB", "0.8 MiB", "1 MiB"}},
  };
  for (const auto& row : rows) {
    std::vector<double> offsets;
    std::vector<std::string> labels;
    for (const MapTick& t : scaleTicks(row.span, row.maxTicks)) {
      offsets.push_back(t.offset);
      labels.push_back(t.label);
    }
    ASSERT_EQ(offsets.size(), row.offsets.size()) << row.label;
    for (size_t i = 0; i < offsets.size(); ++i) EXPECT_DOUBLE_EQ(offsets[i], row.offsets[i]) << row.label;
    EXPECT_EQ(labels, row.labels) << row.label;
  }
}

TEST(MapTest, TextIsCutToItsWidth) {
  const struct {
    const char* label;
    std::string text;
    double width;
    std::string fitted;
  } rows[] = {
      {"fits", "0123456789", 65, "0123456789"},
      {"one too many", "0123456789A", 65, "0123456..."},
      {"room for the ellipsis only", "abcd", 20, ""},
      {"just fits a small room", "abc", 20, "abc"},
      {"no room", "a", 6, ""},
  };
  for (const auto& row : rows) EXPECT_EQ(fitText(row.text, row.width), row.fitted) << row.label;
}

TEST(MapTest, WriterWritesElements) {
  const std::string longText(600, 'w');
  const struct {
    const char* label;
    void (*draw)(SvgWriter&, const std::string&);
    std::string svg;
  } rows[] = {
      {"rectangle widened to its minimum",
       [](SvgWriter& w, const std::string&) { w.rect("o2", 1, 2.26, 0.5, 4, "t&amp;", 1.5); },
       "<g><title>t&amp;</title><rect class=\"o2\" x=\"1.0\" y=\"2.3\" width=\"1.5\" height=\"4.0\"/></g>\n"},
      {"line", [](SvgWriter& w, const std::string&) { w.line("x", 1, 2, 3, 4, "bad"); },
       "<g><title>bad</title><line class=\"x\" x1=\"1.0\" y1=\"2.0\" x2=\"3.0\" y2=\"4.0\"/></g>\n"},
      {"plain text", [](SvgWriter& w, const std::string&) { w.text(5, 6, "a"); },
       "<text x=\"5.0\" y=\"6.0\">a</text>\n"},
      {"text of a class, anchored",
       [](SvgWriter& w, const std::string&) { w.text(5, 6, "a", "s", "end"); },
       "<text x=\"5.0\" y=\"6.0\" class=\"s\" text-anchor=\"end\">a</text>\n"},
      {"formatted text longer than a buffer",
       [](SvgWriter& w, const std::string& s) { w.printf("<%s>%d", s.c_str(), 7); },
       "<" + longText + ">7"},
  };
  for (const auto& row : rows) {
    StringSvgWriter w;
    row.draw(w, longText);
    EXPECT_EQ(w.str(), row.svg) << row.label;
  }
}

}  // namespace
