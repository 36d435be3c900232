// The record of a run, end to end: deleted files, free space and a nested
// file system in every output (checked with mactime and the DFXML schema),
// the provenance of an EWF set and of a compressed image, and --name.
#include <climits>
#include <cstdlib>
#include <gmock/gmock.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "harness.h"
#include "scratch_test.h"

namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

// The DFXML schema, beside the source tree; empty when it is not there.
std::string dfxmlSchema() {
  std::string source = __FILE__;
  source = source.substr(0, source.rfind('/'));  // tests
  source = source.substr(0, source.rfind('/'));  // the source tree
  // (absolute: the tests run xmllint in folders of their own)
  char resolved[PATH_MAX];
  const std::string schema = source + "/../shared/dfxml/dfxml.xsd";
  return realpath(schema.c_str(), resolved) != nullptr ? std::string(resolved) : "";
}

class RunRecord : public ScratchTest {
 protected:
  std::string md5(const std::string& path) {
    return run({"/bin/sh", "-c", "md5sum < \"$0\"", path}, dir.path()).out.substr(0, 32);
  }
  // disk.img: notes, big, gone (deleted: slot and entry cleared, the slot's
  // times kept), inner.img (a file system of its own); MARK in three free
  // blocks and in the slack.
  void tracedImage() {
    file("a", "first file");
    mkbfs({"inner.img", "a"});
    file("notes", "hello world");
    file("big", pattern(1500));
    file("gone", "gone file data");
    mkbfs({"--free-blocks", "3", "--marker", "MARK", "--clear-inode", "gone", "--clear-entry",
           "gone", "disk.img", "notes", "big", "gone", "inner.img"});
    // gone's slot (5), with its times: what a deletion leaves behind.
    mkbfs::Inode slot = mkbfs::fileInode(0, 7, 14);
    slot.atime = 600000000;
    slot.mtime = 600000100;
    slot.ctime = 600000200;
    mkbfs::ImageWriter(dir / "disk.img", false).write(mkbfs::slotOffset(5), mkbfs::inodeSlot(slot));
  }

};

