// The body file, the JSON Lines file and the hashes, end to end: one image
// with two file systems, odd names (|, newline, bytes above 0x7f), an inode
// that no entry names, and non-zero times.
#include <gmock/gmock.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "harness.h"

namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

mkbfs::Inode timed(mkbfs::Inode inode) {
  inode.atime = 1000000001;
  inode.mtime = 1000000002;
  inode.ctime = 1000000003;
  return inode;
}

// A file system at base: the root directory in block 2, file i in slot and
// block 3 + i; entries name some of the files.
void writeFileSystem(TestImage& t, uint64_t base, const std::vector<std::string>& data,
                     const std::vector<mkbfs::DirEntry>& names) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  t.superblock(base, mkbfs::slotOffset(3 + n), (3 + n) * 512 - 1);
  std::vector<mkbfs::DirEntry> entries{{2, "."}, {2, ".."}};
  entries.insert(entries.end(), names.begin(), names.end());
  t.inode(base, timed(rootInode(2, static_cast<uint32_t>(entries.size()))));
  t.entries(base, 2, entries);
  for (uint32_t i = 0; i < n; ++i) {
    t.inode(base, timed(mkbfs::fileInode(static_cast<uint16_t>(3 + i), 3 + i, data[i].size())));
    t.bytes(base + (3 + i) * 512, data[i]);
  }
}

class MachineOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    TestImage t(img);
    writeFileSystem(t, 0, {"pipe", "newline", "bytes", "orphan"},
                    {{3, "a|b"}, {4, "nl\nx"}, {5, "\xc3\xbc\xff"}});  // slot 6 unnamed
    writeFileSystem(t, 8192, {pattern(1500)}, {{3, "plain"}});
    t.length(16384);
  }

  RunResult bfsscan(std::vector<std::string> args, const std::string& cwd) {
    args.insert(args.begin(), BFSSCAN_BIN);
    return run(args, cwd);
  }

  TempDir dir;
  std::string img = dir / "disk.img";
};

TEST_F(MachineOutput, BodyFileJsonAndHashesLeaveTheRunAsItIs) {
  const RunResult plain = bfsscan({"-C", "plain", "disk.img"}, dir.path());
  ASSERT_EQ(plain.status, 2) << plain.err;  // the unnamed inode is not extracted
  const RunResult r = bfsscan(
      {"-C", "out", "--bodyfile=body", "--json=scan.json", "--hash=md5,sha256", "disk.img"},
      dir.path());
  EXPECT_EQ(r.out, plain.out);
  EXPECT_EQ(r.err, plain.err);
  EXPECT_EQ(r.status, plain.status);
  EXPECT_EQ(listTree(dir / "out"), listTree(dir / "plain"));

  // One line per inode in use; mactime takes every one of them.
  const std::vector<std::string> body = lines(readFile(dir / "body"));
  ASSERT_EQ(body.size(), 7u);
  EXPECT_EQ(body[1],
            "20826a3cb51d6c7d9c219c7f4bf4e5c9|/disk-0/a\\x7cb|3|r/rrw-r--r--|0|0|4|"
            "1000000001|1000000002|1000000003|0");
  RunOptions utc;
  utc.env = {"TZ=UTC"};
  const RunResult timeline =
      run({"/bin/sh", "-c", "exec mactime -b \"$0\"", dir / "body"}, dir.path(), utc);
  EXPECT_EQ(timeline.status, 0) << timeline.err;
  for (const std::string name :
       {"/disk-0/", "/disk-0/a\\x7cb", "/disk-0/nl\\x0ax", "/disk-0/\\xc3\\xbc\\xff",
        "/disk-0/$OrphanFiles/OrphanFile-6", "/disk-8192/", "/disk-8192/plain"}) {
    EXPECT_THAT(timeline.out, HasSubstr(" " + name + "\n")) << name;
  }
  EXPECT_THAT(timeline.out, HasSubstr("Sun Sep 09 2001 01:46:43"));

  // Every JSON line parses, "type" first; the hashes are those of the files.
  std::map<std::string, int> types;
  int hashed = 0;
  for (const std::string& line : lines(readFile(dir / "scan.json"))) {
    const nlohmann::ordered_json j = nlohmann::ordered_json::parse(line);
    ASSERT_EQ(j.begin().key(), "type") << line;
    ++types[j["type"].get<std::string>()];
    if (j["type"] != "file" || j["status"] != "extracted") continue;
    const std::string path = dir / "out/disk-" + std::to_string(j["fs"].get<int64_t>()) + "/" +
                             unhex(j["name_hex"].get<std::string>());
    const std::string md5 = run({"/bin/sh", "-c", "exec md5sum < \"$0\"", path}, dir.path()).out;
    const std::string sha256 =
        run({"/bin/sh", "-c", "exec sha256sum < \"$0\"", path}, dir.path()).out;
    EXPECT_EQ(j["md5"].get<std::string>() + "  -\n", md5) << line;
    EXPECT_EQ(j["sha256"].get<std::string>() + "  -\n", sha256) << line;
    ++hashed;
  }
  EXPECT_EQ(hashed, 4);
  EXPECT_EQ(types, (std::map<std::string, int>{{"image", 1}, {"hit", 2}, {"fs", 2},
                                                {"inode", 7}, {"dirent", 8}, {"file", 5},
                                                {"problem", 1}, {"end", 1}}));
}

