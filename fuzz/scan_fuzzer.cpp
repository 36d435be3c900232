// Fuzzing target: the whole scan of the input taken as an image, read from
// memory (in place) and extracted into memory, with the report written to a
// stream that discards it. Run as by default and once more keeping going past
// damage; on every input it checks what must always hold:
//  - every extraction directory is STEM-OFFSET (or its directory of
//    orphans, when keeping going) and every file name is one safe
//    component, so that no path leaves its extraction directory;
//  - every file written holds exactly the image's bytes at its extent;
//  - the totals of the end event agree with what was written;
//  - the status is 0, 2 or 3, and says what the problems say (a file
//    system without a root directory alone leaves it 0);
//  - what the plain run reported before it stopped, the keep-going run
//    reported too, in the same order (but the files no entry names, which
//    the keep-going run copies as orphans after the others).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console.h"
#include "fuzz_check.h"
#include "memory_image.h"
#include "memory_tree.h"
#include "scan.h"
#include "text_report.h"

namespace {

// One event that describes the image, as the runs are compared: its kind,
// the numbers that place it and its name or path (no problem lines, whose
// words differ between the runs).
struct Logged {
  enum Kind { kHit, kFileSystem, kInode, kDirent, kDirectory, kFile };
  Kind kind;
  int64_t at;       // offset of the hit, base of the file system
  uint64_t a, b;    // verdict; slot and stage; inode number; slot and status
  std::string text; // name of an entry or a file, path of a directory

  bool operator==(const Logged& o) const {
    return kind == o.kind && at == o.at && a == o.a && b == o.b && text == o.text;
  }
};

// A file written, as the checks need it.
struct Written {
  bool orphan;
  int64_t fs;
  std::string dir, name;
  uint64_t imageOffset, length;
};

// Keeps what the checks need: the events that describe the image, the
// files written, and whether a condition was violated.
class Recorder : public ScanSink {
 public:
  Recorder() { log.reserve(64); }  // not grown at all for many inputs
  void hit(const HitEvent& e) override {
    log.push_back({Logged::kHit, e.offset, static_cast<uint64_t>(e.verdict), 0, {}});
  }
  void fileSystem(const FileSystemEvent& e) override {
    log.push_back({Logged::kFileSystem, e.base, 0, 0, {}});
  }
  void inode(const InodeEvent& e) override {
    log.push_back({Logged::kInode, e.fs, e.slot, static_cast<uint64_t>(e.stage), {}});
  }
  void dirent(const DirentEvent& e) override {
    log.push_back({Logged::kDirent, e.fs, e.ino, 0, e.name});
  }
  void directory(const DirectoryEvent& e) override {
    log.push_back({Logged::kDirectory, 0, 0, 0, e.path});
  }
  void file(const FileEvent& e) override {
    if (!e.name.empty() || e.status == FileEvent::kDirectory) {
      log.push_back({Logged::kFile, e.fs, e.slot, static_cast<uint64_t>(e.status), e.name});
    }
    if (e.status == FileEvent::kExtracted) {
      extracted.push_back({false, e.fs, e.dir, e.name, e.imageOffset, e.length});
    }
    FUZZ_CHECK(e.imageOffset == static_cast<uint64_t>(e.fs) + e.first);
  }
  void orphan(const OrphanEvent& e) override {
    const std::string name = "ino-" + std::to_string(e.slot);
    FUZZ_CHECK(e.path == e.dir + "/" + kOrphans + "/" + name);
    if (e.status == FileEvent::kExtracted) {
      extracted.push_back({true, e.fs, e.dir + "/" + kOrphans, name, e.imageOffset, e.length});
    }
    FUZZ_CHECK(e.imageOffset == static_cast<uint64_t>(e.fs) + e.first);
  }
  static constexpr const char* kOrphans = ".bfsscan-orphans";
  void problem(const ProblemEvent& e) override {
    // A file system without a root directory is said, but nothing is
    // missing for it: it leaves the status alone.
    if (e.what != ProblemEvent::kNoRoot) ++problems;
    if (e.what == ProblemEvent::kInconsistent) inconsistent = true;
  }

