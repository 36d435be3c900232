// The examiner's loop: --list against the records of -n --json, --cat
// against extraction, --stat of one inode, --offset, and what each of them
// reads of a large image.
#include <gmock/gmock.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "harness.h"

namespace {

using Json = nlohmann::json;

RunResult mkbfs(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> argv{MKBFS_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = run(argv, cwd);
  EXPECT_EQ(r.status, 0) << r.err;
  return r;
}

std::vector<Json> records(const std::string& path, const std::string& type) {
  std::vector<Json> out;
  std::istringstream in(readFile(path));
  for (std::string line; std::getline(in, line);) {
    Json j = Json::parse(line);
    if (j["type"] == type) out.push_back(j);
  }
  return out;
}

// Files x and y with attributes and 16 free blocks at 2560, a file system
// with z inside them, and one more at 65536; a file no entry names and a
// deleted candidate when damaged.
void writeNested(const TempDir& dir, bool damaged) {
  { mkbfs::ImageWriter(dir / "x").write(0, "the x file\n"); }
  { mkbfs::ImageWriter(dir / "y").write(0, pattern(300)); }
  { mkbfs::ImageWriter(dir / "z").write(0, pattern(1500, 7)); }
  std::vector<std::string> outer{"--free-blocks", "16", "--time=2024-03-01T09:30:00Z",
                                 "--mtime=y=1700000000", "--mode=y=4750", "--uid=y=100",
                                 "--gid=y=10"};
  if (damaged) outer.insert(outer.end(), {"--clear-entry", "x"});
  outer.insert(outer.end(), {"n.img", "x", "y"});
  mkbfs(outer, dir.path());
  std::vector<std::string> inner{"--at", "2560", "n.img", "z"};
  if (damaged) inner.insert(inner.begin(), {"--clear-inode", "z", "--clear-entry", "z"});
  mkbfs(inner, dir.path());
  mkbfs({"--at", "65536", "--mode=644", "n.img", "z"}, dir.path());
}

TEST(ExaminerTest, ListGivesTheFileRecordsOfADryRunWithoutReadingFiles) {
  struct Row {
    const char* label;
    bool damaged;
    std::vector<std::string> options;
  } rows[] = {
      {"nested", false, {}},
      {"a file without a name, a deleted candidate", true, {"--deleted"}},
      {"one file system", false, {"--offset=2560"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    TempDir dir;
    writeNested(dir, row.damaged);
    // The digests of the dry run show its reading every file; the list has none.
    std::vector<std::string> dry{BFSSCAN_BIN, "-n", "--json=dry.json", "--hash=md5"};
    std::vector<std::string> list{BFSSCAN_BIN, "--list", "--json=list.json", "--hash=md5"};
    for (auto* argv : {&dry, &list}) {
      argv->insert(argv->end(), row.options.begin(), row.options.end());
      argv->push_back("n.img");
    }
    const RunResult d = run(dry, dir.path());
    const RunResult l = run(list, dir.path());
    EXPECT_EQ(l.status, d.status);
    EXPECT_EQ(l.err, d.err);
    std::vector<Json> files = records(dir / "dry.json", "file");
    for (Json& f : files) {
      if (f["status"] == "listed") {
        EXPECT_TRUE(f.contains("md5")) << f;
      }
      f.erase("md5");
    }
    EXPECT_EQ(records(dir / "list.json", "file"), files);
    EXPECT_EQ(records(dir / "list.json", "deleted").size(),
              records(dir / "dry.json", "deleted").size());
    // Every file's row, its fields from its inode record.
    std::map<std::pair<int64_t, int64_t>, Json> inodes;
    for (const Json& i : records(dir / "dry.json", "inode")) inodes[{i["fs"], i["slot"]}] = i;
    std::string rows;
    for (const Json& f : files) {
      if (f["status"] == "directory") continue;
      const Json& i = inodes[{f["fs"], f["slot"]}];
      rows += std::to_string(f["fs"].get<int64_t>()) + "\t" +
              std::to_string(f["slot"].get<int64_t>()) + "\t";
      const std::string mode = i["mode"];
      rows += std::string(mode == "0104750" ? "-rwsr-x---" : "-rw-r--r--") + "\t" +
              std::to_string(i["uid"].get<int>()) + "\t" + std::to_string(i["gid"].get<int>()) +
              "\t" + std::to_string(f["length"].get<int64_t>()) + "\t";
      rows += f["path"].is_null() ? std::string("-") : f["path"].get<std::string>();
      rows += "\n";
    }
    std::string got;
    std::istringstream in(l.out);
    for (std::string line; std::getline(in, line);) {
      if (line[0] == '#' || line.find("slot=") != std::string::npos) continue;
      std::vector<std::string> fields;
      std::istringstream cells(line);
      for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
      ASSERT_EQ(fields.size(), 10u) << line;
      got += fields[0] + "\t" + fields[1] + "\t" + fields[2] + "\t" + fields[3] + "\t" +
             fields[4] + "\t" + fields[5] + "\t" + fields[9] + "\n";
    }
    EXPECT_EQ(got, rows);
    // No file's bytes were read: tables, directories and superblocks only.
    const std::vector<std::string> made = listTree(dir.path());
    EXPECT_EQ(made, (std::vector<std::string>{"dry.json", "list.json", "n.img", "x", "y", "z"}));
  }
}

TEST(ExaminerTest, MkbfsAttributesComeBackInTheListing) {
  TempDir dir;
  writeNested(dir, true);
  const RunResult r = run({BFSSCAN_BIN, "--list", "--deleted", "n.img"}, dir.path());
  EXPECT_EQ(r.status, 2);  // x has no name
  EXPECT_EQ(r.out,
            "#fs\tinode\tmode\tuid\tgid\tlength\tmtime\tatime\tctime\tpath\n"
            "# file system at 0: 5 inode slots\n"
            "0\t3\t-rw-r--r--\t0\t0\t11\t2024-03-01T09:30:00Z\t2024-03-01T09:30:00Z\t"
            "2024-03-01T09:30:00Z\t-\n"
            "0\t4\t-rwsr-x---\t100\t10\t300\t2023-11-14T22:13:20Z\t2024-03-01T09:30:00Z\t"
            "2024-03-01T09:30:00Z\tn-0/y\n"
            "# file system at 2560, inside the file system at 0: 4 inode slots\n"
            "2560\tslot=3\t-rw-r--r--\t0\t0\t1500\t1970-01-01T00:00:00Z\t1970-01-01T00:00:00Z\t"
            "1970-01-01T00:00:00Z\tn-2560/.bfsscan-deleted/slot-3\n"
            "# file system at 65536: 4 inode slots\n"
            "65536\t3\t-rw-r--r--\t0\t0\t1500\t1970-01-01T00:00:00Z\t1970-01-01T00:00:00Z\t"
            "1970-01-01T00:00:00Z\tn-65536/z\n");
}

TEST(ExaminerTest, MkbfsRefusesAttributesItCannotStore) {
  TempDir dir;
  { mkbfs::ImageWriter(dir / "x").write(0, "x"); }
  const std::string time = "seconds since 1970 or YYYY-MM-DDTHH:MM:SSZ";
  struct Row {
    std::string option, err;
  } rows[] = {
      {"--mode=9", "mkbfs: --mode takes an octal mode, not '9'\n"},
      {"--uid=-1", "mkbfs: --uid takes a decimal id, not '-1'\n"},
      {"--mtime=2024-02-30", "mkbfs: --mtime takes " + time + ", not '2024-02-30'\n"},
      {"--time=4294967296", "mkbfs: --time takes " + time + ", not '4294967296'\n"},
      {"--ctime=1969-12-31T23:59:59Z",
       "mkbfs: --ctime takes " + time + ", not '1969-12-31T23:59:59Z'\n"},
      {"--gid=y=5", "mkbfs: no file named 'y' is given\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.option);
    const RunResult r = run({MKBFS_BIN, row.option, "out.img", "x"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, row.err);
  }
}

TEST(ExaminerTest, CatWritesWhatExtractionWrites) {
  TempDir dir;
  writeNested(dir, false);
  RunResult r = run({BFSSCAN_BIN, "--json=all.json", "n.img"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const bool gzip = !tool("gzip").empty();
  if (gzip) run({"/bin/sh", "-c", "gzip -c n.img > n.img.gz"}, dir.path());
  int files = 0;
  for (const Json& f : records(dir / "all.json", "file")) {
    if (f["status"] != "extracted") continue;
    ++files;
    const std::string target = std::to_string(f["fs"].get<int64_t>()) + ":" +
                                std::to_string(f["slot"].get<int64_t>());
    const std::string extracted = readFile(dir / f["path"].get<std::string>());
    for (const char* image : {"n.img", "n.img.gz"}) {
      if (!gzip && std::string(image) == "n.img.gz") continue;
      SCOPED_TRACE(target + " of " + image);
      r = run({BFSSCAN_BIN, "--cat=" + target, std::string("../") + image}, dir / "n-0");
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_TRUE(r.out == extracted) << r.out.size() << " bytes, not " << extracted.size();
    }
  }
  EXPECT_EQ(files, 4);
}

TEST(ExaminerTest, CatAndStatRefuseWhatTheyCannotGive) {
  TempDir dir;
  writeNested(dir, true);
  // y (inode 4 at 0) runs past the end of a copy cut inside it.
  run({"/bin/sh", "-c", "head -c 2200 n.img > cut.img"}, dir.path());
  const std::string head = pattern(1500, 7).substr(0, 512);
  struct Row {
    const char* label;
    std::vector<std::string> args;
    std::vector<std::string> env;
    int status;
    std::string out, err;
  } rows[] = {
      {"no file system there", {"--cat=512:3", "n.img"}, {}, 2, "",
       "bfsscan: no file system at 512: no superblock magic\n"},
      {"past the end", {"--stat=0x100000:3", "n.img"}, {}, 2, "",
       "bfsscan: no file system at 1048576: past the end of the image\n"},
      {"past the table", {"--cat=0:9", "n.img"}, {}, 2, "",
       "bfsscan: file system at 0: no inode 9 (the table has slots 2 to 4)\n"},
      {"slot unused", {"--cat=2560:3", "n.img"}, {}, 2, "",
       "bfsscan: file system at 2560: inode 3 is not in use\n"},
      {"no candidate", {"--cat=0:slot=4", "n.img"}, {}, 2, "",
       "bfsscan: file system at 0: slot 4 holds no deleted candidate\n"},
      {"a directory", {"--cat=0:2", "n.img"}, {}, 2, "",
       "bfsscan: file system at 0: inode 2 is a directory\n"},
      {"extent outside", {"--cat=0:4", "cut.img"}, {}, 2, "",
       "bfsscan: file system at 0: inode 4: its bytes 2048 to 2347 run past the end of the "
       "image (2200 bytes)\n"},
      {"unreadable", {"--cat=65536:3", "n.img"}, {"BFSSCAN_TEST_EIO_AT=67700"}, 2, head,
       "bfsscan: file system at 65536: inode 3: cannot read byte 67584 of the image: "
       "Input/output error\n"},
      {"a deleted candidate", {"--cat=2560:slot=3", "n.img"}, {}, 0, pattern(1500, 7), ""},
      {"bad target", {"--cat=0", "n.img"}, {}, 1, "",
       "bfsscan: --cat takes FS:INODE or FS:slot=N, not '0' (see bfsscan --help)\n"},
      {"one at a time", {"--cat=0:3", "--list", "n.img"}, {}, 1, "",
       "bfsscan: only one of --list, --cat and --stat can be given (see bfsscan --help)\n"},
      {"no file system for --offset", {"--offset=1024", "n.img"}, {}, 2,
       "scanning n.img\n68608 bytes / 134 sectors to read\n",
       "bfsscan: no file system at 1024 of n.img\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::vector<std::string> argv{BFSSCAN_BIN};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    RunOptions options;
    if (!row.env.empty()) {
      options.env = {"LD_PRELOAD=" EIO_SHIM, row.env[0],
                     "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
    }
    const RunResult r = run(argv, dir.path(), options);
    EXPECT_EQ(r.status, row.status);
    EXPECT_TRUE(r.out == row.out) << r.out.size() << " bytes, not " << row.out.size();
    EXPECT_EQ(r.err, row.err);
  }
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"cut.img", "n.img", "x", "y", "z"}));
}

TEST(ExaminerTest, StatShowsOneInode) {
  TempDir dir;
  writeNested(dir, false);
  const RunResult r = run({BFSSCAN_BIN, "--stat=0:0x4", "n.img"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "file system: 0\n"
            "slot: 4\n"
            "inode: 4\n"
            "state: in use\n"
            "type: regular\n"
            "mode: 0104750 (-rwsr-x---)\n"
            "links: 1\n"
            "uid: 100\n"
            "gid: 10\n"
            "length: 300\n"
            "first block: 4\n"
            "last block: 4\n"
            "first image offset: 2048\n"
            "last image offset: 2347\n"
            "mtime: 2023-11-14T22:13:20Z (1700000000)\n"
            "atime: 2024-03-01T09:30:00Z (1709285400)\n"
            "ctime: 2024-03-01T09:30:00Z (1709285400)\n"
            "entry: y\n"
            "broken: none\n");
}

TEST(ExaminerTest, OneFileOfALargeImageCostsAFewReads) {
  TempDir dir;
  { mkbfs::ImageWriter(dir / "small").write(0, "a small file\n"); }
  // 64 GiB, sparse: the file system sits in the middle, another at the end.
  // (Raw: telling the format by signature reads 32 KiB more, whatever the image.)
  const uint64_t middle = 32ull << 30, last = (64ull << 30) - 4096;
  mkbfs({"--at", std::to_string(middle), "big.img", "small"}, dir.path());
  mkbfs({"--at", std::to_string(last), "big.img", "small"}, dir.path());
  RunOptions counted;
  counted.countReads = true;
  const std::string fs = std::to_string(middle);
  struct Row {
    const char* label;
    std::vector<std::string> args;
    std::string out;
  } rows[] = {
      {"cat", {"--cat=" + fs + ":3", "--format=raw", "big.img"}, "a small file\n"},
      {"stat", {"--stat=" + fs + ":3", "--format=raw", "big.img"}, ""},
      {"offset", {"--offset=" + fs, "-n", "--format=raw", "big.img"}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::vector<std::string> argv{BFSSCAN_BIN};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    const RunResult r = run(argv, dir.path(), counted);
    EXPECT_EQ(r.status, 0) << r.err;
    if (!row.out.empty()) {
      EXPECT_EQ(r.out, row.out);
    }
    EXPECT_LT(r.bytesRead, 4096u);
    EXPECT_GT(r.bytesRead, 0u);
  }
}

}  // namespace
