// Images that arrive compressed, archived or on standard input: each gives
// the report, standard error, status and files of the raw image, less the
// lines that name it; damage in a stream is told with its decompressed
// offset; a stream that expands without end is bounded. A case is skipped
// when its compressor is not installed.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "harness.h"
#include "scratch_test.h"

namespace {

using ::testing::HasSubstr;

// Lines of the report that name the image.
std::string naming(const std::string& report) {
  std::istringstream lines(report);
  std::string line, out;
  while (std::getline(lines, line)) {
    if (line.rfind("scanning ", 0) == 0 || line.rfind("end of ", 0) == 0) out += line + "\n";
  }
  return out;
}

// Every file below dir with its contents, the stem of the first path
// component from replaced by to ("disk-0/a" as "X-0/a").
std::map<std::string, std::string> tree(const std::string& dir, const std::string& from = "",
                                        const std::string& to = "") {
  std::map<std::string, std::string> files;
  for (const std::string& p : listTree(dir)) {
    std::string key = p;
    if (!from.empty() && key.rfind(from + "-", 0) == 0) key = to + key.substr(from.size());
    files[key] = p.back() == '/' ? "" : readFile(dir + "/" + p);
  }
  return files;
}

// Text with every "from" replaced by "to".
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class StreamInputTest : public ScratchTest {
 protected:

  RunResult scanIn(const std::string& out, const std::vector<std::string>& args,
                   const RunOptions& options = RunOptions()) {
    ::mkdir((dir / out).c_str(), 0755);
    std::vector<std::string> argv = {BFSSCAN_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, dir / out, options);
  }
};

// Three images: nested file systems, a file system cut short, and names
// that need quoting.
void writeImages(const TempDir& dir) {
  writeImage(dir / "inner.tmp", {{"notes", "nested"}, {"boot", pattern(3000, 7)}});
  {
    mkbfs::ImageWriter w(dir / "nested.img");
    mkbfs::writeFileSystem(w, 0, {{"small", "hello"}, {"inner.img", readFile(dir / "inner.tmp")},
                                  {"big", pattern(300 << 10, 2)}});
    w.setLength(1 << 20);
  }
  writeImage(dir / "cut.img", {{"a", pattern(5000, 3)}, {"b", pattern(90000, 4)}});
  ASSERT_EQ(::truncate((dir / "cut.img").c_str(), 60000), 0);
  writeImage(dir / "quote.img", {{"a\"b", "quoted"}, {"sp ace&", pattern(700, 5)}});
}

TEST_F(StreamInputTest, EveryKindOfStreamGivesTheRawImagesReportStatusAndFiles) {
  writeImages(dir);
  const struct {
    const char* label;
    const char* command;  // makes S from I (the image's name) in dir
    std::vector<std::string> tools;
    const char* scanned;  // the argument, or a pipe (with "|")
    int members;          // images in the run: 2 for the two-member archive
  } kinds[] = {
      {"gzip", "gzip -c I > S", {"gzip"}, "I.gz", 1},
      {"xz", "xz -c I > S", {"xz"}, "I.xz", 1},
      {"zstd", "zstd -q -c I > S", {"zstd"}, "I.zst", 1},
      {"bzip2", "bzip2 -c I > S", {"bzip2"}, "I.bz2", 1},
      {"zip, one member", "zip -q S I", {"zip"}, "I.zip", 1},
      {"tar.gz, two members of one stem", "mkdir -p t && cp I t/ && tar czf S I t/I", {"tar", "gzip"},
       "I.tgz", 2},
      {"standard input, a pipe", "true", {}, "|", 1},
  };
  for (const char* image : {"nested", "cut", "quote"}) {
    const std::string img = std::string(image) + ".img";
    const std::string rawOut = std::string("raw-") + image;
    const RunResult raw = scanIn(rawOut, {"../" + img});
    for (const auto& k : kinds) {
      SCOPED_TRACE(std::string(k.label) + ", " + image);
      std::string scanned = k.scanned;
      const bool piped = scanned == "|";
      size_t at;
      while ((at = scanned.find('I')) != std::string::npos) scanned.replace(at, 1, image);
      std::string command = k.command;
      while ((at = command.find(" I")) != std::string::npos) command.replace(at, 2, " " + img);
      while ((at = command.find("/I")) != std::string::npos) command.replace(at, 2, "/" + img);
      while ((at = command.find(" S")) != std::string::npos) command.replace(at, 2, " " + scanned);
      sh(command, k.tools);
      if (HasFailure() || IsSkipped()) return;
      const std::string out = std::string(k.label).substr(0, 4) + "-" + image;
      const RunResult r =
          piped ? [&] {
            ::mkdir((dir / out).c_str(), 0755);
            return run({"/bin/sh", "-c", "cat ../" + img + " | " + BFSSCAN_BIN + " -"}, dir / out);
          }()
                : scanIn(out, {"../" + scanned});
      // The directories: STEM-OFFSET, stdin-OFFSET from a pipe, and
      // STEM.2-OFFSET for the second member of the same stem.
      const std::string stem = piped ? "stdin" : image;
      const std::string q = "\"";
      std::string expectedBody = replaced(body(raw.out), q + image + "-", q + stem + "-");
      std::string expectedErr = raw.err;
      std::map<std::string, std::string> files = tree(dir / rawOut, image, stem);
      if (k.members == 2) {
        expectedBody += replaced(body(raw.out), q + image + "-", q + image + ".2-");
        expectedErr += raw.err;
        for (const auto& f : tree(dir / rawOut, image, std::string(image) + ".2")) files.insert(f);
      }
      EXPECT_EQ(body(r.out), expectedBody);
      EXPECT_EQ(r.err, expectedErr);
      EXPECT_EQ(r.status, raw.status);
      const bool sameFiles = tree(dir / out) == files;  // not printed: binary
      EXPECT_TRUE(sameFiles);
      if (k.members == 2) {
        EXPECT_EQ(naming(r.out).substr(0, 9 + 3 + scanned.size() + 1 + img.size()),
                  "scanning ../" + scanned + ":" + img);
        EXPECT_THAT(naming(r.out), HasSubstr("scanning ../" + scanned + ":t/" + img + "\n"));
      } else if (piped) {
        EXPECT_THAT(r.out, HasSubstr("scanning -\n"));
      } else if (std::string(k.label) != "zip, one member") {
        EXPECT_THAT(r.out, HasSubstr("scanning ../" + scanned + "\n"));
      }
    }
  }
}

TEST_F(StreamInputTest, DamageInAStreamIsToldWithItsDecompressedOffset) {
  writeImage(dir / "disk.img", {{"a", pattern(5000, 3)}, {"b", pattern(200000, 4)}});
  sh("gzip -c disk.img > whole.img.gz && head -c 60000 whole.img.gz > cut.img.gz && "
     "cp whole.img.gz crc.img.gz && printf '\\377' | "
     "dd of=crc.img.gz bs=1 seek=$(( $(wc -c < whole.img.gz) - 7 )) conv=notrunc 2>/dev/null && "
     "cp whole.img.gz isize.img.gz && printf '\\377' | "
     "dd of=isize.img.gz bs=1 seek=$(( $(wc -c < whole.img.gz) - 1 )) conv=notrunc 2>/dev/null && "
     "gzip -dc cut.img.gz 2>/dev/null | wc -c > cut.length; true",
     {"gzip"});
  if (IsSkipped()) return;
  const int64_t length = ::atoll(readFile(dir / "disk.img").empty() ? "0" : "0") +
                         static_cast<int64_t>(readFile(dir / "disk.img").size());
  const RunResult crc = scanIn("crc", {"../crc.img.gz"});
  EXPECT_EQ(crc.status, 2);
  EXPECT_THAT(crc.err, HasSubstr("error reading ../crc.img.gz: gzip CRC-32 mismatch at byte " +
                                 std::to_string(length) + " of the decompressed image\n"));
  EXPECT_THAT(crc.out, HasSubstr(std::to_string(length) + " bytes / "));
  EXPECT_EQ(readFile(dir / "crc/crc-0/b"), pattern(200000, 4));  // decoded before: extracted
  const RunResult isize = scanIn("isize", {"../isize.img.gz"});
  EXPECT_EQ(isize.status, 2);
  EXPECT_THAT(isize.err, HasSubstr("error reading ../isize.img.gz: gzip length (ISIZE) mismatch at "
                                   "byte " + std::to_string(length) +
                                   " of the decompressed image\n"));

  const RunResult cut = scanIn("cut", {"../cut.img.gz"});
  EXPECT_EQ(cut.status, 2);
  // Everything inflated before the cut is kept: at least what gzip itself
  // writes out (it flushes whole blocks only).
  const std::string prefix = "error reading ../cut.img.gz: the compressed stream is cut short at byte ";
  const size_t at = cut.err.find(prefix);
  ASSERT_NE(at, std::string::npos) << cut.err;
  const long long decoded = std::atoll(cut.err.c_str() + at + prefix.size());
  EXPECT_GE(decoded, std::atoll(readFile(dir / "cut.length").c_str()));
  EXPECT_LT(decoded, length);
  EXPECT_THAT(cut.out, HasSubstr("\n" + std::to_string(decoded) + " bytes / "));
}

TEST_F(StreamInputTest, AStreamThatExpandsWithoutEndIsBoundedBySpaceAndByTheLimit) {
  // 1 GiB, zeros but for a file system at its end: a few KiB compressed.
  const uint64_t length = 1ull << 30;
  {
    mkbfs::ImageWriter w(dir / "bomb.img");
    mkbfs::writeFileSystem(w, length - (1 << 20), {{"a", "end"}});
    w.setLength(length);
  }
  sh("zstd -q --rm bomb.img", {"zstd"});
  if (IsSkipped()) return;
  RunOptions options;
  options.env = {"LD_PRELOAD=" EIO_SHIM, "BFSSCAN_TEST_WRITTEN=" + (dir / "written"),
                 "TMPDIR=" + dir.path(), "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
  options.cpuSeconds = kHangGuardSeconds;  // a guard against a hang only
  const RunResult r = scanIn("o", {"-n", "../bomb.img.zst"}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("\n1073741824 bytes / 2097152 sectors to read\n"));
  EXPECT_THAT(r.out, HasSubstr("hit magic at 0x3ff00000"));
  // The temporary copy holds the non-zero blocks only.
  EXPECT_LE(std::atoll(readFile(dir / "written").c_str()), 64 << 10);

  const RunResult limited = scanIn("l", {"-n", "--max-image=512M", "../bomb.img.zst"}, options);
  EXPECT_EQ(limited.status, 2);
  EXPECT_EQ(limited.err,
            "error reading ../bomb.img.zst: the decompressed image is longer than 512 MiB "
            "(--max-image); the rest was not read\n");
  EXPECT_THAT(limited.out, HasSubstr("\n536870912 bytes / "));
}

TEST_F(StreamInputTest, ATemporaryDirectoryThatCannotBeWrittenIsNamed) {
  writeImage(dir / "disk.img", {{"a", "x"}});
  sh("gzip disk.img", {"gzip"});
  if (IsSkipped()) return;
  RunOptions options;
  options.env = {"TMPDIR=" + (dir / "missing")};
  const RunResult r = scanIn("o", {"../disk.img.gz"}, options);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "scanning ../disk.img.gz\n");
  EXPECT_EQ(r.err, "error reading ../disk.img.gz: cannot write the temporary copy in " +
                       (dir / "missing") + ": No such file or directory\n");
}

TEST_F(StreamInputTest, UncompressedFilesAreNeverReadThroughTheArchiveLibrary) {
  // An image whose first blocks are zeros is no empty archive, and a plain
  // image is read in place (the report is the raw one, named as given).
  {
    mkbfs::ImageWriter w(dir / "zeros.img");
    mkbfs::writeFileSystem(w, 4096, {{"a", "x"}});
  }
  const RunResult r = scanIn("o", {"../zeros.img"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("hit magic at 0x1000 (4096)"));
  EXPECT_THAT(r.out, HasSubstr("end of ../zeros.img\n"));
  const RunResult fromStdin = run({"/bin/sh", "-c", std::string(BFSSCAN_BIN) + " - < ../zeros.img"},
                                  dir / "o");
  EXPECT_EQ(body(fromStdin.out), replaced(body(r.out), "\"zeros-", "\"stdin-"));
  EXPECT_TRUE(exists(dir / "o/stdin-4096/a"));
}

TEST_F(StreamInputTest, ArchiveMembersEachGetAnImageRecordAndAMap) {
  writeImage(dir / "a.img", {{"f", "one"}});
  writeImage(dir / "b.img", {{"g", "two"}});
  sh("tar cf both.tar a.img b.img", {"tar"});
  if (IsSkipped()) return;
  const RunResult r =
      scanIn("o", {"--json=../out.json", "--bodyfile=../body", "--map=../map.svg", "../both.tar"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(naming(r.out),
            "scanning ../both.tar:a.img\nend of ../both.tar:a.img\n"
            "scanning ../both.tar:b.img\nend of ../both.tar:b.img\n");
  const std::string json = readFile(dir / "out.json");
  EXPECT_THAT(json, HasSubstr("\"path\":\"../both.tar:a.img\""));
  EXPECT_THAT(json, HasSubstr("\"path\":\"../both.tar:b.img\""));
  const std::string bodyFile = readFile(dir / "body");
  EXPECT_THAT(bodyFile, HasSubstr("|/a-0/f|"));
  EXPECT_THAT(bodyFile, HasSubstr("|/b-0/g|"));
  EXPECT_THAT(readFile(dir / "map.svg"), HasSubstr("both.tar:a.img"));
  EXPECT_THAT(readFile(dir / "map.2.svg"), HasSubstr("both.tar:b.img"));
}

TEST_F(StreamInputTest, AfterADamagedMemberOnlyKeepGoingReadsTheOthers) {
  writeImage(dir / "a.img", {{"f", pattern(60000, 1)}});
  writeImage(dir / "b.img", {{"g", "two"}});
  // Stored, not deflated: the byte at 35 + 40000 is in a.img's data.
  sh("zip -q -0 two.zip a.img b.img && printf 'Z' | "
     "dd of=two.zip bs=1 seek=40035 conv=notrunc 2>/dev/null",
     {"zip"});
  if (IsSkipped()) return;
  const struct {
    const char* label;
    std::vector<std::string> args;
    const char* afterDamage;  // what is said after the reason
    bool secondScanned;
  } rows[] = {
      {"without -k", {"../two.zip"},
       "; the rest of the archive was not read \\(--keep-going reads it\\)",
       false},
      {"with -k", {"-k", "../two.zip"}, "", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const RunResult r = scanIn("o" + std::to_string(row.args.size()), row.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, ::testing::MatchesRegex("error reading \\.\\./two\\.zip:a\\.img: .* at byte "
                                               "[0-9]+ of the decompressed image" +
                                               std::string(row.afterDamage) + "\n(.|\n)*"));
    EXPECT_EQ(naming(r.out).find("scanning ../two.zip:b.img\n") != std::string::npos,
              row.secondScanned);
  }
}

TEST_F(StreamInputTest, AContainerInAnArchiveIsReadAsThatContainer) {
  writeImage(dir / "disk.img", {{"f", pattern(20000, 1)}, {"g", "two"}});
  sh("qemu-img convert -O qcow2 disk.img disk.qcow2 && zip -q vm.zip disk.qcow2",
     {"qemu-img", "zip"});
  if (IsSkipped()) return;
  const RunResult raw = scanIn("raw", {"../disk.img"});
  const RunResult r = scanIn("o", {"../vm.zip"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(body(r.out), body(raw.out));
  EXPECT_EQ(readFile(dir / "o/disk-0/f"), pattern(20000, 1));
}

TEST_F(StreamInputTest, AFormatNamedOnTheCommandLineIsReadAsThatFormat) {
  writeImage(dir / "disk.img", {{"f", "one"}});
  sh("gzip -c disk.img > disk.gz && xz --format=lzma -c disk.img > disk.lzma", {"gzip", "xz"});
  if (IsSkipped()) return;
  const struct {
    const char* label;
    std::vector<std::string> args;
    int status;
    const char* found;  // in the report
  } rows[] = {
      {"raw: the compressed bytes", {"--format=raw", "../disk.gz"}, 0, "\nend of ../disk.gz\n"},
      {"lzma has no signature: named", {"--format=lzma", "../disk.lzma"}, 0, "hit magic at 0 (0)"},
      {"gzip named", {"--format=gzip", "../disk.gz"}, 0, "hit magic at 0 (0)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const RunResult r = scanIn("o", row.args);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_THAT(r.out, HasSubstr(row.found));
  }
  EXPECT_THAT(scanIn("o", {"--format=raw", "../disk.gz"}).out, ::testing::Not(HasSubstr("hit magic")));
  const RunResult wrong = scanIn("o", {"--format=xz", "../disk.gz"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_EQ(wrong.err, "error reading ../disk.gz: not xz data at byte 0 of the decompressed image\n");
}

TEST_F(StreamInputTest, ANamedPipeIsReadAsAStream) {
  writeImage(dir / "disk.img", {{"f", "one"}});
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
  const RunResult raw = scanIn("raw", {"../disk.img"});
  ::mkdir((dir / "o").c_str(), 0755);
  const RunResult r = run({"/bin/sh", "-c", "cat ../disk.img > ../pipe & " +
                                                std::string(BFSSCAN_BIN) + " ../pipe"},
                          dir / "o");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(body(r.out), replaced(body(raw.out), "\"disk-", "\"pipe-"));
  EXPECT_EQ(naming(r.out), "scanning ../pipe\nend of ../pipe\n");
}

TEST_F(StreamInputTest, StandardInputFromACharacterDevice) {
  const struct {
    const char* label;
    const char* device;
    std::string out, err;
    int status;
  } rows[] = {
      {"at its end at once: an empty image", "/dev/null",
       "scanning -\n0 bytes / 0 sectors to read\nend of -\n", "", 0},
      {"giving data: refused", "/dev/zero", "scanning -\n",
       "error reading -: not a regular file or disk\n", 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const RunResult r = run(
        {"/bin/sh", "-c", std::string(BFSSCAN_BIN) + " - < " + row.device}, dir.path());
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.status, row.status);
  }
}

}  // namespace
