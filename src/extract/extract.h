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

#include "file_holders.h"
#include "image.h"
#include "inode_table.h"
#include "output_failure.h"
#include "hashing.h"
#include "output_tree.h"
#include "record_events.h"
#include "results_targets.h"
#include "root_directory.h"
#include "scan_sink.h"
#include "scan_tally.h"
#include "stop.h"

struct ExtractOptions {
  std::string directory;   // where extraction directories go; empty: here
  bool dryRun = false;
  bool listOnly = false;   // in a dry run: list files without reading their bytes
  bool preserve = false;
  bool keepGoing = false;  // an unreadable file is skipped, not the end
  uint64_t maxOutput = 0;  // bytes of disk spent at most; 0 for no limit
  std::vector<std::string> hashes;
  const ResultsTargets* resultsFiles = nullptr;  // never written over; may be null
  bool unallocated = false;  // write the free runs and slack of each file system
  bool deleted = false;      // report deleted names, write deleted candidates
  std::string stem;  // of the directories' names; empty: the image's file name's
  // Where the files go instead of the disk (or the dry run), when set; not
  // owned, and must outlive the extractor.
  OutputTree* tree = nullptr;
};

// Fills in what a file event and an orphan event share: the inode in use
// entry of the file system at base, its extent, and the extraction
// directory dir.
template <class Event>
void describeInode(Event& ev, int64_t base, const InodeTable::Entry& entry,
                   const std::string& dir) {
  const bfsDirent& inode = entry.inode;
  ev.fs = base;
  ev.slot = entry.slot;
  ev.inode = inodeFields(inode);
  ev.dir = dir;
  ev.first = inode.d_sblock * BFS_BSIZE;  // 32-bit block arithmetic: it wraps
  ev.imageOffset = imageOffset(base, ev.first);
  ev.length = static_cast<uint64_t>(inode.d_eoffset - ev.first) + 1;
}

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

  // After extract(): the space no inode in use owns (--unallocated) and the
  // traces of deleted files (--deleted) of the file system at base, whose
  // data area is [start, end] (unowned_extract.cpp). Throws as extract().
  void extractUnowned(int64_t base, const InodeTable& inodes, uint32_t start, uint32_t end);

  // After extract(), with keep-going: the files of the file system at base
  // that no sound directory entry names (names), copied as ino-N into the
  // directory of orphans beside the files (orphan_extract.cpp). Throws as
  // extract().
  void extractOrphans(int64_t base, const InodeTable& inodes, const NameTable& names);
  // The files extracted so far that may hold a file system found later.
  FileHolders& holders() { return holders_; }

 private:
  std::string directoryName(int64_t base) const;
  // Whether length more bytes would pass the budget (said once, when first
  // passed); then nothing more is written.
  bool overBudget(uint64_t length, int64_t base, int64_t slot);
  // Writes the image bytes [pos, pos + length) that lie inside the image as
  // name in the directory sub of the file system at base; the path written
  // (or listed), or empty when nothing was. A read failure is a problem
  // (what names the bytes), not the end of the scan.
  std::string writeRun(int64_t base, const std::string& sub, const std::string& name,
                       uint64_t pos, uint64_t length, const std::string& what,
                       FileHasher* hasher);
  // Whether the image bytes [pos, pos + length) hold a byte that is not zero.
  bool holdsNonZero(uint64_t pos, uint64_t length) const;
  void emitRun(int64_t base, UnallocatedEvent& ev);
  void extractFile(int64_t base, OutputDirectory& dir, FileEvent& ev);
  void extractOrphan(int64_t base, const std::string& name, OrphanEvent& ev);
  void noteWritten(int64_t base, const std::string& display, uint32_t slot,
                   const std::string& name);
  void copy(uint64_t pos, uint64_t n, OutputFile& out, FileHasher& hasher);
  void problem(ProblemEvent::What what, int64_t fs, int64_t slot, const std::string& text);
  // What a file or directory of n bytes spends of the budget: whole blocks
  // of the extraction file system, at least one.
  uint64_t diskCost(uint64_t n) const;
  // The reason the file at name in dir must not be written, or "".
  std::string forbidden(const OutputDirectory& dir, const std::string& name,
                        const std::string& display) const;

  const Image& image_;
  std::string imagePath_;
  std::string stem_;  // of the directories' names, worked out once
  ExtractOptions options_;
  ScanSink& sink_;
  ScanTally& tally_;
  const StopToken* stop_;
  std::unique_ptr<OutputTree> ownTree_;  // the disk or dry-run tree, unless one was given
  OutputTree* tree_;
  bool budgetSpent_ = false;
  std::map<std::string, uint32_t> written_;  // names written in this file system, by slot
  // The subdirectories of unowned space opened in the file system being done.
  std::map<std::string, std::unique_ptr<OutputDirectory>> subdirs_;
  FileHolders holders_;
};

#endif  // BFSSCAN_EXTRACT_H
