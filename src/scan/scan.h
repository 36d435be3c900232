// The scan of an image: every 512-byte block is tested for a superblock,
// and every file system found is reported, checked and extracted. The scan
// only emits events; the sink decides what is printed or written.
#ifndef BFSSCAN_SCAN_H
#define BFSSCAN_SCAN_H

#include <string>

#include "bfsscan/scan.h"
#include "exit_status.h"
#include "image.h"
#include "output_tree.h"
#include "scan_sink.h"
#include "stop.h"

// What to scan and how.
struct ScanRequest {
  std::string image;                         // the path, as given
  ImageFormat format = ImageFormat::kAuto;
  bfsscan::ScanConfig config;
  // Where extracted files go instead of config.directory (in memory, for
  // the fuzzing targets); not owned. Unset for the command and the library.
  OutputTree* tree = nullptr;
};

// Opens and scans request.image and returns the exit status: kExitSuccess
// when the scan reached the end of the image with everything extracted,
// kExitIncomplete when something is missing from the result,
// kExitInconsistent after a violated consistency condition, 128 + N after
// a stop request N. Every outcome, the last one included, goes to sink as
// events; the end event comes however the scan ends.
int do_scan(const ScanRequest& request, ScanSink& sink, const StopToken* stop = nullptr);

// The same for an image already opened (request.image names it).
bfsscan::Outcome scanImage(const Image* image, const ScanRequest& request, ScanSink& sink,
                           const StopToken* stop);

#endif  // BFSSCAN_SCAN_H
