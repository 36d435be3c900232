// DFXML, the space no file owns and deleted traces, end to end: images
// made by mkbfs with free blocks, marker bytes in free space and slack, and
// a deleted file; nested, damaged and interrupted runs for the DFXML.
#include <gmock/gmock.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "harness.h"
#include "scratch_test.h"

namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ForensicRecord : public ScratchTest {
 protected:
  // The document, after xmllint found it well-formed.
  std::string wellFormed(const std::string& name) {
    const RunResult lint = run({"/usr/bin/xmllint", "--noout", name}, dir.path());
    EXPECT_EQ(lint.status, 0) << lint.err;
    EXPECT_EQ(lint.err, "");
    return readFile(dir / name);
  }
  // notes (11 bytes), big (1500), and gone (14), deleted: its inode slot
  // and its entry have inode number 0; three free blocks after the files;
  // MARK in the free blocks and in every file's slack.
  void traceImage() {
    file("notes", "hello world");
    file("big", pattern(1500));
    file("gone", "gone file data");
    mkbfs({"--free-blocks", "3", "--marker", "MARK", "--clear-inode", "gone", "--clear-entry",
           "gone", "disk.img", "notes", "big", "gone"});
  }

};

TEST_F(ForensicRecord, UnallocatedAndDeletedLeaveTheReportAsItIs) {
  traceImage();
  const RunResult plain = bfsscan({"-C", "plain", "disk.img"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const RunResult r = bfsscan({"-C", "out", "--json=s.json", "--dfxml=s.xml", "--map=m.svg",
                               "--unallocated", "--deleted", "--hash=sha256", "disk.img"});
  EXPECT_EQ(r.out, plain.out);
  EXPECT_EQ(r.err, plain.err);
  EXPECT_EQ(r.status, plain.status);
  const std::string json = readFile(dir / "s.json");
  const std::string image = readFile(dir / "disk.img");

  // The data area: from the end of the inode table (6 slots) to the last byte.
  const std::vector<Json> area = records(json, "data_area");
  ASSERT_EQ(area.size(), 1u);
  EXPECT_EQ(area[0]["image_offset"], 760);
  EXPECT_EQ(area[0]["length"], 4872);
  EXPECT_EQ(area[0]["overlapping_extents"], false);
  EXPECT_EQ(area[0]["extents_outside"], false);

  struct Run {
    const char* kind;
    uint64_t offset, length;
    const char* path;  // "" when not written
  } expected[] = {
      {"free", 760, 264, ""},  // zeros between the inode table and the root directory
      {"free", 3584, 2048, "disk-0/.bfsscan-unallocated/free-3584"},  // gone's block and 3 more
      {"slack", 1104, 432, ""},  // the root directory's, zeros
      {"slack", 1547, 501, "disk-0/.bfsscan-unallocated/slack-1547"},
      {"slack", 3548, 36, "disk-0/.bfsscan-unallocated/slack-3548"},
  };
  const std::vector<Json> runs = records(json, "unallocated");
  ASSERT_EQ(runs.size(), std::size(expected));
  // Free runs, slack, and the bytes of the inodes in use cover the area once.
  std::map<uint64_t, uint64_t> pieces;
  for (size_t i = 0; i < runs.size(); ++i) {
    const Run& e = expected[i];
    EXPECT_EQ(runs[i]["kind"], e.kind) << i;
    EXPECT_EQ(runs[i]["image_offset"], e.offset) << i;
    EXPECT_EQ(runs[i]["length"], e.length) << i;
    EXPECT_EQ(runs[i].value("path", ""), e.path) << i;
    pieces[e.offset] += e.length;
    if (*e.path) {
      EXPECT_EQ(readFile(dir / "out/" + e.path), image.substr(e.offset, e.length)) << i;
    }
  }
  for (const Json& inode : records(json, "inode")) {
    pieces[inode["image_offset"].get<uint64_t>()] += inode["length"].get<uint64_t>();
  }
  uint64_t at = 760;
  for (const auto& [offset, length] : pieces) {
    EXPECT_EQ(offset, at);
    at = offset + length;
  }
  EXPECT_EQ(at, 5632u);
  EXPECT_EQ(listTree(dir / "out/disk-0/.bfsscan-unallocated"),
            (std::vector<std::string>{"free-3584", "slack-1547", "slack-3548"}));

  // The deleted file comes back from its slot; its name from its entry.
  const std::vector<Json> deleted = records(json, "deleted");
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0]["slot"], 5);
  EXPECT_EQ(deleted[0]["image_offset"], 3584);
  EXPECT_EQ(deleted[0]["length"], 14);
  EXPECT_EQ(deleted[0]["overlaps_live_file"], false);
  EXPECT_EQ(deleted[0]["path"], "disk-0/.bfsscan-deleted/slot-5");
  EXPECT_EQ(readFile(dir / "out/disk-0/.bfsscan-deleted/slot-5"), "gone file data");
  EXPECT_EQ(deleted[0]["sha256"],
            "977e56ebc1da53c628f617367112f58fc8b65222ab6e750a17f5aeb839c88642");
  const std::vector<Json> names = records(json, "deleted_name");
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].dump(), R"({"entry":4,"fs":0,"name":"gone","name_hex":"676f6e65","type":"deleted_name"})");

  // In the DFXML: the deleted file as a fileobject with alloc 0, the runs after it.
  const std::string xml = wellFormed("s.xml");
  EXPECT_THAT(xml, HasSubstr("<filename>disk-0/.bfsscan-deleted/slot-5</filename><filesize>14"
                             "</filesize><alloc>0</alloc><inode>5</inode>"));
  EXPECT_THAT(xml, HasSubstr("<bfsscan:unallocated kind=\"free\" fs_offset=\"3584\" "
                             "img_offset=\"3584\" len=\"2048\" non_zero=\"1\" "
                             "filename=\"disk-0/.bfsscan-unallocated/free-3584\"><hashdigest"));
  EXPECT_EQ(count(xml, "<bfsscan:unallocated "), 5);

  // The map shades the free run that holds data and the three slacks (and
  // shows each in the legend).
  const std::string svg = readFile(dir / "m.svg");
  EXPECT_EQ(count(svg, "class=\"uf\""), 2);
  EXPECT_EQ(count(svg, "class=\"us\""), 4);
  EXPECT_THAT(svg, HasSubstr("<title>free space holding data, bytes 0xe00-0x15ff of the image, "
                             "2048 bytes</title>"));

  // A dry run lists what it would write, and writes nothing.
  const RunResult dry = bfsscan({"-n", "-C", "dry", "--json=d.json", "--unallocated", "--deleted",
                                 "disk.img"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_FALSE(exists(dir / "dry"));
  EXPECT_EQ(records(readFile(dir / "d.json"), "unallocated")[1]["path"],
            "disk-0/.bfsscan-unallocated/free-3584");
  EXPECT_EQ(records(readFile(dir / "d.json"), "deleted")[0]["path"],
            "disk-0/.bfsscan-deleted/slot-5");
}

TEST_F(ForensicRecord, TheBudgetCountsWhatIsWrittenOfUnownedSpace) {
  traceImage();
  // In blocks of 4 KiB (the file system of the temporary directory): the
  // extraction directory and the two files take three; the deleted file's
  // block fits, the free run's does not.
  const RunResult r =
      bfsscan({"--max-output=18000", "--json=s.json", "--unallocated", "--deleted", "disk.img"});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("the output limit of 18000 bytes would be passed (16384 bytes"));
  EXPECT_TRUE(exists(dir / "disk-0/.bfsscan-deleted/slot-5"));
  EXPECT_FALSE(exists(dir / "disk-0/.bfsscan-unallocated"));
}