  std::vector<Logged> log;
  std::vector<Written> extracted;
  size_t problems = 0;  // those that make the status 2 or 3
  bool inconsistent = false;
};

bool safeComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

struct Run {
  bfsscan::Outcome outcome;
  Recorder* recorder;  // owned by sinks
  SinkList sinks;
  MemoryTree tree;
};

// The report is written by the keep-going run alone: it meets every event
// the plain run does, and formatting the same lines twice for a stream
// that discards them only doubles what they cost.
void scanOnce(const uint8_t* data, size_t size, bool keepGoing, Run& run) {
  const MemoryImage image(data, size);
  ScanRequest request;
  request.image = "fuzz.img";
  request.format = ImageFormat::kRaw;
  request.config.keepGoing = keepGoing;
  // The default budget without its floor of 1 GiB: memory stays bounded.
  request.config.maxOutput = 16 * static_cast<uint64_t>(size);
  request.tree = &run.tree;
  NullStream discard;
  StreamConsole console(discard, discard);
  if (keepGoing) run.sinks.add(std::make_unique<TextReport>(console, request.image));
  auto recorder = std::make_unique<Recorder>();
  run.recorder = recorder.get();
  run.sinks.add(std::move(recorder));
  run.outcome = scanImage(&image, request, run.sinks, nullptr);
}

void checkRun(const uint8_t* data, size_t size, const Run& run) {
  const bfsscan::Outcome& end = run.outcome;
  const Recorder& r = *run.recorder;
  FUZZ_CHECK(end.status == 0 || end.status == 2 || end.status == 3);
  FUZZ_CHECK((end.status == 3) == r.inconsistent);
  if (end.status == 0) FUZZ_CHECK(r.problems == 0 && end.reachedEnd);
  if (r.problems > 0) FUZZ_CHECK(end.status != 0);

  for (std::string dir : run.tree.directories()) {
    const std::string orphans = std::string("/") + Recorder::kOrphans;
    if (dir.size() > orphans.size() &&
        dir.compare(dir.size() - orphans.size(), orphans.size(), orphans) == 0) {
      dir.resize(dir.size() - orphans.size());
    }
    FUZZ_CHECK(safeComponent(dir) && dir.compare(0, 5, "fuzz-") == 0);
  }
  const std::vector<MemoryTree::Commit>& commits = run.tree.commits();
  FUZZ_CHECK(commits.size() == r.extracted.size());
  FUZZ_CHECK(end.filesExtracted == commits.size());
  uint64_t bytes = 0;
  for (size_t i = 0; i < commits.size(); ++i) {
    const MemoryTree::Commit& c = commits[i];
    const Written& e = r.extracted[i];
    FUZZ_CHECK(safeComponent(c.name) && c.name == e.name);
    FUZZ_CHECK(c.directory == e.dir &&
               c.directory == "fuzz-" + std::to_string(e.fs) +
                                  (e.orphan ? std::string("/") + Recorder::kOrphans : ""));
    FUZZ_CHECK(e.imageOffset <= size && e.length <= size - e.imageOffset);
    FUZZ_CHECK(c.bytes.size() == e.length);
    FUZZ_CHECK(std::memcmp(c.bytes.data(), data + e.imageOffset, c.bytes.size()) == 0);
    bytes += e.length;
  }
  FUZZ_CHECK(end.bytesWritten == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run plain, keepGoing;
  scanOnce(data, size, false, plain);
  checkRun(data, size, plain);
  scanOnce(data, size, true, keepGoing);
  checkRun(data, size, keepGoing);

  const std::vector<Logged>& before = plain.recorder->log;
  const std::vector<Logged>& after = keepGoing.recorder->log;
  FUZZ_CHECK(before.size() <= after.size());
  for (size_t i = 0; i < before.size(); ++i) FUZZ_CHECK(before[i] == after[i]);
  FUZZ_CHECK(plain.outcome.fileSystems <= keepGoing.outcome.fileSystems);
  if (plain.outcome.status == 0) FUZZ_CHECK(keepGoing.outcome.status == 0);
  return 0;
}
