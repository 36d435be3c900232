// The scan of an image: every 512-byte block is tested for a superblock,
// and every file system found is reported, checked and extracted. The scan
// only emits events; the sink decides what is printed or written.
#ifndef BFSSCAN_SCAN_H
#define BFSSCAN_SCAN_H

#include <exception>
#include <memory>
#include <string>

#include "exit_status.h"
#include "image.h"
#include "options.h"
#include "results_targets.h"
#include "scan_sink.h"

// The image of a run, opened before any results file is made: the image,
// or what opening it threw (a ReadFailure), which the scan reports as its
// first event.
struct OpenedImage {
  std::unique_ptr<Image> image;
  std::exception_ptr failure;
};

OpenedImage openForScan(const ScanOptions& options);

// Scans options.image and returns the exit status: kExitSuccess when the
// scan reached the end of the image with everything extracted,
// kExitIncomplete when something is missing from the result,
// kExitInconsistent after a violated consistency condition, 128 + N after
// signal N. Every outcome, the last one included, goes to sink as events;
// the end event comes however the scan ends.
// The image is the one opened; results, when given, are the results files,
// which extraction never writes over.
int do_scan(const ScanOptions& options, ScanSink& sink);
int do_scan(const ScanOptions& options, ScanSink& sink, OpenedImage opened,
            const ResultsTargets* results);

// Scans the image at path f with the text report and no options.
int do_scan(const std::string& f);

#endif  // BFSSCAN_SCAN_H
