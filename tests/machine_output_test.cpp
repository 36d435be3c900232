// The machine-readable outputs in-process: escaping, hashing, the results
// file, and the body file and JSON Lines sinks fed with synthetic events.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "body_file.h"
#include "escape.h"
#include "harness.h"
#include "hashing.h"
#include "json_lines.h"
#include "output_failure.h"
#include "console.h"
#include "record_events.h"
#include "results_file.h"

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string outputFailure(const std::function<void()>& f) {
  try {
    f();
  } catch (const OutputFailure& e) {
    return e.what();
  }
  return "(none)";
}

// An inode in use with its fields in host order.
bfsDirent inode(uint16_t ino, uint32_t type, uint32_t mode, uint32_t sblock, uint32_t eoffset) {
  bfsDirent d;
  d.d_ino = ino;
  d.d_sblock = sblock;
  d.d_eblock = eoffset / BFS_BSIZE;
  d.d_eoffset = eoffset;
  d.d_fattr.va_type = type;
  d.d_fattr.va_mode = mode;
  d.d_fattr.va_uid = 100;
  d.d_fattr.va_gid = 20;
  d.d_fattr.va_nlink = 1;
  d.d_fattr.va_atime = 1000000001;
  d.d_fattr.va_mtime = 1000000002;
  d.d_fattr.va_ctime = 4294967295u;
  return d;
}

FileEvent fileEvent(const bfsDirent& d, uint32_t slot, const std::string& name,
                    FileEvent::Status status, std::vector<Digest> digests = {}) {
  FileEvent e;
  e.fs = 512;
  e.slot = slot;
  e.inode = inodeFields(d);
  e.dir = "disk-512";
  e.name = name;
  e.first = d.d_sblock * BFS_BSIZE;
  e.imageOffset = 512 + e.first;
  e.length = d.d_eoffset - e.first + 1;
  e.status = status;
  e.digests = std::move(digests);
  return e;
}