TEST_F(ForensicRecord, DfxmlOfNestedFileSystemsAgreesWithTheJson) {
  file("a", "first file");
  file("b", pattern(700));
  mkbfs({"inner.img", "a", "b"});
  file("c", "third");
  mkbfs({"disk.img", "inner.img", "c"});
  const RunResult r = bfsscan({"--json=s.json", "--dfxml=s.xml", "--hash=md5", "disk.img"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string xml = wellFormed("s.xml");
  const std::string json = readFile(dir / "s.json");

  const std::vector<Json> fs = records(json, "fs");
  ASSERT_EQ(fs.size(), 2u);
  EXPECT_EQ(count(xml, "<volume>"), 1);  // the nested one names its holder
  EXPECT_EQ(count(xml, "<volume "), 1);
  EXPECT_EQ(count(xml, "</volume>"), 2);
  for (const Json& f : fs) {
    // block_count: the blocks from the superblock through the last byte.
    EXPECT_THAT(xml, HasSubstr("><partition_offset>" + std::to_string(f["offset"].get<int>()) +
                               "</partition_offset><block_size>512</block_size><ftype_str>bfs"
                               "</ftype_str><block_count>" +
                               std::to_string(f["end"].get<uint64_t>() / 512 + 1) +
                               "</block_count>"));
  }
  EXPECT_THAT(xml, HasSubstr("<dc:type>Disk Image</dc:type>"));
  EXPECT_THAT(xml, HasSubstr("<source><image_filename>disk.img</image_filename></source>"));
  EXPECT_THAT(xml, HasSubstr("<program>bfsscan</program>"));

  // One fileobject per inode in use; byte runs and digests as in the JSON.
  EXPECT_EQ(count(xml, "<fileobject>"), 6);
  // The text of line between before and the next after.
  auto between = [](const std::string& line, const std::string& before, const std::string& after) {
    const size_t from = line.find(before);
    if (from == std::string::npos) return std::string();
    const size_t start = from + before.size();
    return line.substr(start, line.find(after, start) - start);
  };
  std::map<std::string, std::string> fromXml, fromJson;
  std::istringstream in(xml);
  for (std::string line; std::getline(in, line);) {
    const std::string md5 = between(line, "<hashdigest type=\"md5\">", "<");
    if (md5.empty() || line.find("<filename>") == std::string::npos) continue;  // the media's
    fromXml[between(line, "<filename>", "<")] = between(line, "img_offset=\"", "\"") + " " +
                                                between(line, " len=\"", "\"") + " " + md5;
  }
  for (const Json& f : records(json, "file")) {
    fromJson[f["path"]] = std::to_string(f["image_offset"].get<uint64_t>()) + " " +
                          std::to_string(f["length"].get<uint64_t>()) + " " +
                          f["md5"].get<std::string>();
  }
  EXPECT_EQ(fromJson.size(), 4u);
  EXPECT_EQ(fromXml, fromJson);
}

TEST_F(ForensicRecord, DfxmlOfDamagedAndInterruptedRunsIsClosed) {
  // A file system whose slot 4 has no valid type, then a sound one: with
  // -k the first stops at the damage and the scan goes on.
  TestImage t(dir / "damaged.img");
  t.superblock(0, mkbfs::slotOffset(5), 5 * 512 - 1);
  t.inode(0, rootInode(2, 2));
  t.entries(0, 2, {{2, "."}, {2, ".."}});
  mkbfs::Inode bad = mkbfs::fileInode(4, 3, 10);
  bad.type = 7;
  t.inode(0, bad);
  t.length(8192);
  file("n", "sound");
  mkbfs({"--at", "8192", "damaged.img", "n"});
  const RunResult damaged = bfsscan({"-k", "-n", "--dfxml=d.xml", "damaged.img"});
  EXPECT_EQ(damaged.status, 3) << damaged.err;
  const std::string xml = wellFormed("d.xml");
  EXPECT_EQ(count(xml, "<volume>"), 2);
  EXPECT_THAT(xml, HasSubstr("<fileobject><error>damaged inode: its type is invalid</error>"
                             "<alloc>1</alloc><inode>4</inode></fileobject>"));
  EXPECT_THAT(xml, HasSubstr("<error>bfsscan: inconsistent file system at 0: "));

  // Interrupted while a file is copied: the document is closed all the same.
  file("big", pattern(3 << 20));
  file("notes", "x");
  mkbfs({"big.img", "notes", "big"});
  RunOptions shim;
  shim.env = {"LD_PRELOAD=" EIO_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0",
              "BFSSCAN_TEST_SIGNAL_AT=" + std::to_string(2 << 20)};
  const RunResult cut = run({BFSSCAN_BIN, "--dfxml=i.xml", "big.img"}, dir.path(), shim);
  EXPECT_EQ(cut.status, 130) << cut.err;
  const std::string interrupted = wellFormed("i.xml");
  EXPECT_THAT(interrupted, HasSubstr("<error>bfsscan: interrupted by SIGINT in the file system at 0</error>\n  </volume>\n  <bfsscan:runstats status=\"130\" reached_end=\"0\" end_time=\""));
  EXPECT_EQ(interrupted.substr(interrupted.size() - 12), "/>\n</dfxml>\n");
}

TEST_F(ForensicRecord, DfxmlOnStandardOutputReplacesTheReport) {
  traceImage();
  const RunResult plain = bfsscan({"-n", "disk.img"});
  const RunResult r = bfsscan({"-n", "--dfxml=-", "disk.img"});
  EXPECT_EQ(r.err, plain.err);
  EXPECT_EQ(r.status, plain.status);
  EXPECT_EQ(r.out.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dfxml ", 0), 0u);
  EXPECT_EQ(r.out.substr(r.out.size() - 9), "</dfxml>\n");
  const RunResult two = bfsscan({"--dfxml=x", "--map=x", "disk.img"});
  EXPECT_EQ(two.err,
            "bfsscan: --bodyfile, --json, --map and --dfxml need different files (see bfsscan "
            "--help)\n");
  EXPECT_EQ(two.status, 1);
}

}  // namespace
