// What a scan has done so far, carried as values: counts for the summary
// and the results, and what the exit status must say.
#ifndef BFSSCAN_SCAN_TALLY_H
#define BFSSCAN_SCAN_TALLY_H

#include <cstdint>

struct ScanTally {
  uint64_t fileSystems = 0;
  uint64_t extracted = 0;     // files written (or, in a dry run, read whole)
  uint64_t skipped = 0;       // files left out: no usable name, the image, the budget
  uint64_t lost = 0;          // files overwritten by a later one of the same path
  uint64_t unreadable = 0;    // files or blocks that could not be read (keep-going)
  uint64_t bytesWritten = 0;  // counted as if written in a dry run
  uint64_t diskSpent = 0;     // the budget's count: whole blocks of files and directories
  bool incomplete = false;    // something is missing from the result: status 2
  bool inconsistent = false;  // a condition was violated: status 3
  // What --deleted and --unallocated found.
  uint64_t deletedCandidates = 0;
  uint64_t deletedNames = 0;
  uint64_t orphans = 0;             // salvaged files no name points to
  uint64_t unallocatedWritten = 0;  // free runs and slack written (or listed)
  uint64_t unallocatedBytes = 0;
};

#endif  // BFSSCAN_SCAN_TALLY_H
