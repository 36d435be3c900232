#include "scan.h"

#include <algorithm>
#include <csignal>
#include <memory>
#include <new>
#include <optional>

#include "block_reader.h"
#include "broken_runs.h"
#include "consistency.h"
#include "escape.h"
#include "extract.h"
#include "inode_table.h"
#include "record_events.h"
#include "root_directory.h"
#include "scan_tally.h"
#include "stream_input.h"
#include "sys/fs/bfs.h"
#include "utc_time.h"

namespace {

constexpr uint64_t kMinimumBudget = 1ull << 30;

const char* signalName(int sig) {
  switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "a signal";
  }
}

// A violated condition or a failed read, met in a file system or in the
// block scan, carried as a value to the one place that decides what follows.
struct Failure {
  enum Kind { kViolation, kRead };
  Kind kind = kRead;
  int64_t fs = -1;  // the file system it was met in; -1 for the block scan
  std::string condition;
  ReadFailure read{ReadFailure::kEndOfImage};
};

// What follows a failure: the scan goes on with the next block (the file
// system, or the unreadable block, is passed over) or ends there.
enum class Next { kGoOn, kStop };

// One run: the image, the options, the sink and what has been done so far.
class Scanner {
 public:
  Scanner(const ScanRequest& request, ScanSink& sink, const StopToken* stop)
      : request_(request), config_(request.config), sink_(sink), stop_(stop) {}
  bfsscan::Outcome run(const Image* given, const ReadFailure* openFailure);

 private:
  // Decodes the image of the stream named by its last next(), telling its
  // problems; null when there is no image at all.
  std::unique_ptr<Image> decode(StreamInput& input);
  void scan(const Image& image);
  // The scan of one block only (ScanConfig::offset): the file system there.
  void scanOne(const Image& image, Extractor& extractor, int64_t base);
  // Reports, checks and extracts the file system whose superblock is block;
  // returns what went wrong in it, if anything.
  std::optional<Failure> processFileSystem(const Image& image, Extractor& extractor,
                                           const char* block, int64_t base);
  // The failure policy: whether the scan goes on after f, by the options.
  Next decide(const Failure& f) const;
  // Says what f means, for a scan that goes on or stops (next).
  void report(const Failure& f, Next next);
  void problem(ProblemEvent::What what, int64_t fs, uint64_t offset, const std::string& text);
  // The line for a read that failed in the file system at base (or in the
  // block scan when base < 0).
  void readProblem(const ReadFailure& failure, int64_t base, bool scanEnds);
  uint64_t budget() const;
  // The image event, with what is known of where the media came from.
  ImageEvent imageEvent(const Image& image) const;
  // The digests asked for of the whole media, read in order; none when a
  // read fails.
  std::vector<Digest> mediaDigests(const Image& image) const;

  const ScanRequest& request_;
  const bfsscan::ScanConfig& config_;
  ScanSink& sink_;
  const StopToken* stop_;
  ScanTally tally_;
  OffsetRuns unusedSlots_{BFS_INODESIZE};
  DirectoryMemo directories_;
  int64_t length_ = 0;
  int64_t position_ = 0;  // the block being examined
  int64_t fsBase_ = -1;   // the file system being processed
  bool reachedEnd_ = false;
  bool lastImage_ = true;  // no image of the stream follows
  std::string stem_;       // of the extraction directories, from the stream
  std::vector<std::string> chain_;  // how the stream's image was reached
  uint64_t storedLength_ = 0;       // of the stream's input
  std::string startTime_;
  std::vector<Digest> mediaDigests_;
};

void Scanner::problem(ProblemEvent::What what, int64_t fs, uint64_t offset,
                      const std::string& text) {
  emitProblem(sink_, what, text, fs, -1, offset);
}

uint64_t Scanner::budget() const {
  if (config_.maxOutput) return *config_.maxOutput;
  const uint64_t sixteenTimes = static_cast<uint64_t>(length_) <= (UINT64_MAX >> 4)
                                    ? static_cast<uint64_t>(length_) << 4
                                    : UINT64_MAX;
  return std::max(sixteenTimes, kMinimumBudget);
}