TEST_F(RunRecord, DeletedFreeSpaceAndNestingInEveryOutput) {
  tracedImage();
  // The results go into the -C folder, which does not exist yet.
  const RunResult r = bfsscan({"-C", "out", "--json=out/s.json", "--dfxml=out/s.xml",
                               "--bodyfile=out/s.body", "--map=out/m.svg", "--deleted",
                               "--unallocated", "--hash=md5,sha256", "disk.img"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string json = readFile(dir / "out/s.json");
  const std::string body = readFile(dir / "out/s.body");
  const std::string xml = readFile(dir / "out/s.xml");

  // Every piece written has the digests of its file.
  int pieces = 0;
  for (const char* type : {"unallocated", "deleted"}) {
    for (const Json& j : records(json, type)) {
      if (!j.contains("path")) continue;
      ++pieces;
      EXPECT_EQ(j["md5"], md5(dir / ("out/" + j["path"].get<std::string>()))) << j.dump();
      EXPECT_EQ(j["sha256"].get<std::string>().size(), 64u);
    }
  }
  EXPECT_EQ(pieces, 5);  // the candidate, two free runs, two pieces of slack
  const Json end = records(json, "end").at(0);
  EXPECT_EQ(end["deleted_candidates"], 1);
  EXPECT_EQ(end["deleted_names"], 1);
  EXPECT_EQ(end["orphans"], 0);
  EXPECT_EQ(end["unallocated_written"], 4);
  EXPECT_EQ(end["media_hashes"]["md5"], md5(dir / "disk.img"));

  // The nested file system names the file that holds it; the outer none.
  const std::vector<Json> fs = records(json, "fs");
  ASSERT_EQ(fs.size(), 2u);
  EXPECT_FALSE(fs[0].contains("parent"));
  EXPECT_EQ(fs[1]["parent"]["fs"], 0);
  EXPECT_EQ(fs[1]["parent"]["slot"], 6);
  EXPECT_EQ(fs[1]["parent"]["path"], "disk-0/inner.img");
  EXPECT_THAT(xml, HasSubstr("<volume bfsscan:parent_fs=\"0\" bfsscan:parent_inode=\"6\" "
                             "bfsscan:parent_filename=\"disk-0/inner.img\"><partition_offset>" +
                             std::to_string(fs[1]["offset"].get<int>())));

  // The body file: the deleted name, and the candidate with its slot's times.
  EXPECT_THAT(body, HasSubstr("\n0|/disk-0/gone (deleted)|0|-/----------|0|0|0|0|0|0|0\n"));
  EXPECT_THAT(body, HasSubstr("|/disk-0/.bfsscan-deleted/slot-5 (deleted)|5|r/rrw-r--r--|0|0|14|"
                              "600000000|600000100|600000200|0\n"));
  if (!tool("mactime").empty()) {
    const RunResult timeline = run({tool("mactime"), "-b", "out/s.body", "-z", "UTC"}, dir.path());
    EXPECT_EQ(timeline.status, 0) << timeline.err;
    EXPECT_THAT(timeline.out, HasSubstr("Jan 05 1989 10:41:40       14 m..."));  // 600000100, the mtime
    EXPECT_THAT(timeline.out, HasSubstr("/disk-0/.bfsscan-deleted/slot-5 (deleted)"));
  }

  // The DFXML: the deleted name as a fileobject, digests of free space, the
  // run's close; and it validates against the schema.
  EXPECT_THAT(xml, HasSubstr("<fileobject><filename>disk-0/gone</filename><error>deleted name: "
                             "no inode is known</error><alloc>0</alloc></fileobject>"));
  EXPECT_THAT(xml, HasSubstr("filename=\"disk-0/.bfsscan-unallocated/free-"));
  EXPECT_THAT(xml, HasSubstr("<bfsscan:runstats status=\"0\" reached_end=\"1\" end_time=\""));
  EXPECT_THAT(xml, HasSubstr("deleted_names=\"1\""));
  const std::string schema = dfxmlSchema();
  if (!schema.empty()) {
    const RunResult lint = run({"/usr/bin/xmllint", "--noout", "--schema", schema, "out/s.xml"},
                               dir.path());
    EXPECT_EQ(lint.status, 0) << lint.err;
  }
}

TEST_F(RunRecord, EwfSetProvenance) {
  if (tool("ewfacquire").empty()) GTEST_SKIP() << "ewfacquire is not installed";
  tracedImage();
  const RunResult acquired =
      run({tool("ewfacquire"), "-u", "-q", "-t", "ev", "-C", "CASE-7", "-E", "EV-3", "-e", "J. Doe",
           "-D", "desk drive", "-N", "none", "-c", "none", "-f", "encase6", "disk.img"},
          dir.path());
  ASSERT_EQ(acquired.status, 0) << acquired.err;
  const RunResult r = bfsscan({"-n", "--json=e.json", "--dfxml=e.xml", "ev.E01"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string json = readFile(dir / "e.json");
  const Json image = records(json, "image").at(0);
  EXPECT_EQ(image["chain"], Json::array({"ewf"}));
  EXPECT_EQ(image["stored_md5"], md5(dir / "disk.img"));
  EXPECT_EQ(image["acquisition"]["case_number"], "CASE-7");
  EXPECT_EQ(image["acquisition"]["evidence_number"], "EV-3");
  EXPECT_EQ(image["acquisition"]["examiner"], "J. Doe");
  EXPECT_EQ(image["acquisition"]["description"], "desk drive");
  EXPECT_EQ(image["acquisition"]["acquired"].get<std::string>().size(), 19u);  // ISO 8601
  EXPECT_EQ(records(json, "end").at(0)["verified"], true);
  EXPECT_THAT(readFile(dir / "e.xml"), HasSubstr("case_number=\"CASE-7\""));
  EXPECT_THAT(readFile(dir / "e.xml"), HasSubstr(" verified=\"1\""));
}

TEST_F(RunRecord, CompressedImageChain) {
  tracedImage();
  ASSERT_EQ(run({"/bin/gzip", "-k", "disk.img"}, dir.path()).status, 0);
  struct Row {
    const char* label;
    std::vector<std::string> args;
    Json mediaHashes;  // md5 of disk.img when read whole; null when not
  } rows[] = {
      {"whole", {"-n", "--json=g.json", "--hash=md5", "disk.img.gz"}, Json{{"md5", md5(dir / "disk.img")}}},
      // A stop at the first damage reads no further: no digest of the media.
      {"cut", {"-n", "--json=g.json", "--hash=md5", "cut.img.gz"}, Json()},
  };
  const std::string cut = readFile(dir / "disk.img").substr(0, 6000);  // inner.img runs past it
  file("cut.img", cut);
  ASSERT_EQ(run({"/bin/gzip", "-k", "cut.img"}, dir.path()).status, 0);
  for (const Row& row : rows) {
    bfsscan(row.args);
    const std::string json = readFile(dir / "g.json");
    const Json image = records(json, "image").at(0);
    EXPECT_EQ(image["chain"], Json::array({"gzip", "raw"})) << row.label;
    const std::string gz = row.args.back();
    EXPECT_EQ(image["stored_size"], readFile(dir / gz).size()) << row.label;
    EXPECT_EQ(records(json, "end").at(0)["media_hashes"], row.mediaHashes) << row.label;
  }
}

TEST_F(RunRecord, NameSetsTheStem) {
  // Two images of one file name, in two folders, into one folder of results.
  for (const char* folder : {"x", "y"}) {
    run({"/bin/mkdir", folder}, dir.path());
    file(std::string(folder) + "/n", folder);
    mkbfs({std::string(folder) + "/disk.img", std::string(folder) + "/n"});
  }
  for (const char* id : {"x", "y"}) {
    const std::string json = std::string("--json=out/") + id + ".json";
    const RunResult r = bfsscan({"-C", "out", "--name", id, json, "--bodyfile=out/b",
                                 "--map=out/m.svg", std::string(id) + "/disk.img"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr(std::string("writing files to directory \"") + id + "-0\""));
    EXPECT_EQ(readFile(dir / "out/" + id + "-0/n"), id);
    const Json image = records(readFile(dir / ("out/" + std::string(id) + ".json")), "image").at(0);
    EXPECT_EQ(image["name"], id);
    EXPECT_EQ(image["path"], std::string(id) + "/disk.img");
    EXPECT_THAT(readFile(dir / "out/b"), HasSubstr(std::string("|/") + id + "-0/n|"));
    EXPECT_THAT(readFile(dir / "out/m.svg"),
                HasSubstr(std::string("<title>bfsscan map of ") + id + " (" + id + "/disk.img)"));
  }
  const RunResult bad = bfsscan({"--name=a/b", "x/disk.img"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "bfsscan: --name takes a name for a directory, not 'a/b' (see bfsscan --help)\n");
}

}  // namespace
