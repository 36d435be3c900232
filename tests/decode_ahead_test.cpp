// A large Expert Witness set, QCOW2 or VMDK disk is decoded on two cores (a
// second handle reads ahead of the scan); what is reported, extracted and
// met as damage, and the check of the set's MD5, are what one reader gives
// (the run on one core, where there is no second handle).
#include <gmock/gmock.h>
#include <sys/stat.h>

#include "harness.h"

namespace {

using ::testing::HasSubstr;

TEST(DecodeAheadTest, TwoReadersReportWhatOneReaderDoes) {
  if (tool("ewfacquire").empty()) GTEST_SKIP() << "ewfacquire is not installed";
  const bool qemu = !tool("qemu-img").empty();
  TempDir dir;
  // 96 MiB: file systems at 0, 50 MiB (with 8 MiB of random bytes, which
  // fill segment files of 1 MiB) and 70 MiB; the rest zeros.
  const std::string acquire = "ewfacquire -u -q -c deflate:fast -S 1MiB -t ";
  const RunResult made = run(
      {"/bin/sh", "-c",
       "seq 1 1000 > t && head -c 8388608 /dev/urandom > r && " MKBFS_BIN " disk.img t >/dev/null && "
       "truncate -s 96M disk.img && " MKBFS_BIN " --at 52428800 disk.img r t >/dev/null && " MKBFS_BIN
       " --at 73400320 disk.img t >/dev/null && cp disk.img other.img && "
       "printf x | dd of=other.img bs=1 seek=54525952 conv=notrunc 2>/dev/null && "
       "mkdir whole damaged missing mixed other && " + acquire + "whole/disk disk.img && " +
       acquire + "other/disk other.img && cp whole/* damaged && cp whole/* missing && "
       "cp whole/* mixed && cp other/disk.E03 mixed/ && rm missing/disk.E06 && "
       "printf XXXXXXXX | dd of=damaged/disk.E04 bs=1 seek=500000 conv=notrunc 2>/dev/null" +
       std::string(qemu ? " && qemu-img convert -c -O qcow2 disk.img disk.qcow2 && qemu-img "
                          "convert -O vmdk -o subformat=streamOptimized disk.img disk.vmdk"
                        : "")},
      dir.path());
  ASSERT_EQ(made.status, 0) << made.err;
  ASSERT_TRUE(exists(dir / "whole/disk.E07"));
  const struct {
    const char* label;
    const char* disk;
    const char* option;
    const char* err;  // part of standard error
  } rows[] = {
      {"whole", "whole/disk.E01", "-n", ""},
      {"extracted", "whole/disk.E01", "-p", ""},
      {"damaged chunk", "damaged/disk.E01", "-n", "(damaged chunk)"},
      {"damaged chunk, keep going", "damaged/disk.E01", "-k", "(damaged chunk)"},
      {"missing segment file", "missing/disk.E01", "-n", "disk.E06 is missing"},
      {"segment file of another acquisition", "mixed/disk.E01", "-n", "the media read has MD5"},
      {"compressed QCOW2", "disk.qcow2", "-p", ""},
      {"stream-optimized VMDK", "disk.vmdk", "-p", ""},
  };
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    if (!exists(dir / row.disk)) continue;  // qemu-img is not installed
    const std::string two = "two" + std::to_string(n), one = "one" + std::to_string(n++);
    ::mkdir((dir / two).c_str(), 0755);
    ::mkdir((dir / one).c_str(), 0755);
    const std::string disk = std::string("../") + row.disk;
    const RunResult r = run({BFSSCAN_BIN, row.option, disk}, dir / two);
    const RunResult single =
        run({"/usr/bin/taskset", "-c", "0", BFSSCAN_BIN, row.option, disk}, dir / one);
    EXPECT_THAT(r.out, HasSubstr("hit magic at 0x3200000 (52428800)\n"));
    EXPECT_EQ(r.out, single.out);
    EXPECT_EQ(r.err, single.err);
    EXPECT_THAT(r.err, HasSubstr(row.err));
    EXPECT_EQ(r.status, single.status);
    EXPECT_EQ(r.status, *row.err ? 2 : 0);
    EXPECT_EQ(listTree(dir / two), listTree(dir / one));
    if (std::string(row.option) == "-p") {
      EXPECT_EQ(readFile(dir / (two + "/disk-52428800/r")), readFile(dir / "r"));
    }
  }
}

}  // namespace