void Scanner::readProblem(const ReadFailure& failure, int64_t base, bool scanEnds) {
  tally_.incomplete = true;
  const std::string image = escapeForDiag(request_.image);
  if (failure.kind() == ReadFailure::kEndOfImage) {
    std::string text = "bfsscan: file system at " + std::to_string(base) + " is truncated: " +
                       failure.item() + " runs past the end of the image (" +
                       std::to_string(length_) + " bytes)";
    if (scanEnds) text += "; the rest of the image was not scanned (--keep-going scans it)";
    problem(ProblemEvent::kTruncated, base, static_cast<uint64_t>(length_), text);
    return;
  }
  std::string text = "error reading " + image + ": " + failure.description();
  if (!scanEnds && base >= 0) {
    text += " (" + failure.item() + " of the file system at " + std::to_string(base) + ")";
  }
  problem(failure.kind() == ReadFailure::kShrunk ? ProblemEvent::kShrunk
                                                 : ProblemEvent::kReadError,
          base, 0, text);
}

Next Scanner::decide(const Failure& f) const {
  if (!config_.keepGoing) return Next::kStop;
  if (f.kind == Failure::kViolation) return Next::kGoOn;
  switch (f.read.kind()) {
    case ReadFailure::kShrunk:     // nothing after it can be trusted
    case ReadFailure::kMediaEnds:  // nothing of the media is stored past it
      return Next::kStop;
    case ReadFailure::kSystemError: return Next::kGoOn;
    case ReadFailure::kEndOfImage: return f.fs >= 0 ? Next::kGoOn : Next::kStop;
  }
  return Next::kStop;
}

void Scanner::report(const Failure& f, Next next) {
  if (f.kind == Failure::kViolation) {
    tally_.inconsistent = true;
    std::string text =
        "bfsscan: inconsistent file system at " + std::to_string(f.fs) + ": " + f.condition;
    if (next == Next::kStop && !config_.offset) {  // --offset scans nothing else
      text += "; the rest of the image was not scanned (--keep-going scans it)";
    }
    problem(ProblemEvent::kInconsistent, f.fs, static_cast<uint64_t>(f.fs), text);
    return;
  }
  if (next == Next::kStop && f.read.kind() == ReadFailure::kEndOfImage) {
    reachedEnd_ = true;  // nothing is left to scan
    if (f.fs < 0) return;
  }
  readProblem(f.read, f.fs, next == Next::kStop);
}

std::optional<Failure> Scanner::processFileSystem(const Image& image, Extractor& extractor,
                                                  const char* block, int64_t base) {
  Failure f;
  f.fs = base;
  // With keep-going, broken slots and entries are told and left out.
  std::optional<BrokenRuns> slots, entries;
  if (config_.keepGoing) {
    slots.emplace(sink_, base, BrokenRuns::kSlots);
    entries.emplace(sink_, base, BrokenRuns::kEntries);
  }
  // A broken record makes the status 3, however the file system ends.
  struct NoteBroken {
    const std::optional<BrokenRuns>& slots;
    const std::optional<BrokenRuns>& entries;
    bool& inconsistent;
    ~NoteBroken() {
      if ((slots && slots->total() > 0) || (entries && entries->total() > 0)) inconsistent = true;
    }
  } noteBroken{slots, entries, tally_.inconsistent};
  try {
    if (!detectAndReport(block, base, sink_)) return std::nullopt;
    ++tally_.fileSystems;
    const bfsSuperBlock bsb(block, base);
    FileSystemEvent fe;
    fe.base = base;
    fe.magic = bsb.bdsup_bfsmagic;
    fe.start = bsb.bdsup_start;
    fe.end = bsb.bdsup_end;
    fe.slotCount = bsb.numInodes();
    if (const FileHolder* holder = extractor.holders().holderOf(base)) {
      fe.parentFs = holder->fs;
      fe.parentSlot = holder->slot;
      fe.parentPath = holder->path;
    }
    sink_.fileSystem(fe);

    const InodeTable inodes = InodeTable::load(image, base, bsb, unusedSlots_, sink_, stop_,
                                               slots ? &*slots : nullptr);
    NameTable names;
    if (const bfsDirent* root = inodes.root()) {
      try {
        names = readRootDirectory(image, base, *root, inodes, directories_, sink_, stop_,
                                  entries ? &*entries : nullptr);
      } catch (ReadFailure& failure) {
        failure.setItem("root directory");
        if (!entries || failure.kind() == ReadFailure::kShrunk) throw;
        // Salvaged: its files are extracted as orphans.
        checkStop(stop_);
        readProblem(failure, base, false);
        names = NameTable();
      }
    } else if (!inodes.rootBroken()) {  // a broken root slot was told already
      problem(ProblemEvent::kNoRoot, base, 0,
              "bfsscan: file system at " + std::to_string(base) + " has no root directory");
    }
    extractor.extract(base, inodes, names);
    if (config_.keepGoing) extractor.extractOrphans(base, inodes, names);
    if (config_.unallocated || config_.deleted) {
      extractor.extractUnowned(base, inodes, bsb.bdsup_start, bsb.bdsup_end);
    }
    return std::nullopt;
  } catch (const InconsistentFileSystem& violation) {
    f.kind = Failure::kViolation;
    f.condition = violation.condition();
  } catch (const ReadFailure& failure) {
    f.kind = Failure::kRead;
    f.read = failure;
  }
  return f;
}

