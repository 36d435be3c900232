// The results files around archives and pipes, and the pipes themselves:
// one DFXML document for every member, the maps of later members kept from
// every other file, standard input and output however they are named, a
// stop that ends a read waiting on a silent pipe, member names that cannot
// forge report lines, the default bound of a decompressed image, and an
// image that shrinks with file systems still inside its new length.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "harness.h"
#include "scratch_test.h"

namespace {

using ::testing::HasSubstr;

class ResultsAndStreams : public ScratchTest {
 protected:
  // bfsscan in dir by way of the shell: "B" in command is the program.
  RunResult shell(std::string command, const RunOptions& options = RunOptions()) {
    for (size_t at; (at = command.find("B ")) != std::string::npos;) {
      command.replace(at, 1, BFSSCAN_BIN);
    }
    return run({"/bin/sh", "-c", command}, dir.path(), options);
  }
  // Two images in an archive: one file system in a.img, two in b.img.
  void writeArchive() {
    writeImage(dir / "a.img", {{"f", "one"}});
    {
      mkbfs::ImageWriter w(dir / "b.img");
      mkbfs::writeFileSystem(w, 0, {{"g", "two"}});
      mkbfs::writeFileSystem(w, 1 << 16, {{"h", "three"}});
    }
    sh("tar cf both.tar a.img b.img", {"tar"});
  }
};

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

TEST_F(ResultsAndStreams, OneDfxmlDocumentCoversEveryMemberOfAnArchive) {
  writeArchive();
  if (IsSkipped()) return;
  const RunResult r = shell("B -n --dfxml=out.xml --json=out.json both.tar");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string xml = readFile(dir / "out.xml");
  EXPECT_EQ(count(xml, "<diskimageobject>"), 2u);
  EXPECT_EQ(count(xml, "<volume>"), 3u);
  EXPECT_EQ(count(xml, "</dfxml>"), 1u);
  EXPECT_EQ(count(readFile(dir / "out.json"), "\"type\":\"fs\""), 3u);
  if (!tool("xmllint").empty()) {
    EXPECT_EQ(shell("xmllint --noout out.xml").status, 0);
  }
}

TEST_F(ResultsAndStreams, TheMapsOfLaterMembersReplaceNoOtherFile) {
  writeArchive();
  if (IsSkipped()) return;
  const struct {
    const char* label;
    const char* options;
    int status;
    const char* err;
    std::vector<std::string> made;  // the files in the directory after the run
  } rows[] = {
      {"the json file", "--json=map.2.svg", 1,
       "bfsscan: --json \"map.2.svg\" is the name of the map of a later image of the archive "
       "(--map \"map.svg\")\n",
       {"sub/"}},
      {"the body file, named another way", "--bodyfile=sub/../map.2.svg", 1,
       "bfsscan: --bodyfile \"sub/../map.2.svg\" is the name of the map of a later image of the "
       "archive (--map \"map.svg\")\n",
       {"sub/"}},
      {"the dfxml file, a later number", "--dfxml=map.17.svg", 1,
       "bfsscan: --dfxml \"map.17.svg\" is the name of the map of a later image of the archive "
       "(--map \"map.svg\")\n",
       {"sub/"}},
      {"the json file, an HTML page's name", "--html=page.html --json=page.2.html", 1,
       "bfsscan: --json \"page.2.html\" is the name of the HTML page of a later image of the "
       "archive (--html \"page.html\")\n",
       {"sub/"}},
      {"not a member's name", "--json=map.1.svg", 0, "",
       {"map.1.svg", "map.2.svg", "map.svg", "sub/"}},
  };
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const std::string here = "r" + std::to_string(++n);
    ::mkdir((dir / here).c_str(), 0755);
    ::mkdir((dir / (here + "/sub")).c_str(), 0755);
    const RunResult r =
        shell("cd " + here + " && B -n --map=map.svg " + row.options + " ../both.tar");
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(listTree(dir / here), row.made);
  }
  // A file of that name that this run did not make is kept: the member's
  // map takes the next free number.
  { mkbfs::ImageWriter(dir / "map.2.svg").write(0, "mine"); }
  { mkbfs::ImageWriter(dir / "page.2.html").write(0, "mine"); }
  const RunResult r = shell("B -n --map=map.svg --html=page.html both.tar");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir / "map.2.svg"), "mine");
  EXPECT_THAT(readFile(dir / "map.3.svg"), HasSubstr("both.tar:b.img"));
  EXPECT_EQ(readFile(dir / "page.2.html"), "mine");
  EXPECT_THAT(readFile(dir / "page.3.html"), HasSubstr("both.tar:b.img"));
}

