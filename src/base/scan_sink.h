// The output interface of a scan: one call per kind of event, in the order
// the scan meets them. The text report is one implementation; the body
// file, the JSON Lines file and the map are others. The stages only emit
// events, they never print.
//
// Every event method may throw OutputFailure (output_failure.h) when the sink's
// own file cannot be written; the scan then ends as for any output failure.
#ifndef BFSSCAN_SCAN_SINK_H
#define BFSSCAN_SCAN_SINK_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sys/fs/bfs.h"

// A digest of a file's bytes, by algorithm name ("md5", "sha1", "sha256"),
// as lower-case hexadecimal; empty when the bytes could not be read.
struct Digest {
  std::string algorithm;
  std::string hex;
};

// The image, once opened and measured.
struct ImageEvent {
  std::string path;    // as given on the command line
  int64_t length = 0;  // media size in bytes
  std::string format;  // "raw", "ewf", "split", "vhd", "vhdx", "vmdk", "qcow"
};

// A block that starts with the magic.
struct HitEvent {
  enum Verdict {
    kDiscarded,       // start >= end; the scan goes on
    kCountMismatch,   // nr != nr2: a violated condition follows
    kAccepted,        // a file system follows
  };
  int64_t offset = 0;
  uint32_t start = 0;
  uint32_t end = 0;
  uint64_t nr = 0;   // slots counted
  uint64_t nr2 = 0;  // slots by division
  Verdict verdict = kDiscarded;
};

// An accepted superblock: the file system at base is being read.
struct FileSystemEvent {
  int64_t base = 0;
  const bfsSuperBlock* superblock = nullptr;
  uint64_t slotCount = 0;  // numInodes()
};

// An inode slot in use, decoded as far as its checks allowed.
struct InodeEvent {
  enum Stage {
    kBadExtent,  // only the inode number is known; an extent check failed
    kBadType,    // the extent is known; the type check failed
    kDecoded,    // every field is decoded and checked
  };
  int64_t fs = 0;     // base of its file system
  uint32_t slot = 0;  // slot number in the table
  const bfsDirent* inode = nullptr;
  Stage stage = kDecoded;
};

// A root directory entry in use.
struct DirentEvent {
  int64_t fs = 0;
  const bfsLDirs* entry = nullptr;
};

// The extraction directory of a file system.
struct DirectoryEvent {
  int64_t fs = 0;
  std::string path;  // relative to the output directory ("disk-512")
  bool existed = false;
};

// One inode in use meeting extraction: the root directory, or a file.
struct FileEvent {
  enum Status {
    kPending,    // about to be copied (the copying line)
    kExtracted,  // written whole
    kListed,     // read whole in a dry run; nothing written
    kSkipped,    // no usable name, or its path is the image
    kFailed,     // its bytes could not be read, or it was not written
    kDirectory,  // the root directory: nothing to copy
  };
  int64_t fs = 0;
  uint32_t slot = 0;
  const bfsDirent* inode = nullptr;
  std::string dir;   // extraction directory ("disk-512")
  std::string name;  // from the root directory; empty when none names it
  uint32_t first = 0;       // file-system offset of the first byte (32-bit product)
  uint64_t imageOffset = 0; // base + first
  uint64_t length = 0;      // bytes: distance + 1
  Status status = kPending;
  std::vector<Digest> digests;  // the hashes asked for, when read
};

// A problem: one line on standard error.
struct ProblemEvent {
  enum What {
    kReadError,     // the image could not be opened or read
    kShrunk,        // the image became shorter while it was read
    kTruncated,     // a file system runs past the end of the image
    kInconsistent,  // a consistency condition is violated
    kNoRoot,        // a file system has no root directory
    kSkipped,       // a file was not extracted (no name, unsafe, the image)
    kLost,          // a file was overwritten by a later one of the same path
    kUnreadable,    // a file or blocks could not be read (keep-going)
    kOutput,        // an extraction directory, a file or an output file failed
    kPreserve,      // times, mode or owner could not be applied
    kBudget,        // the disk budget is spent
    kInterrupted,   // a signal ended the run
    kReport,        // the report could not be written
  };
  int64_t fs = -1;      // base of the file system, -1 when none
  int64_t slot = -1;    // slot of the file concerned, -1 when none
  uint64_t offset = 0;  // image offset concerned (the point of damage), 0 when none
  What what = kReadError;
  std::string text;     // the standard-error line, without newline, already escaped
};

// The end of the run.
struct EndEvent {
  bool reachedEnd = false;  // the scan read to the end of the image ("end of")
  int status = 0;           // the exit status
  uint64_t fileSystems = 0;
  uint64_t filesExtracted = 0;
  uint64_t filesSkipped = 0;
  uint64_t filesLost = 0;
  uint64_t bytesWritten = 0;
  bool lastImage = true;  // no image follows (an archive has one per member)
};

class ScanSink {
 public:
  virtual ~ScanSink() = default;
  // "scanning PATH", before the image is opened.
  virtual void start(const std::string& /*path*/) {}
  virtual void image(const ImageEvent&) {}
  virtual void hit(const HitEvent&) {}
  virtual void fileSystem(const FileSystemEvent&) {}
  virtual void inode(const InodeEvent&) {}
  virtual void dirent(const DirentEvent&) {}
  virtual void directory(const DirectoryEvent&) {}
  // A file is about to be copied (status kPending), or its outcome is known.
  virtual void file(const FileEvent&) {}
  virtual void problem(const ProblemEvent&) {}
  virtual void end(const EndEvent&) {}
  // Whether output this sink owns could not be written while the run went
  // on (a closed standard output); makes the status 2.
  virtual bool lostOutput() const { return false; }
};

// Sends a problem to sink: what kind, its standard-error line, and where
// (the file system, the slot of a file, an image offset) when known.
void emitProblem(ScanSink& sink, ProblemEvent::What what, const std::string& text,
                 int64_t fs = -1, int64_t slot = -1, uint64_t offset = 0);

// Hands every event to each of several sinks, in order.
class SinkList : public ScanSink {
 public:
  void add(std::unique_ptr<ScanSink> sink) { sinks_.push_back(std::move(sink)); }
  void start(const std::string& path) override;
  void image(const ImageEvent& e) override;
  void hit(const HitEvent& e) override;
  void fileSystem(const FileSystemEvent& e) override;
  void inode(const InodeEvent& e) override;
  void dirent(const DirentEvent& e) override;
  void directory(const DirectoryEvent& e) override;
  void file(const FileEvent& e) override;
  void problem(const ProblemEvent& e) override;
  void end(const EndEvent& e) override;
  bool lostOutput() const override;

 private:
  std::vector<std::unique_ptr<ScanSink>> sinks_;
};

#endif  // BFSSCAN_SCAN_SINK_H
