// The scan of an image: every 512-byte block is tested for a superblock,
// and every file system found is reported, checked and extracted. The scan
// only emits events; the sink decides what is printed or written.
#ifndef BFSSCAN_SCAN_H
#define BFSSCAN_SCAN_H

#include <string>

#include "exit_status.h"
#include "options.h"
#include "scan_sink.h"

// Scans options.image and returns the exit status: kExitSuccess when the
// scan reached the end of the image with everything extracted,
// kExitIncomplete when something is missing from the result,
// kExitInconsistent after a violated consistency condition, 128 + N after
// signal N. Every outcome, the last one included, goes to sink as events;
// the end event comes however the scan ends.
int do_scan(const ScanOptions& options, ScanSink& sink);

// Scans the image at path f with the text report and no options.
int do_scan(const std::string& f);

#endif  // BFSSCAN_SCAN_H
