// Broken records of a file system that is salvaged (keep-going): an inode
// slot or a directory entry that breaks a consistency condition is left
// out and the rest is read. Broken records with no sound record in use
// between them make one run, told in one problem line that names the first,
// the last and the count (as runs of unreadable blocks are), so that a
// table of garbage costs one line, not one per record.
#ifndef BFSSCAN_BROKEN_RUNS_H
#define BFSSCAN_BROKEN_RUNS_H

#include <cstdint>
#include <string>

#include "scan_sink.h"

class BrokenRuns {
 public:
  enum Kind { kSlots, kEntries };
  BrokenRuns(ScanSink& sink, int64_t fs, Kind kind) : sink_(sink), fs_(fs), kind_(kind) {}

  // Record index (a slot number, or an entry's index in the directory) at
  // imageOffset breaks condition; about: what the line says of it when it
  // is the first of its run (for an entry: the inode it names).
  void broken(uint64_t index, uint64_t imageOffset, const char* condition,
              const std::string& about = "");
  // A sound record in use: the run, if any, ends.
  void sound() { finish(); }
  // Ends the run, telling it; tail is added to its line.
  void finish(const std::string& tail = "");
  // Broken records met so far.
  uint64_t total() const { return total_; }

 private:
  ScanSink& sink_;
  int64_t fs_;
  Kind kind_;
  uint64_t total_ = 0;
  uint64_t count_ = 0;  // of the open run; 0 when none
  uint64_t first_ = 0, last_ = 0, offset_ = 0;
  std::string condition_, about_;
};

#endif  // BFSSCAN_BROKEN_RUNS_H
