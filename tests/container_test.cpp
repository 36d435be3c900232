// Disk images in containers, written from one raw image by the tools each
// format comes with: the scan gives the raw image's report and files; a
// missing segment file and a damaged chunk are read failures. A test is
// skipped when its converter is not installed.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "harness.h"

namespace {

using ::testing::MatchesRegex;

// The report up to and including its first line that starts with prefix.
std::string through(const std::string& report, const std::string& prefix) {
  const size_t at = report.find("\n" + prefix);
  return at == std::string::npos ? report : report.substr(0, report.find('\n', at + 1) + 1);
}

// Every file below dir with its contents.
std::map<std::string, std::string> tree(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const std::string& p : listTree(dir)) {
    files[p] = p.back() == '/' ? "" : readFile(dir + "/" + p);
  }
  return files;
}

class ContainerTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string rawReport;

  // disk.img: 3 MiB holding a file system at 0 with a small file, 2.25 MiB
  // of incompressible data in two files, and the image of a second file
  // system nested in it. Its scan in raw-out/ is what every format must give.
  void SetUp() override {
    const std::string inner = dir / "inner.tmp";
    writeImage(inner, {{"notes", "nested"}, {"boot", pattern(3000, 7)}});
    {
      mkbfs::ImageWriter w(dir / "disk.img");
      mkbfs::writeFileSystem(w, 0,
                             {{"small", "hello"},
                              {"big1", pattern(1600 << 10, 1)},
                              {"inner.img", readFile(inner)},
                              {"big2", pattern(700 << 10, 2)}});
      w.setLength(3 << 20);
    }
    ::unlink(inner.c_str());
    const RunResult r = scanIn("raw-out", "../disk.img");
    ASSERT_EQ(r.status, 0) << r.err;
    rawReport = r.out;
  }

  // Runs a tool (skipping the test when it is missing) in dir.
  void convert(std::vector<std::string> argv) {
    const std::string name = argv[0];
    argv[0] = tool(name);
    if (argv[0].empty()) GTEST_SKIP() << name << " is not installed";
    const RunResult r = run(argv, dir.path());
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
  }

  void makeDir(const std::string& sub) { ::mkdir((dir / sub).c_str(), 0755); }

  // disk.E01...: an EWF image of disk.img whose stored chunk of media
  // offset 1.5 MiB is damaged, in whichever segment it is.
  void makeDamagedEwf() {
    convert({"ewfacquire", "-u", "-q", "-c", "none", "-S", "1MiB", "-t", "disk", "disk.img"});
    if (IsSkipped()) return;
    const std::string media = readFile(dir / "disk.img").substr(1536 << 10, 64);
    bool damaged = false;
    for (const char* segment : {"disk.E01", "disk.E02", "disk.E03"}) {
      std::string data = readFile(dir / segment);
      const size_t at = data.find(media);
      if (at == std::string::npos) continue;
      data[at + 100] ^= 0x55;
      std::ofstream(dir / segment, std::ios::binary) << data;
      damaged = true;
    }
    ASSERT_TRUE(damaged);
  }

  // Scans image (relative to out) in the fresh directory out.
  RunResult scanIn(const std::string& out, const std::string& image) {
    makeDir(out);
    return run({BFSSCAN_BIN, image}, dir / out);
  }
};

