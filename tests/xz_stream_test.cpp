// .xz images decoded by liblzma, on two cores when the stream has several
// blocks: whole, they give the raw image's report, status and files; cut,
// corrupt or failing their check, the damage is told at the byte where xz
// itself stops writing, with every byte it writes before kept.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <cstdlib>

#include "harness.h"

namespace {

using ::testing::HasSubstr;

TEST(XzStreamTest, SeveralBlocksOrOneWholeOrDamagedReadAsXzDecodesThem) {
  if (tool("xz").empty()) GTEST_SKIP() << "xz is not installed";
  TempDir dir;
  // Text (LZMA data) first, then random bytes (kept uncompressed, which
  // only the block's check guards).
  const RunResult made = run({"/bin/sh", "-c",
      "seq 1 150000 > t && head -c 1000000 /dev/urandom > r && " MKBFS_BIN " disk.img t r"},
      dir.path());
  ASSERT_EQ(made.status, 0) << made.err;
  ::mkdir((dir / "raw").c_str(), 0755);
  const RunResult raw = run({BFSSCAN_BIN, "../disk.img"}, dir / "raw");
  ASSERT_EQ(raw.status, 0) << raw.err;
  const std::string blocks = "xz -T2 --block-size=128KiB -c disk.img > S";
  const std::string one = "xz -T1 -c disk.img > S";
  const std::string flip = " && printf '\\377' | dd of=S bs=1 conv=notrunc 2>/dev/null seek=";
  const struct {
    const char* label;
    std::string command;  // writes S
    const char* damage;   // the decoder's words; empty: the stream is whole
  } cases[] = {
      {"several blocks", blocks, ""},
      {"one block", one, ""},
      {"several blocks, cut", blocks + " && truncate -s 500000 S", "No progress is possible"},
      {"one block, cut", one + " && truncate -s 500000 S", "No progress is possible"},
      {"several blocks, corrupt", blocks + flip + "20000", "Corrupted input data"},
      {"several blocks, bad check", blocks + flip + "$(( $(wc -c < S) - 300000 ))",
       "Corrupted input data"},
      {"one block, bad check", one + flip + "$(( $(wc -c < S) - 300000 ))",
       "Corrupted input data"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string sub = "c" + std::to_string(++n);
    const std::string name = sub + "/disk.xz";  // the stem of the raw image
    std::string command = c.command;
    for (size_t at; (at = command.find('S')) != std::string::npos;) command.replace(at, 1, name);
    // What xz itself writes out of it before it stops.
    const RunResult made = run(
        {"/bin/sh", "-c",
         "mkdir " + sub + " && " + command + " && { xz -dc " + name + " 2>/dev/null | wc -c; } > length"},
        dir.path());
    ASSERT_EQ(made.status, 0) << made.err;
    const long long decoded = std::atoll(readFile(dir / "length").c_str());
    const std::string out = "o" + std::to_string(n);
    ::mkdir((dir / out).c_str(), 0755);
    const RunResult r = run({BFSSCAN_BIN, "../" + name}, dir / out);
    if (*c.damage == '\0') {
      EXPECT_EQ(body(r.out), body(raw.out));
      EXPECT_EQ(r.err, raw.err);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(listTree(dir / out), listTree(dir / "raw"));
      const std::string files = out + "/disk-0/";
      EXPECT_EQ(readFile(dir / (files + "t")), readFile(dir / "t"));
      EXPECT_EQ(readFile(dir / (files + "r")), readFile(dir / "r"));
      continue;
    }
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("error reading ../" + name + ": Lzma library error: " +
                                 c.damage + " at byte " + std::to_string(decoded) +
                                 " of the decompressed image\n"));
    EXPECT_THAT(r.out, HasSubstr("\n" + std::to_string(decoded) + " bytes / "));
  }
}

}  // namespace