TEST_F(MachineOutput, JsonOnStandardOutputReplacesTheReport) {
  const RunResult plain = bfsscan({"-n", "disk.img"}, dir.path());
  const RunResult r = bfsscan({"-n", "--json", "-", "--hash=md5", "disk.img"}, dir.path());
  EXPECT_EQ(r.err, plain.err);
  EXPECT_EQ(r.status, 2);
  const std::vector<std::string> out = lines(r.out);
  ASSERT_EQ(out.size(), 27u);
  EXPECT_THAT(out.front(), HasSubstr("{\"type\":\"image\",\"path\":\"disk.img\","));
  // (the media's digests and the end time follow)
  EXPECT_EQ(out.back().rfind(
                "{\"type\":\"end\",\"status\":2,\"reached_end\":true,\"file_systems\":2,"
                "\"dry_run\":true,\"files_listed\":4,\"files_skipped\":1,\"files_lost\":0,"
                "\"bytes_listed\":1516,\"media_hashes\":{\"md5\":",
                0),
            0u);
  EXPECT_THAT(r.out, HasSubstr("\"status\":\"listed\",\"md5\":\"20826a3cb51d6c7d9c219c7f4bf4e5c9\""));
}

TEST_F(MachineOutput, ResultsFileProblems) {
  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string err;
    int status;
  } cases[] = {
      {"two outputs on standard output", {"--json=-", "--bodyfile=-", "disk.img"},
       "bfsscan: only one of --bodyfile, --json, --map and --dfxml can take standard output "
       "(see bfsscan --help)\n",
       1},
      {"one file for two outputs", {"--json=x", "--bodyfile=x", "disk.img"},
       "bfsscan: --bodyfile, --json, --map and --dfxml need different files (see bfsscan --help)\n", 1},
      {"unknown hash", {"--hash=md5,crc32", "disk.img"},
       "bfsscan: --hash takes md5, sha1 or sha256, comma-separated, not 'md5,crc32' "
       "(see bfsscan --help)\n",
       1},
      {"cannot be created", {"--bodyfile=no/body", "disk.img"},
       "bfsscan: cannot write \"no/body\": No such file or directory\n", 2},
      {"the image", {"--json=./disk.img", "disk.img"},
       "bfsscan: cannot write \"./disk.img\": it is the image \"disk.img\"\n", 1},
  };
  for (const Case& c : cases) {
    const RunResult r = bfsscan(c.args, dir.path());
    EXPECT_EQ(r.err, c.err) << c.label;
    EXPECT_EQ(r.status, c.status) << c.label;
    EXPECT_EQ(r.out, "") << c.label;
  }

  // A full disk ends the run as for an extracted file.
  const RunResult full = bfsscan({"-n", "--json=/dev/full", "disk.img"}, dir.path());
  EXPECT_EQ(full.err, "bfsscan: cannot write \"/dev/full\": No space left on device\n");
  EXPECT_EQ(full.status, 2);
  EXPECT_EQ(full.out, "scanning disk.img\n16384 bytes / 32 sectors to read\n");
}

// A name with every character that needs care round-trips through JSON: the
// decoded name is the name (an invalid byte as U+FFFD), the hex of the path
// opens the extracted file.
TEST(MachineOutputNames, JsonNamesAndPathsRoundTrip) {
  TempDir dir;
  const std::string name = "a|%\n\"\\\xff";
  {
    TestImage t(dir / "disk.img");
    writeFileSystem(t, 0, {"odd"}, {{3, name}});
    t.length(4096);
  }
  const RunResult r =
      run({BFSSCAN_BIN, "-C", "out", "--json=scan.json", "disk.img"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  int files = 0;
  for (const std::string& line : lines(readFile(dir / "scan.json"))) {
    const Json j = Json::parse(line);
    if (j["type"] == "dirent" && j["ino"] == 3) {
      EXPECT_EQ(j["name"], "a|%\n\"\\\xef\xbf\xbd") << line;
      EXPECT_EQ(j["name_hex"], "617c250a225cff") << line;
    }
    if (j["type"] != "file") continue;
    ++files;
    EXPECT_EQ(j["name"], "a|%\n\"\\\xef\xbf\xbd") << line;
    EXPECT_EQ(unhex(j["name_hex"]), name) << line;
    EXPECT_EQ(j["path"], "disk-0/a|%\n\"\\\xef\xbf\xbd") << line;
    EXPECT_EQ(readFile(dir / ("out/" + unhex(j["path_hex"]))), "odd") << line;
  }
  EXPECT_EQ(files, 1);
}

}  // namespace
