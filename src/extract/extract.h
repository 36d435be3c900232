// Extraction of one decoded file system: its directory, named after the
// image and the file system's offset, and a byte-for-byte copy of every
// regular file in it under its directory name. Nothing is ever written
// outside that directory, through a link, or over the image itself; how
// and whether files are written is the OutputTree's business.
#ifndef BFSSCAN_EXTRACT_H
#define BFSSCAN_EXTRACT_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image.h"
#include "inode_table.h"
#include "output_failure.h"
#include "hashing.h"
#include "output_tree.h"
#include "root_directory.h"
#include "scan_sink.h"
#include "scan_tally.h"
#include "stop.h"

struct ExtractOptions {
  std::string directory;   // where extraction directories go; empty: here
  bool dryRun = false;
  bool preserve = false;
  bool keepGoing = false;  // an unreadable file is skipped, not the end
  uint64_t maxOutput = 0;  // bytes written at most; 0 for no limit
  std::vector<std::string> hashes;
  // Where the files go instead of the disk (or the dry run), when set; not
  // owned, and must outlive the extractor.
  OutputTree* tree = nullptr;
};

// Whether a name from a directory entry names a file inside a directory.
bool isSafeName(const std::string& name);

class Extractor {
 public:
  // Opens (or, in a dry run, looks at) the output directory. Throws
  // OutputFailure.
  Extractor(const Image& image, const std::string& imagePath, const ExtractOptions& options,
            ScanSink& sink, ScanTally& tally, const StopToken* stop = nullptr);

  // Extracts the file system at base. Files that cannot be given a safe
  // name are reported and left out. Throws OutputFailure, Interrupted, and
  // ReadFailure (unless keep-going, for the data of a file).
  void extract(int64_t base, const InodeTable& inodes, const NameTable& names);

 private:
  void extractFile(int64_t base, OutputDirectory& dir, FileEvent& ev);
  void copy(uint64_t pos, uint64_t n, OutputFile& out, FileHasher& hasher);
  void problem(ProblemEvent::What what, int64_t fs, int64_t slot, const std::string& text);

  const Image& image_;
  std::string imagePath_;
  ExtractOptions options_;
  ScanSink& sink_;
  ScanTally& tally_;
  const StopToken* stop_;
  std::unique_ptr<OutputTree> ownTree_;  // the disk or dry-run tree, unless one was given
  OutputTree* tree_;
  bool budgetSpent_ = false;
  std::map<std::string, uint32_t> written_;  // names written in this file system, by slot
};

#endif  // BFSSCAN_EXTRACT_H