TEST_F(ResultsAndStreams, StandardInputAndOutputCountHoweverTheyAreNamed) {
  writeImage(dir / "disk.img", {{"f", "one"}});
  const struct {
    const char* label;
    const char* command;
    int status;
    const char* err;
    const char* out;  // how the file "out" that standard output went to begins
  } rows[] = {
      {"a results file that is the input pipe", "cat disk.img | B -n --json=/dev/stdin - > out",
       1, "bfsscan: cannot write \"/dev/stdin\": it is the image \"-\"\n", ""},
      {"standard output twice", "B -n --json=/dev/stdout --bodyfile=- disk.img > out", 1,
       "bfsscan: --bodyfile and --json name one file: \"-\" and \"/dev/stdout\" (see bfsscan "
       "--help)\n",
       ""},
      {"standard output by another name, alone: in place of the report",
       "B -n --json=/proc/self/fd/1 disk.img > out", 0, "", "{\"type\":\"image\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const RunResult r = shell(row.command);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(readFile(dir / "out").substr(0, std::string(row.out).size()), row.out);
    if (*row.out == '\0') {
      EXPECT_EQ(readFile(dir / "out"), "");
    }
  }
}

// A stop ends a read that waits on a pipe that sends nothing more: the
// run ends with 128 + SIGTERM, and leaves no temporary copy. The signal is
// sent once the program catches it (SigCgt in /proc/PID/status); the wait
// for its end is only a guard against a hang (the writer is then killed).
TEST_F(ResultsAndStreams, TerminationEndsAReadWaitingOnAPipe) {
  if (::access("/proc/self/status", R_OK) != 0) GTEST_SKIP() << "no /proc/PID/status";
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
  ::mkdir((dir / "tmp").c_str(), 0755);
  for (const char* input : {"- < pipe", "pipe"}) {
    SCOPED_TRACE(input);
    RunOptions options;
    options.env = {"TMPDIR=" + (dir / "tmp")};
    const RunResult r = shell(
        std::string("(printf abc; exec sleep 600) > pipe & w=$!; B -n ") + input +
            " & b=$!; i=0; while [ $i -lt 6000 ]; do "
            "c=$(sed -n 's/^SigCgt:\\t*//p' /proc/$b/status); "
            "[ $(( 0x${c:-0} & 0x4000 )) != 0 ] && break; "
            "i=$((i+1)); sleep 0.01; done; kill -TERM $b; i=0; "
            "while kill -0 $b 2>/dev/null && [ $i -lt 6000 ]; do i=$((i+1)); sleep 0.01; done; "
            "kill -0 $b 2>/dev/null && echo hung; kill $w 2>/dev/null; wait $b; echo status $?",
        options);
    EXPECT_THAT(r.out, ::testing::EndsWith("status 143\n"));
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("hung")));
    EXPECT_EQ(r.err, "bfsscan: interrupted by SIGTERM at byte 0 of the image\n");
    EXPECT_EQ(listTree(dir / "tmp"), std::vector<std::string>{});
  }
}

TEST_F(ResultsAndStreams, MemberNamesAreEscapedInTheReport) {
  writeImage(dir / "disk.img", {{"f", "one"}});
  sh("python3 -c \"import tarfile; t = tarfile.open('odd.tar', 'w', format=tarfile.GNU_FORMAT); "
     "t.add('disk.img', arcname='x\\nend of odd.tar\\x1b[2K'); t.close()\"",
     {"python3"});
  if (IsSkipped()) return;
  const RunResult r = shell("B -n odd.tar");
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string first;
  std::getline(lines, first);
  EXPECT_EQ(first, "scanning odd.tar:x\\nend of odd.tar\\x1b[2K");
  EXPECT_THAT(r.out, HasSubstr("\nend of odd.tar:x\\nend of odd.tar\\x1b[2K\n"));
}

