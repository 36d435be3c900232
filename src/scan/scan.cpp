#include "scan.h"

#include <algorithm>
#include <csignal>
#include <new>
#include <optional>

#include "block_reader.h"
#include "consistency.h"
#include "escape.h"
#include "extract.h"
#include "image.h"
#include "inode_table.h"
#include "progress.h"
#include "record_events.h"
#include "report.h"
#include "root_directory.h"
#include "scan_tally.h"
#include "signals.h"
#include "stream_input.h"
#include "sys/fs/bfs.h"
#include "text_report.h"

namespace {

constexpr uint64_t kMinimumBudget = 1ull << 30;

const char* signalName(int sig) {
  switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "a signal";
  }
}

// One run: the image, the options, the sink and what has been done so far.
class Scanner {
 public:
  // Scans the image named name: options.image opened as a file, or the
  // next image of input when there is one.
  Scanner(const ScanOptions& options, ScanSink& sink, const std::string& name,
          StreamInput* input = nullptr)
      : options_(options), sink_(sink), name_(name), input_(input) {}
  int run();

 private:
  // Reports, checks and extracts the file system whose superblock is block.
  void processFileSystem(const Image& image, Extractor& extractor, const char* block,
                         int64_t base);
  void problem(ProblemEvent::What what, int64_t fs, uint64_t offset, const std::string& text);
  // The line for a read that failed in the file system at base (or in the
  // block scan when base < 0).
  void readProblem(const ReadFailure& failure, int64_t base, int64_t length, bool scanEnds);
  uint64_t budget(int64_t length) const;
  // The line for a violated condition in the file system at base.
  void inconsistent(int64_t base, const InconsistentFileSystem& violation);

  // Decodes the next image of input_, telling its problems.
  DecodedImage decode();

  const ScanOptions& options_;
  ScanSink& sink_;
  const std::string& name_;
  StreamInput* input_;
  bool lastImage_ = true;
  ScanTally tally_;
  OffsetRuns unusedSlots_{BFS_INODESIZE};
  DirectoryMemo directories_;
  bool reachedEnd_ = false;
};

void Scanner::problem(ProblemEvent::What what, int64_t fs, uint64_t offset,
                      const std::string& text) {
  emitProblem(sink_, what, text, fs, -1, offset);
}

void Scanner::inconsistent(int64_t base, const InconsistentFileSystem& violation) {
  tally_.inconsistent = true;
  problem(ProblemEvent::kInconsistent, base, static_cast<uint64_t>(base),
          "bfsscan: inconsistent file system at " + std::to_string(base) + ": " +
              violation.condition());
}

uint64_t Scanner::budget(int64_t length) const {
  if (options_.maxOutputGiven) return options_.maxOutput;
  const uint64_t sixteenTimes = static_cast<uint64_t>(length) <= (UINT64_MAX >> 4)
                                    ? static_cast<uint64_t>(length) << 4
                                    : UINT64_MAX;
  return std::max(sixteenTimes, kMinimumBudget);
}