// Standard error, captured for the length of a test.
class CaptureDiag : public StreamConsole {
 public:
  CaptureDiag() : StreamConsole(out_, err_) {}
  std::string text() const { return err_.str(); }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST(Escape, DiagBodyAndHex) {
  struct Case {
    const char* label;
    std::string in, diag, body, hex;
  } cases[] = {
      {"printable", "a b~", "a b~", "a b~", "6120627e"},
      {"terminal control", "x/\r\x1b[2K", "x/\\r\\x1b[2K", "x/\\x0d\\x1b[2K", "782f0d1b5b324b"},
      {"newline, tab", "a\nb\t", "a\\nb\\t", "a\\x0ab\\x09", "610a6209"},
      {"backslash", "a\\b", "a\\\\b", "a\\x5cb", "615c62"},
      {"field separator", "a|b", "a|b", "a\\x7cb", "617c62"},
      {"percent", "%41", "%41", "\\x2541", "253431"},
      {"UTF-8 u-umlaut", "\xc3\xbc", "\\xc3\\xbc", "\\xc3\\xbc", "c3bc"},
      {"NUL, DEL", std::string("\0\x7f", 2), "\\x00\\x7f", "\\x00\\x7f", "007f"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(escapeForDiag(c.in), c.diag) << c.label;
    EXPECT_EQ(escapeBodyName(c.in), c.body) << c.label;
    EXPECT_EQ(hexBytes(c.in), c.hex) << c.label;
  }
}

TEST(Hashing, ParseList) {
  struct Case {
    const char* list;
    bool ok;
    std::vector<std::string> algs;
  } cases[] = {
      {"md5", true, {"md5"}},
      {"sha256,md5", true, {"sha256", "md5"}},
      {"md5,sha1,sha256", true, {"md5", "sha1", "sha256"}},
      {"", false, {}},
      {"md5,", false, {}},
      {",md5", false, {}},
      {"md5,md5", false, {}},
      {"MD5", false, {}},
      {"sha512", false, {}},
      {"md5, sha1", false, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> algs{"untouched"};
    EXPECT_EQ(parseHashList(c.list, &algs), c.ok) << c.list;
    EXPECT_EQ(algs, c.ok ? c.algs : std::vector<std::string>{"untouched"}) << c.list;
  }
}

TEST(Hashing, KnownDigestsAndReuse) {
  FileHasher hasher({"md5", "sha1", "sha256"});
  hasher.update("a", 1);
  hasher.update("bc", 2);
  const std::vector<Digest> abc = hasher.finish();
  ASSERT_EQ(abc.size(), 3u);
  EXPECT_EQ(abc[0].algorithm, "md5");
  EXPECT_EQ(abc[0].hex, "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(abc[1].algorithm, "sha1");
  EXPECT_EQ(abc[1].hex, "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(abc[2].algorithm, "sha256");
  EXPECT_EQ(abc[2].hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // The next file starts afresh: the digests of no bytes.
  const std::vector<Digest> none = hasher.finish();
  EXPECT_EQ(none[0].hex, "d41d8cd98f00b204e9800998ecf8427e");

  FileHasher nothing({});
  nothing.update("abc", 3);
  EXPECT_TRUE(nothing.finish().empty());
}

TEST(ResultsFile, FailuresOfAFile) {
  TempDir dir;
  const std::string image = dir / "disk.img";
  writeImage(image, {});
  struct Case {
    const char* label;
    std::function<void()> f;
    std::string want;
  } cases[] = {
      {"missing directory", [&] { ResultsFile f(dir / "no/x"); },
       "cannot write \"" + dir.path() + "/no/x\": No such file or directory"},
      {"the image itself", [&] { ResultsFile f(dir / "./disk.img", image); },
       "cannot write \"" + dir.path() + "/./disk.img\": it is the image"},
      {"disk full", [&] { ResultsFile("/dev/full").writeLine("x"); },
       "cannot write \"/dev/full\": No space left on device"},
  };
  for (const Case& c : cases) EXPECT_EQ(outputFailure(c.f), c.want) << c.label;
  EXPECT_NE(readFile(image).size(), 0u) << "the image is not truncated";

  // Only the first failure throws: the run can still end every sink.
  ResultsFile full("/dev/full");
  EXPECT_NE(outputFailure([&] { full.writeLine("x"); }), "(none)");
  EXPECT_EQ(outputFailure([&] { full.writeLine("y"); }), "(none)");
}

TEST(ResultsFile, ClosedStandardOutputIsNoticedOnce) {
  CaptureDiag err;
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ::close(pipeFds[0]);
  const int savedOut = ::dup(STDOUT_FILENO);
  const auto savedPipe = std::signal(SIGPIPE, SIG_IGN);
  ::dup2(pipeFds[1], STDOUT_FILENO);
  ::close(pipeFds[1]);
  {
    ResultsFile out("-", "", &err);
    out.writeLine("one");
    out.writeLine("two");
    out.close();
    EXPECT_TRUE(out.lost());
  }
  ::dup2(savedOut, STDOUT_FILENO);
  ::close(savedOut);
  std::signal(SIGPIPE, savedPipe);
  EXPECT_EQ(err.text(), "bfsscan: cannot write to standard output: Broken pipe\n");
}

TEST(BodyFile, OneLinePerOutcome) {
  TempDir dir;
  const bfsDirent root = inode(2, BFS_VDIR, 040755, 2, 0x42f);
  const bfsDirent plain = inode(3, BFS_VREG, 0100644, 3, 0x602);
  const bfsDirent odd = inode(4, BFS_VREG, 0106751, 4, 0x800);
  const bfsDirent orphan = inode(5, BFS_VREG, 0101644, 5, 0xa00);
  const bfsDirent unread = inode(6, BFS_VREG, 0104600, 6, 0xc00);
  const std::vector<Digest> abc{{"sha1", "a9993e364706816aba3e25717850c26c9cd0d89d"},
                                {"md5", "900150983cd24fb0d6963f7d28e17f72"}};
  {
    BodyFileSink sink(std::make_unique<ResultsFile>(dir / "body"), true);
    sink.file(fileEvent(root, 2, ".", FileEvent::kDirectory));
    sink.file(fileEvent(plain, 3, "notes", FileEvent::kPending));
    sink.file(fileEvent(plain, 3, "notes", FileEvent::kExtracted, abc));
    sink.file(fileEvent(odd, 4, "a|b\n\xc3\xbc\\%", FileEvent::kListed, abc));
    sink.file(fileEvent(orphan, 5, "", FileEvent::kSkipped));
    sink.file(fileEvent(unread, 7, "bad", FileEvent::kFailed, {{"md5", ""}}));
    sink.end(EndEvent());
    EXPECT_FALSE(sink.lostOutput());
  }
  const char* times = "|100|20|";
  const std::string t = "|1000000001|1000000002|4294967295|0";
  EXPECT_EQ(lines(readFile(dir / "body")),
            (std::vector<std::string>{
                std::string("00000000000000000000000000000000|/disk-512/|2|d/drwxr-xr-x") + times +
                    "48" + t,
                std::string("900150983cd24fb0d6963f7d28e17f72|/disk-512/notes|3|r/rrw-r--r--") +
                    times + "3" + t,
                std::string("900150983cd24fb0d6963f7d28e17f72|/disk-512/a\\x7cb\\x0a\\xc3\\xbc"
                            "\\x5c\\x25|4|r/rrwsr-s--x") +
                    times + "1" + t,
                std::string("00000000000000000000000000000000|/disk-512/$OrphanFiles/OrphanFile-5|"
                            "5|r/rrw-r--r-T") +
                    times + "1" + t,
                std::string("00000000000000000000000000000000|/disk-512/bad|7|r/rrwS------") +
                    times + "1" + t,
            }));

  // Without md5 the field is 0; mactime takes every line, names intact.
  {
    BodyFileSink sink(std::make_unique<ResultsFile>(dir / "body"), false);
    sink.file(fileEvent(root, 2, ".", FileEvent::kDirectory));
    sink.file(fileEvent(odd, 4, "a|b\n\xc3\xbc\\%", FileEvent::kExtracted, abc));
    sink.file(fileEvent(orphan, 5, "", FileEvent::kSkipped));
  }
  const std::string body = readFile(dir / "body");
  EXPECT_EQ(body.substr(0, 13), "0|/disk-512/|");
  RunOptions utc;
  utc.env = {"TZ=UTC"};
  const RunResult timeline =
      run({"/bin/sh", "-c", "exec mactime -b \"$0\"", dir / "body"}, dir.path(), utc);
  EXPECT_EQ(timeline.status, 0) << timeline.err;
  for (const char* name : {"/disk-512/\n", "/disk-512/a\\x7cb\\x0a\\xc3\\xbc\\x5c\\x25\n",
                           "/disk-512/$OrphanFiles/OrphanFile-5\n"}) {
    EXPECT_NE(timeline.out.find(std::string(name)), std::string::npos) << name << timeline.out;
  }
  EXPECT_NE(timeline.out.find("Sun Sep 09 2001 01:46:41"), std::string::npos) << timeline.out;
}

TEST(JsonLines, OneObjectPerEvent) {
  TempDir dir;
  bfsSuperBlock sb(mkbfs::superblock(0x23e, 0x7ff).data(), 0);
  const bfsDirent root = inode(2, BFS_VDIR, 040755, 2, 0x42f);
  const bfsDirent file = inode(3, BFS_VREG, 0100644, 3, 0x602);
  const bfsDirent badExtent = inode(4, BFS_VREG, 0100644, 9, 0x800);
  const bfsDirent badType = inode(5, 7, 0100644, 5, 0xa00);
  const std::string entryBytes("\0\x03x\xff|", 5);
  const bfsLDirs entry((entryBytes + std::string(11, '\0')).data());
  {
    JsonLinesSink sink(std::make_unique<ResultsFile>(dir / "json"), "1.2.3");
    sink.start("d\xffisk.img");
    sink.image({"d\xffisk.img", 2560, "raw"});
    HitEvent discarded;
    discarded.offset = 1024;
    discarded.start = 9;
    discarded.end = 9;
    sink.hit(discarded);
    HitEvent accepted;
    accepted.offset = 512;
    accepted.start = 0x23e;
    accepted.end = 0x7ff;
    accepted.nr = accepted.nr2 = 3;
    accepted.verdict = HitEvent::kAccepted;
    sink.hit(accepted);
    sink.fileSystem({512, sb.bdsup_bfsmagic, sb.bdsup_start, sb.bdsup_end, 3});
    sink.inode({512, 2, inodeFields(root), InodeEvent::kDecoded, {}});
    sink.inode({512, 4, inodeFields(badExtent, bfsDirent::kBadExtent), InodeEvent::kBadExtent, {}});
    sink.inode({512, 5, inodeFields(badType, bfsDirent::kBadType), InodeEvent::kBadType, {}});
    sink.dirent({512, entry.l_ino, entry.toString()});
    sink.directory({512, "disk-512", false});
    sink.file(fileEvent(root, 2, ".", FileEvent::kDirectory));
    sink.file(fileEvent(file, 3, "x\xff|", FileEvent::kPending));
    sink.file(fileEvent(file, 3, "x\xff|", FileEvent::kExtracted,
                        {{"md5", "900150983cd24fb0d6963f7d28e17f72"}, {"sha1", ""}}));
    sink.file(fileEvent(file, 6, "", FileEvent::kSkipped));
    ProblemEvent lost;
    lost.fs = 512;
    lost.what = ProblemEvent::kLost;
    lost.text = "bfsscan: \"disk-512/x\\xff|\" written twice: an earlier file is lost";
    sink.problem(lost);
    ProblemEvent unreadable;
    unreadable.what = ProblemEvent::kReadError;
    unreadable.text = "bfsscan: error reading disk.img";
    sink.problem(unreadable);
    EndEvent end;
    end.status = 2;
    end.fileSystems = 1;
    end.filesExtracted = 1;
    sink.end(end);
  }
  const std::vector<std::string> got = lines(readFile(dir / "json"));
  const std::vector<std::string> want{
      R"({"type":"image","path":"d)" "\xef\xbf\xbd" R"(isk.img","path_hex":"64ff69736b2e696d67","size":2560,)"
      R"("sectors":5,"format":"raw","tool":"bfsscan","version":"1.2.3"})",
      R"({"type":"hit","offset":1024,"start":9,"end":9,"accepted":false,"reason":"end >= start"})",
      R"({"type":"hit","offset":512,"start":574,"end":2047,"accepted":true})",
      R"({"type":"fs","offset":512,"start":574,"end":2047,"inodes":3})",
      R"({"type":"inode","fs":512,"slot":2,"ino":2,"file_type":"dir","mode":"040755","uid":100,)"
      R"("gid":20,"nlink":1,"atime":1000000001,"mtime":1000000002,"ctime":4294967295,)"
      R"("first_block":2,"last_block":2,"image_offset":1536,"length":48})",
      R"({"type":"inode","fs":512,"slot":4,"ino":4,"damaged":"extent"})",
      R"({"type":"inode","fs":512,"slot":5,"ino":5,"damaged":"type","first_block":5,)"
      R"("last_block":5,"image_offset":3072,"length":1})",
      R"({"type":"dirent","fs":512,"ino":3,"name":"x)" "\xef\xbf\xbd" R"(|","name_hex":"78ff7c"})",
      R"({"type":"file","fs":512,"slot":3,"ino":3,"name":"x)" "\xef\xbf\xbd" R"(|","name_hex":"78ff7c",)"
      R"("path":"disk-512/x)" "\xef\xbf\xbd" R"(|","path_hex":"6469736b2d3531322f78ff7c",)"
      R"("image_offset":2048,"length":3,"status":"extracted",)"
      R"("md5":"900150983cd24fb0d6963f7d28e17f72","sha1":null})",
      R"({"type":"file","fs":512,"slot":6,"ino":3,"name":"","name_hex":"","path":null,"path_hex":null,)"
      R"("image_offset":2048,"length":3,"status":"skipped"})",
      R"({"type":"problem","fs":512,"what":"lost",)"
      R"("text":"bfsscan: \"disk-512/x\\xff|\" written twice: an earlier file is lost"})",
      R"({"type":"problem","what":"read-error","text":"bfsscan: error reading disk.img"})",
      R"({"type":"end","status":2,"reached_end":false,"file_systems":1,"files_extracted":1,)"
      R"("files_skipped":0,"files_lost":0,"bytes_written":0})",
  };
  EXPECT_EQ(got, want);
  for (const std::string& line : got) {
    const nlohmann::ordered_json j = nlohmann::ordered_json::parse(line);
    EXPECT_EQ(j.begin().key(), "type") << line;
  }
}

}  // namespace