TEST_F(ContainerTest, EveryFormatGivesTheRawImagesReportAndFiles) {
  const struct {
    const char* label;
    std::vector<std::string> command;
    const char* image;  // in its own directory, named disk.*
  } formats[] = {
      {"ewf, 1 MiB segments",
       {"ewfacquire", "-u", "-q", "-c", "none", "-S", "1MiB", "-t", "ewf/disk", "disk.img"},
       "ewf/disk.E01"},
      {"ewf, deflate",
       {"ewfacquire", "-u", "-q", "-c", "deflate:fast", "-t", "ewfz/disk", "disk.img"},
       "ewfz/disk.E01"},
      {"split .001",
       {"split", "-b", "1M", "-d", "-a", "3", "--numeric-suffixes=1", "disk.img", "split/disk."},
       "split/disk.001"},
      {"split .aa", {"split", "-b", "1M", "disk.img", "splitaa/disk."}, "splitaa/disk.aa"},
      {"qcow2",
       {"qemu-img", "convert", "-O", "qcow2", "disk.img", "qcow/disk.qcow2"},
       "qcow/disk.qcow2"},
      {"vmdk",
       {"qemu-img", "convert", "-O", "vmdk", "disk.img", "vmdk/disk.vmdk"},
       "vmdk/disk.vmdk"},
      {"vmdk, flat extent",
       {"qemu-img", "convert", "-O", "vmdk", "-o", "subformat=monolithicFlat", "disk.img",
        "flat/disk.vmdk"},
       "flat/disk.vmdk"},
      {"vhdx",
       {"qemu-img", "convert", "-O", "vhdx", "disk.img", "vhdx/disk.vhdx"},
       "vhdx/disk.vhdx"},
      {"vhd, fixed",
       {"qemu-img", "convert", "-O", "vpc", "-o", "subformat=fixed,force_size=on", "disk.img",
        "vhd/disk.vhd"},
       "vhd/disk.vhd"},
      {"vhd, dynamic",
       {"qemu-img", "convert", "-O", "vpc", "-o", "subformat=dynamic,force_size=on", "disk.img",
        "vhdd/disk.vhd"},
       "vhdd/disk.vhd"},
  };
  const std::map<std::string, std::string> rawFiles = tree(dir / "raw-out");
  ASSERT_EQ(rawFiles.size(), 8u);  // two directories, six files
  for (const auto& f : formats) {
    SCOPED_TRACE(f.label);
    makeDir(std::string(f.image).substr(0, std::string(f.image).find('/')));
    convert(f.command);
    if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;
    const std::string out = std::string("out-") + f.label;
    const RunResult r = scanIn(out, std::string("../") + f.image);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(body(r.out), body(rawReport));
    EXPECT_EQ(tree(dir / out), rawFiles);
  }
  EXPECT_TRUE(exists(dir / "ewf/disk.E03"));  // several segment files
}

TEST_F(ContainerTest, MissingMiddleSegmentFile) {
  const struct {
    const char* label;
    std::vector<std::string> command;
    const char* missing;
    const char* image;
    const char* length;  // the media's size
    const char* error;
  } sets[] = {
      {"ewf",
       {"ewfacquire", "-u", "-q", "-c", "none", "-S", "1MiB", "-t", "disk", "disk.img"},
       "disk.E02",
       "disk.E01",
       "3145728 bytes / 6144 sectors to read\n",
       "error reading disk.E01: no data at media offset [0-9]+: segment file disk.E02 is "
       "missing\n"},
      {"split",
       {"split", "-b", "1M", "-d", "-a", "3", "--numeric-suffixes=1", "disk.img", "disk."},
       "disk.002",
       "disk.001",
       "3145728 bytes / 6144 sectors to read\n",
       "error reading disk.001: segment file disk.002 is missing\n"},
  };
  for (const auto& s : sets) {
    SCOPED_TRACE(s.label);
    convert(s.command);
    if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;
    ASSERT_EQ(::unlink((dir / s.missing).c_str()), 0);
    const RunResult r = run({BFSSCAN_BIN, s.image}, dir.path());
    EXPECT_THAT(r.err, MatchesRegex(s.error));
    EXPECT_EQ(r.status, 2);
    // The file system, its small file, and the copying line of the file
    // that runs into the missing segment.
    const std::string before = body(through(rawReport, "copying \"disk-0/big1\""));
    EXPECT_EQ(body(r.out), s.length + before.substr(before.find('\n') + 1));
    EXPECT_EQ(readFile(dir / "disk-0/small"), "hello");
    EXPECT_FALSE(exists(dir / "disk-0/big1"));
    EXPECT_EQ(::system(("rm -r " + dir / "disk-0").c_str()), 0);
  }
}