void Scanner::readProblem(const ReadFailure& failure, int64_t base, int64_t length,
                          bool scanEnds) {
  tally_.incomplete = true;
  const std::string image = escapeForDiag(name_);
  if (failure.kind() == ReadFailure::kEndOfImage) {
    std::string text = "bfsscan: file system at " + std::to_string(base) + " is truncated: " +
                       failure.item() + " runs past the end of the image (" +
                       std::to_string(length) + " bytes)";
    if (scanEnds) text += "; the rest of the image was not scanned (--keep-going scans it)";
    problem(ProblemEvent::kTruncated, base, static_cast<uint64_t>(length), text);
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

void Scanner::processFileSystem(const Image& image, Extractor& extractor, const char* block,
                                int64_t base) {
  const bfsSuperBlock bsb(block, base);
  recordPlace().fs = base;
  FileSystemEvent fe;
  fe.base = base;
  fe.superblock = &bsb;
  fe.slotCount = bsb.numInodes();
  sink_.fileSystem(fe);

  const InodeTable inodes = InodeTable::load(image, base, bsb, unusedSlots_);
  NameTable names;
  if (const bfsDirent* root = inodes.root()) {
    try {
      names = readRootDirectory(image, base, *root, inodes, directories_);
    } catch (ReadFailure& failure) {
      failure.setItem("root directory");
      throw;
    }
  } else {
    problem(ProblemEvent::kNoRoot, base, 0,
            "bfsscan: file system at " + std::to_string(base) + " has no root directory");
  }
  extractor.extract(base, inodes, names);
}

// An image that could not be had at all; its problems are told.
struct NoImage {};

DecodedImage Scanner::decode() {
  std::optional<Progress> progress;
  DecodedImage d = input_->decode([&](uint64_t consumed, uint64_t total) {
    checkInterrupted();
    if (total == 0) return;
    if (!progress) progress.emplace(static_cast<int64_t>(total));
    progress->update(static_cast<int64_t>(consumed), 0);
  });
  lastImage_ = d.last;
  for (const std::string& reason : d.problems) {
    tally_.incomplete = true;
    problem(ProblemEvent::kReadError, -1, 0, "error reading " + escapeForDiag(name_) + ": " + reason);
  }
  if (!d.image) throw NoImage();
  return d;
}

int Scanner::run() {
  const std::string& f = name_;
  int status = kExitSuccess;
  int64_t s = 0;        // the block being examined
  int64_t fsBase = -1;  // the file system being processed
  int64_t length = 0;
  try {
    sink_.start(f);
    DecodedImage decoded;
    if (input_ != nullptr) decoded = decode();
    const std::unique_ptr<Image> opened =
        input_ != nullptr ? std::move(decoded.image) : openImage(f, options_.format);
    const Image& image = *opened;
    length = image.length();
    sink_.image({f, length, image.formatName()});

    ExtractOptions extract;
    extract.directory = options_.directory;
    extract.dryRun = options_.dryRun;
    extract.preserve = options_.preserve;
    extract.keepGoing = options_.keepGoing;
    extract.maxOutput = budget(length);
    extract.hashes = options_.hashes;
    extract.stem = decoded.stem;
    Extractor extractor(image, f, extract, sink_, tally_);

    BlockReader blocks(image);
    Progress progress(length);
    // The run of unreadable blocks being passed over (keep-going).
    int64_t badFirst = -1, badLast = -1;
    std::string badWhy;
    auto endBadRun = [&]() {
      if (badFirst < 0) return;
      problem(ProblemEvent::kUnreadable, -1, static_cast<uint64_t>(badFirst),
              "error reading " + escapeForDiag(f) + ": " + badWhy + " in the blocks at " +
                  std::to_string(badFirst) + " to " + std::to_string(badLast) + ", skipped");
      badFirst = -1;
    };
    // The scan ends when no whole block is left.
    while (static_cast<uint64_t>(s) + BFS_BSIZE <= static_cast<uint64_t>(length)) {
      checkInterrupted();
      progress.update(s, static_cast<unsigned>(tally_.fileSystems));
      bool hit;
      try {
        hit = blocks.next(s);
      } catch (const ReadFailure& failure) {
        if (!options_.keepGoing || failure.kind() != ReadFailure::kSystemError) {
          endBadRun();
          throw;
        }
        if (badFirst >= 0 && s != badLast + static_cast<int64_t>(BFS_BSIZE)) endBadRun();
        if (badFirst < 0) badFirst = s;
        badLast = s;
        badWhy = failure.description();
        ++tally_.unreadable;
        tally_.incomplete = true;
        s += BFS_BSIZE;
        continue;
      }
      endBadRun();
      if (!hit) continue;
      const int64_t base = s;
      s += BFS_BSIZE;
      fsBase = base;
      try {
        if (detect_bfs(blocks.block(), base)) {
          ++tally_.fileSystems;
          processFileSystem(image, extractor, blocks.block(), base);
        }
      } catch (const InconsistentFileSystem& violation) {
        if (!options_.keepGoing) throw;
        inconsistent(base, violation);
      } catch (const ReadFailure& failure) {
        if (!options_.keepGoing || failure.kind() == ReadFailure::kShrunk) throw;
        readProblem(failure, base, length, false);
      }
      fsBase = -1;
    }
    endBadRun();
    reachedEnd_ = true;
  } catch (const ReadFailure& failure) {
    if (failure.kind() == ReadFailure::kEndOfImage) {
      reachedEnd_ = true;
      if (fsBase >= 0) readProblem(failure, fsBase, length, true);
    } else {
      readProblem(failure, fsBase, length, true);
    }
  } catch (const OutputFailure& failure) {
    tally_.incomplete = true;
    problem(ProblemEvent::kOutput, -1, 0, std::string("bfsscan: ") + failure.what());
  } catch (const InconsistentFileSystem& violation) {
    inconsistent(fsBase, violation);
  } catch (const Interrupted& interruption) {
    status = 128 + interruption.signal();
    // Where the work was: the file system being read, or the block scan.
    const std::string where = fsBase >= 0
                                  ? "in the file system at " + std::to_string(fsBase)
                                  : "at byte " + std::to_string(s) + " of the image";
    problem(ProblemEvent::kInterrupted, fsBase, static_cast<uint64_t>(fsBase >= 0 ? fsBase : s),
            std::string("bfsscan: interrupted by ") + signalName(interruption.signal()) + " " +
                where);
  } catch (const NoImage&) {
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
  end.filesExtracted = tally_.extracted;
  end.filesSkipped = tally_.skipped;
  end.filesLost = tally_.lost;
  end.bytesWritten = tally_.bytesWritten;
  end.lastImage = lastImage_ || status > kExitInconsistent;
  try {
    sink_.end(end);
  } catch (const OutputFailure& failure) {  // a results file that cannot be finished
    diag() << "bfsscan: " << failure.what() << '\n' << std::flush;
    if (status == kExitSuccess) status = kExitIncomplete;
  }
  if (status == kExitSuccess && sink_.lostOutput()) status = kExitIncomplete;
  return status;
}

}  // namespace

int do_scan(const ScanOptions& options, ScanSink& sink) {
  RecordSinkScope records(sink);
  const std::unique_ptr<StreamInput> input =
      StreamInput::open(options.image, options.format, options.streamFormat,
                        options.maxImage, options.keepGoing);
  if (!input) return Scanner(options, sink, options.image).run();
  // Each image of the input in turn; the status is the worst of theirs.
  int worst = kExitSuccess;
  std::string name;
  while (input->next(&name)) {
    const int status = Scanner(options, sink, name, input.get()).run();
    worst = std::max(worst, status);
    if (status > kExitInconsistent) break;  // interrupted
  }
  return worst;
}

int do_scan(const std::string& f) {
  ScanOptions options;
  options.image = f;
  TextReport report(f);
  return do_scan(options, report);
}