std::unique_ptr<Image> Scanner::decode(StreamInput& input) {
  DecodedImage d = input.decode([&](uint64_t consumed, uint64_t total) {
    checkStop(stop_);
    sink_.decoding(consumed, total);
  });
  lastImage_ = d.last;
  stem_ = d.stem;
  chain_ = d.chain;
  storedLength_ = d.storedLength;
  for (const std::string& reason : d.problems) {
    tally_.incomplete = true;
    problem(ProblemEvent::kReadError, -1, 0,
            "error reading " + escapeForDiag(request_.image) + ": " + reason);
  }
  return std::move(d.image);
}

void Scanner::scan(const Image& image) {
  ExtractOptions extract;
  extract.directory = config_.directory;
  extract.dryRun = config_.dryRun;
  extract.listOnly = config_.dryRun && config_.listOnly;
  extract.preserve = config_.preserve;
  extract.keepGoing = config_.keepGoing;
  extract.maxOutput = budget();
  extract.hashes = config_.hashes;
  extract.resultsFiles = request_.resultsFiles;
  extract.stem = stem_;
  if (!config_.name.empty()) {
    // An archive's images each have a name of their own inside it.
    const bool member = !chain_.empty() && chain_.back().find(" member ") != std::string::npos;
    extract.stem = member ? config_.name + "." + stem_ : config_.name;
  }
  extract.unallocated = config_.unallocated;
  extract.deleted = config_.deleted;
  extract.tree = request_.tree;
  const std::string& stemOf = config_.stemOf.empty() ? request_.image : config_.stemOf;
  Extractor extractor(image, stemOf, extract, sink_, tally_, stop_);
  if (config_.offset) {
    scanOne(image, extractor, *config_.offset);
    return;
  }

  BlockReader blocks(image);
  // The run of unreadable blocks being passed over (keep-going).
  int64_t badFirst = -1, badLast = -1;
  std::string badWhy;
  auto endBadRun = [&]() {
    if (badFirst < 0) return;
    problem(ProblemEvent::kUnreadable, -1, static_cast<uint64_t>(badFirst),
            "error reading " + escapeForDiag(request_.image) + ": " + badWhy +
                " in the blocks at " + std::to_string(badFirst) + " to " +
                std::to_string(badLast) + ", skipped");
    badFirst = -1;
  };
  int64_t& s = position_;
  // The scan ends when no whole block is left.
  while (static_cast<uint64_t>(s) + BFS_BSIZE <= static_cast<uint64_t>(length_)) {
    checkStop(stop_);
    sink_.progress(s, tally_.fileSystems);
    bool hit;
    try {
      hit = blocks.next(s);
    } catch (const ReadFailure& failure) {
      checkStop(stop_);  // a read a signal cut short: the run was interrupted
      Failure f;
      f.read = failure;
      const Next next = decide(f);
      if (next == Next::kStop) {
        endBadRun();
        report(f, next);
        return;
      }
      if (badFirst >= 0 && s != badLast + static_cast<int64_t>(BFS_BSIZE)) endBadRun();
      if (badFirst < 0) {  // the line names the first block's reason
        badFirst = s;
        badWhy = failure.description();
      }
      badLast = s;
      ++tally_.unreadable;
      tally_.incomplete = true;
      s += BFS_BSIZE;
      continue;
    }
    endBadRun();
    if (!hit) continue;
    const int64_t base = s;
    s += BFS_BSIZE;
    fsBase_ = base;
    if (const std::optional<Failure> f = processFileSystem(image, extractor, blocks.block(), base)) {
      if (f->kind == Failure::kRead) checkStop(stop_);
      const Next next = decide(*f);
      report(*f, next);
      if (next == Next::kStop) return;
    }
    fsBase_ = -1;
  }
  endBadRun();
  reachedEnd_ = true;
  try {
    image.verifyMedia();  // what can only be checked once all of it was read
  } catch (const ReadFailure& failure) {
    Failure f;
    f.read = failure;
    report(f, Next::kStop);
  }
  if (!config_.hashes.empty() && tally_.unreadable == 0) mediaDigests_ = mediaDigests(image);
}