// A split set of four segments without its second: the scan stops at the
// gap, or with --keep-going passes over it to the segments that are there,
// at the offsets they would have with the missing one in place.
TEST(SplitSetTest, KeepGoingPassesOverAMissingSegment) {
  TempDir dir;
  std::ofstream(dir / "early") << "early";
  std::ofstream(dir / "late") << "late";
  ASSERT_EQ(run({MKBFS_BIN, "disk.img", "early"}, dir.path()).status, 0);
  ASSERT_EQ(::truncate((dir / "disk.img").c_str(), 4 << 20), 0);
  ASSERT_EQ(run({MKBFS_BIN, "--at", "3145728", "disk.img", "late"}, dir.path()).status, 0);
  const std::string split = tool("split");
  if (split.empty()) GTEST_SKIP() << "split is not installed";
  ASSERT_EQ(run({split, "-b", "1M", "-d", "-a", "3", "--numeric-suffixes=1", "disk.img", "disk."},
                dir.path()).status, 0);
  ASSERT_EQ(::unlink((dir / "disk.002").c_str()), 0);
  const struct {
    const char* label;
    std::vector<std::string> argv;
    const char* err;
    const char* late;  // the report's line for the file system at 3 MiB
  } cases[] = {
      {"stops at the gap", {BFSSCAN_BIN, "-n", "disk.001"},
       "error reading disk.001: segment file disk.002 is missing\n", nullptr},
      {"keeps going", {BFSSCAN_BIN, "-n", "-k", "disk.001"},
       "error reading disk.001: segment file disk.002 is missing in the blocks at 1048576 to "
       "2096640, skipped\n",
       "hit magic at 0x300000 (3145728)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const RunResult r = run(c.argv, dir.path());
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out, ::testing::StartsWith("scanning disk.001\n4194304 bytes / 8192 sectors "
                                             "to read\nhit magic at 0 (0)\n"));
    EXPECT_EQ(r.out.find("hit magic at 0x300000") != std::string::npos, c.late != nullptr);
  }
}

// The second segment file of an acquisition replaced by that of another
// acquisition of a disk that differs in one byte: the media read no longer
// has the MD5 the set stores.
TEST_F(ContainerTest, EwfSegmentFromAnotherAcquisition) {
  std::string other = readFile(dir / "disk.img");
  other[1536 << 10] ^= 0x55;  // in the file big1, stored in the second segment
  std::ofstream(dir / "other.img", std::ios::binary) << other;
  makeDir("a");
  makeDir("b");
  convert({"ewfacquire", "-u", "-q", "-c", "none", "-S", "1MiB", "-t", "a/disk", "disk.img"});
  if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;
  convert({"ewfacquire", "-u", "-q", "-c", "none", "-S", "1MiB", "-t", "b/disk", "other.img"});
  ASSERT_EQ(::rename((dir / "b/disk.E02").c_str(), (dir / "a/disk.E02").c_str()), 0);
  const RunResult r = run({BFSSCAN_BIN, "-n", "disk.E01"}, dir / "a");
  EXPECT_THAT(r.err, MatchesRegex("error reading disk.E01: the media read has MD5 [0-9a-f]{32}, "
                                  "not [0-9a-f]{32} as the set stores: a segment file may come "
                                  "from another acquisition\n"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(body(r.out), body(rawReport));
}

TEST_F(ContainerTest, DamagedEwfChunk) {
  makeDamagedEwf();
  if (IsSkipped() || HasFatalFailure()) return;
  const RunResult r = run({BFSSCAN_BIN, "disk.E01"}, dir.path());
  EXPECT_EQ(r.err,
            "error reading disk.E01: checksum error at media offset 1572864 (damaged chunk)\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(body(r.out), body(through(rawReport, "copying \"disk-0/big1\"")));
  EXPECT_EQ(readFile(dir / "disk-0/small"), "hello");
  EXPECT_FALSE(exists(dir / "disk-0/big1"));
}