// Unless --max-image says otherwise, an image is decoded up to a bound in
// proportion to the input: 1,000 times a compressed file, at least 1 GiB;
// for a pipe, the free space of $TMPDIR (as the test shim tells it) less a
// tenth.
TEST_F(ResultsAndStreams, TheDefaultBoundOfADecodedImageFollowsTheInput) {
  {
    mkbfs::ImageWriter w(dir / "zeros.img");
    w.setLength((1ull << 30) + (4 << 20));
  }
  writeImage(dir / "disk.img", {{"f", pattern(3 << 20)}});
  sh("zstd -q -c zeros.img > zeros.img.zst && gzip -c disk.img > disk.img.gz", {"zstd", "gzip"});
  if (IsSkipped()) return;
  RunOptions options;
  options.env = {"LD_PRELOAD=" EIO_SHIM, "BFSSCAN_TEST_FREE_BYTES=" + std::to_string(66 << 20),
                 "TMPDIR=" + dir.path(), "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
  const std::string exact = std::to_string(readFile(dir / "disk.img").size());
  const struct {
    const char* label;
    std::string command;
    std::string err;
    std::string length;  // the length line of the report
  } rows[] = {
      {"a compressed file: 1,000 times it, at least 1 GiB", "B -n zeros.img.zst",
       "error reading zeros.img.zst: the decompressed image is longer than 1.0 GiB (by default "
       "1,000 times the compressed file, at least 1 GiB; --max-image sets another); the rest "
       "was not read\n",
       "\n1073741824 bytes / "},
      {"a pipe: the free space less a tenth, or 64 MiB", "cat disk.img.gz | B -n -",
       "error reading -: the decompressed image is longer than 2.0 MiB (by default, for a pipe, "
       "the free space of " + dir.path() + " less a tenth or 64 MiB; --max-image sets "
       "another); the rest was not read\n",
       "\n2097152 bytes / "},
      {"--max-image sets another", "cat disk.img.gz | B -n --max-image=1M -",
       "error reading -: the decompressed image is longer than 1.0 MiB (--max-image); the rest "
       "was not read\n",
       "\n1048576 bytes / "},
      {"an image exactly as long as --max-image", "cat disk.img.gz | B -n --max-image=" + exact + " -",
       "", "\n" + exact + " bytes / "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const RunResult r = shell(row.command, options);
    EXPECT_EQ(r.err.substr(0, row.err.empty() ? r.err.size() : row.err.size()), row.err);
    EXPECT_THAT(r.out, HasSubstr(row.length));
  }
}

// The temporary copy leaves blocks of zeros as holes: a block whose only
// byte that is not zero is its last is no such block, and the file extracted
// from the compressed image keeps that byte.
TEST_F(ResultsAndStreams, ABlockWhoseLastByteAloneIsSetIsNoHole) {
  const size_t size = 16 << 10;
  const mkbfs::Layout layout = writeImage(dir / "disk.img", {{"f", std::string(size, '\0')}});
  const uint64_t start = layout.sblocks[0] * 512ull;
  std::string data(size, '\0');
  data[4095 - start % 4096 + 4096] = 'Z';
  writeImage(dir / "disk.img", {{"f", data}});
  sh("gzip disk.img", {"gzip"});
  if (IsSkipped()) return;
  const RunResult r = shell("B disk.img.gz");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(readFile(dir / "disk-0/f") == data);
}

// The block that the read meeting the new end returned is examined block by
// block: file systems inside the new length are all found, then the shrink
// is told as before. With a large image, the search of its second half runs
// on a second thread.
TEST_F(ResultsAndStreams, AnImageThatShrinksIsScannedUpToItsNewEnd) {
  const struct {
    const char* label;
    uint64_t length, second, cut;  // the cut is met by the read that holds the second
  } rows[] = {
      {"a small image", 16 << 20, (4 << 20) + (64 << 10), (4 << 20) + (300 << 10)},
      {"a large image", 300ull << 20, (100 << 20) + (64 << 10), (100 << 20) + (300 << 10)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const std::string img = dir / "disk.img";
    {
      mkbfs::ImageWriter w(img);
      w.setLength(row.length);
      w.write(row.second - (1 << 20), std::string(2 << 20, '\0'));  // data, not a hole
      mkbfs::writeFileSystem(w, 0, {{"a", "first"}});
      mkbfs::writeFileSystem(w, row.second, {{"b", "second"}});
      mkbfs::writeFileSystem(w, row.length - (1 << 20), {{"c", "gone"}});
    }
    RunOptions options;
    options.env = {"LD_PRELOAD=" EIO_SHIM, "BFSSCAN_TEST_SHRINK_AT=" + std::to_string(row.cut),
                   "BFSSCAN_TEST_SHRINK_PATH=" + img,
                   "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
    const RunResult r = shell("B -n disk.img", options);
    EXPECT_EQ(r.err, "error reading disk.img: the image became shorter while it was read\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(count(r.out, "hit magic"), 2u);
    std::ostringstream hit;
    hit << "hit magic at 0x" << std::hex << row.second << std::dec << " (" << row.second << ")";
    EXPECT_THAT(r.out, HasSubstr(hit.str()));
  }
}

}  // namespace