std::vector<Digest> Scanner::mediaDigests(const Image& image) const {
  FileHasher hasher(config_.hashes);
  try {
    image.forEachChunk(0, static_cast<uint64_t>(length_), 1 << 20,
                       [&](const char* bytes, size_t n) {
                         checkStop(stop_);
                         hasher.update(bytes, n);
                       });
  } catch (const ReadFailure&) {
    return {};
  }
  return hasher.finish();
}

ImageEvent Scanner::imageEvent(const Image& image) const {
  ImageEvent e;
  e.path = request_.image;
  e.length = length_;
  e.format = image.formatName();
  e.name = config_.name;
  e.chain = chain_;
  e.chain.push_back(e.format);
  e.storedLength = storedLength_;
  const MediaRecord record = image.mediaRecord();
  e.storedMd5 = record.storedMd5;
  e.storedSha1 = record.storedSha1;
  e.caseNumber = record.caseNumber;
  e.evidenceNumber = record.evidenceNumber;
  e.examiner = record.examiner;
  e.description = record.description;
  e.acquired = record.acquired;
  e.startTime = startTime_;
  return e;
}

void Scanner::scanOne(const Image& image, Extractor& extractor, int64_t base) {
  position_ = base;
  char block[BFS_BSIZE];
  bool read = false;
  if (base >= 0 && base % BFS_BSIZE == 0 &&
      static_cast<uint64_t>(base) + BFS_BSIZE <= static_cast<uint64_t>(length_)) {
    try {
      image.readExact(static_cast<uint64_t>(base), block, BFS_BSIZE);
      read = true;
    } catch (const ReadFailure& failure) {
      checkStop(stop_);
      Failure f;
      f.read = failure;
      report(f, Next::kStop);
      return;
    }
  }
  fsBase_ = base;
  if (read) {
    if (const std::optional<Failure> f = processFileSystem(image, extractor, block, base)) {
      if (f->kind == Failure::kRead) checkStop(stop_);
      report(*f, Next::kStop);
      return;
    }
  }
  fsBase_ = -1;
  if (tally_.fileSystems == 0) {
    tally_.incomplete = true;
    problem(ProblemEvent::kReadError, -1, static_cast<uint64_t>(std::max<int64_t>(base, 0)),
            "bfsscan: no file system at " + std::to_string(base) + " of " +
                escapeForDiag(request_.image));
    return;
  }
  reachedEnd_ = true;
}