// With -k, the file through the chunk is skipped and the scan passes over
// its blocks: one line for the run, from its first block; the good block
// just before it is read.
TEST_F(ContainerTest, DamagedEwfChunkKeepGoing) {
  makeDamagedEwf();
  if (IsSkipped() || HasFatalFailure()) return;
  const RunResult r = run({BFSSCAN_BIN, "-k", "--json=out.json", "disk.E01"}, dir.path());
  EXPECT_EQ(r.err,
            "error reading disk.E01: checksum error at media offset 1572864 (damaged chunk) (data "
            "of inode 4 of the file system at 0)\n"
            "error reading disk.E01: checksum error at media offset 1572864 (damaged chunk) in the "
            "blocks at 1572864 to 1605120, skipped\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readFile(dir / "disk-0/small"), "hello");
  EXPECT_FALSE(exists(dir / "disk-0/big1"));
  EXPECT_EQ(readFile(dir / "disk-0/big2"), pattern(700 << 10, 2));
  // The record of the run has its first block's offset, as the line does.
  EXPECT_THAT(readFile(dir / "out.json"),
              ::testing::HasSubstr("\"offset\":1572864,\"what\":\"unreadable\""));
}

TEST_F(ContainerTest, NoSegmentFileIsOverwritten) {
  const struct {
    const char* label;
    std::vector<std::string> command;
    const char* image;
    const char* segment;  // a later one, linked in as an output file
  } sets[] = {
      {"ewf",
       {"ewfacquire", "-u", "-q", "-c", "none", "-S", "1MiB", "-t", "ewf/disk", "disk.img"},
       "ewf/disk.E01",
       "ewf/disk.E03"},
      {"split",
       {"split", "-b", "1M", "-d", "-a", "3", "--numeric-suffixes=1", "disk.img", "split/disk."},
       "split/disk.001",
       "split/disk.003"},
  };
  for (const auto& s : sets) {
    SCOPED_TRACE(s.label);
    const std::string sub = std::string(s.image).substr(0, std::string(s.image).find('/'));
    makeDir(sub);
    convert(s.command);
    if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;
    makeDir(sub + "/disk-0");
    ASSERT_EQ(::link((dir / s.segment).c_str(), (dir / sub + "/disk-0/small").c_str()), 0);
    const std::string before = readFile(dir / s.segment);
    const RunResult r = run({BFSSCAN_BIN, std::string(s.image).substr(sub.size() + 1)}, dir / sub);
    EXPECT_EQ(r.err,
              "bfsscan: file system at 0: inode 3 not extracted: its output path "
              "\"disk-0/small\" is the image itself\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(readFile(dir / s.segment), before);
  }
}

// An extent named with a folder is refused before any extent is opened:
// neither the file the name points to nor one beside the descriptor (here
// a pipe, which would block an open) is read.
TEST_F(ContainerTest, VmdkExtentNamedWithAFolder) {
  convert({"qemu-img", "convert", "-O", "vmdk", "-o", "subformat=monolithicFlat", "disk.img",
           "disk.vmdk"});
  if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;
  std::string descriptor = readFile(dir / "disk.vmdk");
  const size_t at = descriptor.find("\"disk-flat.vmdk\"");
  ASSERT_NE(at, std::string::npos);
  descriptor.insert(at + 1, "sub/");
  std::ofstream(dir / "disk.vmdk", std::ios::binary) << descriptor;
  makeDir("sub");
  ASSERT_EQ(::rename((dir / "disk-flat.vmdk").c_str(), (dir / "sub/disk-flat.vmdk").c_str()), 0);
  for (const bool pipeBeside : {false, true}) {
    SCOPED_TRACE(pipeBeside ? "a pipe beside the descriptor" : "the extent in sub/ only");
    if (pipeBeside) {
      ASSERT_EQ(::mkfifo((dir / "disk-flat.vmdk").c_str(), 0644), 0);
    }
    const std::string out = pipeBeside ? "out-pipe" : "out-sub";
    makeDir(out);
    // A run that waits on the pipe is ended by the guard.
    const RunResult r = run({tool("timeout"), "300", BFSSCAN_BIN, "../disk.vmdk"}, dir / out);
    EXPECT_EQ(r.err,
              "error reading ../disk.vmdk: extent file name sub/disk-flat.vmdk holds a folder\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "scanning ../disk.vmdk\n");
    EXPECT_EQ(listTree(dir / out), std::vector<std::string>{});
  }
}

// Sets the size a fixed VHD's footer claims, with the footer's checksum.
void claimVhdSize(const std::string& path, uint64_t size) {
  std::string d = readFile(path);
  ASSERT_GE(d.size(), 512u);
  unsigned char* f = reinterpret_cast<unsigned char*>(&d[d.size() - 512]);
  for (int at : {40, 48}) {
    for (int i = 0; i < 8; ++i) f[at + i] = static_cast<unsigned char>(size >> (56 - 8 * i));
  }
  uint32_t sum = 0;
  for (int i = 0; i < 512; ++i) sum += (i >= 64 && i < 68) ? 0 : f[i];
  sum = ~sum;
  for (int i = 0; i < 4; ++i) f[64 + i] = static_cast<unsigned char>(sum >> (24 - 8 * i));
  std::ofstream(path, std::ios::binary) << d;
}

// A small container that claims a huge disk: the scan passes over what
// its tables leave unallocated, and a fixed disk ends with its file. A run
// that read the claimed size would not end within the guard.
TEST(HugeClaimTest, ContainersClaimingHugeDisks) {
  if (tool("qemu-img").empty()) GTEST_SKIP() << "qemu-img is not installed";
  TempDir dir;
  const struct {
    const char* label;
    std::vector<std::string> create;
    uint64_t claim;  // patched into the footer; 0 for none
    const char* image;
    const char* out;
    const char* err;
    int status;
  } cases[] = {
      {"qcow2 of 2000 PiB",
       {"qemu-img", "create", "-q", "-f", "qcow2", "-o", "cluster_size=2M", "d.qcow2", "2000P"},
       0, "d.qcow2",
       "scanning d.qcow2\n2251799813685248000 bytes / 4398046511104000 sectors to read\n"
       "end of d.qcow2\n",
       "", 0},
      {"vhdx of 64 TiB",
       {"qemu-img", "create", "-q", "-f", "vhdx", "d.vhdx", "64T"}, 0, "d.vhdx",
       "scanning d.vhdx\n70368744177664 bytes / 137438953472 sectors to read\nend of d.vhdx\n",
       "", 0},
      {"sparse vmdk of 1 TiB",
       {"qemu-img", "create", "-q", "-f", "vmdk", "d.vmdk", "1T"}, 0, "d.vmdk",
       "scanning d.vmdk\n1099511627776 bytes / 2147483648 sectors to read\nend of d.vmdk\n",
       "", 0},
      {"dynamic vhd of 2000 GiB",
       {"qemu-img", "create", "-q", "-f", "vpc", "d.vhd", "2000G"}, 0, "d.vhd",
       "scanning d.vhd\n2147483648000 bytes / 4194304000 sectors to read\nend of d.vhd\n", "", 0},
      {"fixed vhd of 1 MiB claiming 16 PiB",
       {"qemu-img", "create", "-q", "-f", "vpc", "-o", "subformat=fixed,force_size=on",
        "f.vhd", "1M"},
       uint64_t{16} << 50, "f.vhd",
       "scanning f.vhd\n18014398509481984 bytes / 35184372088832 sectors to read\n",
       "error reading f.vhd: the disk claims 18014398509481984 bytes, but the container ends "
       "at byte 1048576\n",
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> create = c.create;
    create[0] = tool(create[0]);
    ASSERT_EQ(run(create, dir.path()).status, 0);
    if (c.claim != 0) claimVhdSize(dir / c.image, c.claim);
    const RunResult r = run({tool("timeout"), "300", BFSSCAN_BIN, "-k", c.image}, dir.path(),
                            limits(0, kHangGuardSeconds));
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
}

// The one file system of a small container lies at 60 GiB: the tables
// that let the scan pass over the rest must not pass over it.
TEST(HugeClaimTest, DataFarOutInASparseContainerIsFound) {
  if (tool("qemu-img").empty()) GTEST_SKIP() << "qemu-img is not installed";
  TempDir dir;
  std::ofstream(dir / "hello") << "hello";
  std::ofstream(dir / "far.raw").close();
  ASSERT_EQ(::truncate((dir / "far.raw").c_str(), 100ll << 30), 0);
  ASSERT_EQ(run({MKBFS_BIN, "--at", "64424509440", "far.raw", "hello"}, dir.path()).status, 0);
  for (const char* format : {"qcow2", "vhdx", "vpc", "vmdk"}) {
    SCOPED_TRACE(format);
    const std::string image = std::string("far.") + format;
    ASSERT_EQ(run({tool("qemu-img"), "convert", "-O", format, "far.raw", image}, dir.path()).status,
              0);
    const RunResult r = run({tool("timeout"), "300", BFSSCAN_BIN, "-n", image}, dir.path(),
                            limits(0, kHangGuardSeconds));
    EXPECT_THAT(r.out, ::testing::HasSubstr("hit magic at 0xf00000000 (64424509440)\n"));
    EXPECT_THAT(r.out, ::testing::HasSubstr("\"far-64424509440/hello\" 0x600-0x604 4\n"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    ::unlink((dir / image).c_str());
  }
}

TEST_F(ContainerTest, RawFormatScansTheContainerBytes) {
  convert({"ewfacquire", "-u", "-q", "-c", "deflate:best", "-t", "disk", "disk.img"});
  if (::testing::Test::IsSkipped()) return;
  const RunResult r = run({BFSSCAN_BIN, "--format=raw", "disk.E01"}, dir.path());
  struct stat st;
  ASSERT_EQ(::stat((dir / "disk.E01").c_str(), &st), 0);
  EXPECT_EQ(r.out, "scanning disk.E01\n" + std::to_string(st.st_size) + " bytes / " +
                       std::to_string(st.st_size / 512) + " sectors to read\nend of disk.E01\n");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
