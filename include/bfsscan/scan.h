// Running a scan: every 512-byte block of an image is tested for a BFS
// superblock; every file system found is reported to the sink, checked and
// (unless asked not to) extracted. Scans share no state: several can run
// at once in one process, each with its own sink and stop token.
#ifndef BFSSCAN_SCAN_H_PUBLIC
#define BFSSCAN_SCAN_H_PUBLIC

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bfsscan/events.h"
#include "bfsscan/image.h"
#include "bfsscan/stop_token.h"

namespace bfsscan {

// The exit statuses a scan ends with (128 + N after a stop request N).
enum Status {
  kComplete = 0,      // the end of the image was reached, everything extracted
  kUsage = 1,         // (the command line only)
  kIncomplete = 2,    // something could not be read or written; the sink was told what
  kInconsistent = 3,  // a file system broke a consistency condition
};

struct ScanConfig {
  // Extraction directories go into directory ("" for the current one),
  // named STEM-OFFSET after stemOf (the image's path when empty).
  std::string directory;
  std::string stemOf;
  bool dryRun = false;     // read and report everything, write nothing
  bool keepGoing = false;  // damage does not end the scan
  bool preserve = false;   // modes, times (and owners as root) from the inodes
  // Bytes extraction may spend on disk; unset: 16 times the image, at
  // least 1 GiB; 0: no limit.
  std::optional<uint64_t> maxOutput;
  std::vector<std::string> hashes;  // "md5", "sha1", "sha256"
  // Report (and write) the free runs and slack of each file system's data
  // area, and the deleted candidates and names, as DataAreaEvent,
  // UnallocatedEvent, DeletedEvent and DeletedNameEvent.
  bool unallocated = false;
  bool deleted = false;
  // With dryRun: files are listed without reading their bytes; only a file
  // that runs past the end of the image is known to fail.
  bool listOnly = false;
  // Examine only the file system whose superblock is at this byte offset
  // (no other block is read); none there is a read problem, status 2.
  std::optional<int64_t> offset;
  // Bytes an image that arrives compressed, archived or piped may decode
  // to (--max-image); 0: no limit. The default, UINT64_MAX, bounds it in
  // proportion to the input: 1,000 times a compressed file, at least 1 GiB;
  // for a pipe, the free space of $TMPDIR less a tenth.
  uint64_t maxImage = UINT64_MAX;
  // The stem of the extraction directories as it is (STEM-OFFSET), and the
  // name the records give the image; empty: after stemOf. Each image of an
  // archive is NAME.MEMBER.
  std::string name;
};

// The end of the run: status and totals, as the sink's end event had them.
using Outcome = EndEvent;

// Scans image, sending every event to sink; stop, when given, is looked at
// between pieces of work. Returns the outcome however the scan ends.
BFSSCAN_API Outcome scan(const Image& image, const ScanConfig& config, Sink& sink,
             const StopToken* stop = nullptr);

// Opens path (as format, any name Image::open takes) as the command does
// and scans it; a failure to open is reported to sink as the command
// reports it, with status 2. An archive's members are scanned one after
// another, each announced by a member event; its outcome is then the worst
// status with the totals summed.
BFSSCAN_API Outcome scan(const std::string& path, const std::string& format, const ScanConfig& config,
             Sink& sink, const StopToken* stop = nullptr);

// The version of the library ("1.0.0").
BFSSCAN_API const char* version();

}  // namespace bfsscan

#endif  // BFSSCAN_SCAN_H_PUBLIC