bfsscan::Outcome Scanner::run(const Image* given, const ReadFailure* openFailure) {
  const std::string& f = request_.image;
  int status = kExitSuccess;
  startTime_ = utcNow();
  MediaVerdict verdict = MediaVerdict::kNotChecked;
  std::unique_ptr<Image> opened;
  try {
    sink_.start(f);
    if (openFailure != nullptr) {
      checkStop(stop_);
      Failure open;
      open.read = *openFailure;
      report(open, Next::kStop);
    } else if (request_.stream != nullptr) {
      opened = decode(*request_.stream);
    } else if (given == nullptr) {
      try {
        opened = openImage(f, request_.format);
      } catch (const ReadFailure& failure) {
        checkStop(stop_);
        Failure open;
        open.read = failure;
        report(open, Next::kStop);
      }
    }
    if (const Image* image = given != nullptr ? given : opened.get()) {
      length_ = image->length();
      sink_.image(imageEvent(*image));
      scan(*image);
      verdict = image->mediaVerdict();
    }
  } catch (const OutputFailure& failure) {
    tally_.incomplete = true;
    problem(ProblemEvent::kOutput, -1, 0, std::string("bfsscan: ") + failure.what());
  } catch (const Interrupted& interruption) {
    status = 128 + interruption.signal();
    // Where the work was: the file system being read, or the block scan.
    const std::string where = fsBase_ >= 0
                                  ? "in the file system at " + std::to_string(fsBase_)
                                  : "at byte " + std::to_string(position_) + " of the image";
    problem(ProblemEvent::kInterrupted, fsBase_,
            static_cast<uint64_t>(fsBase_ >= 0 ? fsBase_ : position_),
            std::string("bfsscan: interrupted by ") + signalName(interruption.signal()) + " " +
                where);
  } catch (const std::bad_alloc&) {
    tally_.incomplete = true;
    problem(ProblemEvent::kOutput, -1, 0, "bfsscan: out of memory");
  }

  if (status == kExitSuccess) {
    if (tally_.inconsistent) {
      status = kExitInconsistent;
    } else if (tally_.incomplete || sink_.lostOutput()) {
      status = kExitIncomplete;
    }
  }
  EndEvent end;
  end.reachedEnd = reachedEnd_;
  end.status = status;
  end.fileSystems = tally_.fileSystems;
  end.dryRun = config_.dryRun;
  end.filesExtracted = tally_.extracted;
  end.filesSkipped = tally_.skipped;
  end.filesLost = tally_.lost;
  end.bytesWritten = tally_.bytesWritten;
  end.lastImage = lastImage_ || status > kExitInconsistent;
  end.mediaDigests = mediaDigests_;
  switch (verdict) {
    case MediaVerdict::kMatches: end.verified = EndEvent::kMatches; break;
    case MediaVerdict::kDiffers: end.verified = EndEvent::kDiffers; break;
    case MediaVerdict::kNotChecked: break;
  }
  end.endTime = utcNow();
  end.unowned = config_.deleted || config_.unallocated;
  end.deletedCandidates = tally_.deletedCandidates;
  end.deletedNames = tally_.deletedNames;
  end.orphans = tally_.orphans;
  end.unallocatedWritten = tally_.unallocatedWritten;
  end.unallocatedBytes = tally_.unallocatedBytes;
  end.mediaHashesAsked = !config_.hashes.empty();
  try {
    sink_.end(end);
  } catch (const std::exception&) {  // a sink that could not finish its output
    if (end.status == kExitSuccess) end.status = kExitIncomplete;
  }
  if (end.status == kExitSuccess && sink_.lostOutput()) end.status = kExitIncomplete;
  if (request_.keepImage && opened) request_.keepImage(std::move(opened));
  return end;
}

}  // namespace

OpenedImage openForScan(const std::string& path, ImageFormat format) {
  OpenedImage opened;
  try {
    opened.image = openImage(path, format);
  } catch (const ReadFailure& failure) {
    opened.failure = failure;
  }
  return opened;
}

bfsscan::Outcome scanImage(const Image* image, const ScanRequest& request, ScanSink& sink,
                           const StopToken* stop, const ReadFailure* openFailure) {
  return Scanner(request, sink, stop).run(image, openFailure);
}

int do_scan(const ScanRequest& request, ScanSink& sink, const StopToken* stop) {
  return scanImage(nullptr, request, sink, stop).status;
}
