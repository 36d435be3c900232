// The scan of an image: every 512-byte block is tested for a superblock,
// and every file system found is reported, checked and extracted. The scan
// only emits events; the sink decides what is printed or written.
#ifndef BFSSCAN_SCAN_H
#define BFSSCAN_SCAN_H

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bfsscan/scan.h"
#include "exit_status.h"
#include "image.h"
#include "results_targets.h"
#include "stream_input.h"
#include "output_tree.h"
#include "scan_sink.h"
#include "stop.h"

// What to scan and how.
struct ScanRequest {
  std::string image;                         // the path, as given
  ImageFormat format = ImageFormat::kAuto;
  bfsscan::ScanConfig config;
  const ResultsTargets* resultsFiles = nullptr;  // never written over; may be null
  // The stream the image comes from, whose next image (named image) is
  // decoded by the scan; null for an image opened as a file.
  StreamInput* stream = nullptr;
  // Where extracted files go instead of config.directory (in memory, for
  // the fuzzing targets); not owned. Unset for the command and the library.
  OutputTree* tree = nullptr;
  // When set, receives every image the scan read, after its end event (a
  // mount serves files from them); images of a stream are kept open.
  std::function<void(std::unique_ptr<Image>)> keepImage;
};

// The image of a run, opened before any results file is made: the image,
// or why it could not be opened, which the scan reports as its first event.
struct OpenedImage {
  std::unique_ptr<Image> image;
  std::optional<ReadFailure> failure;
};

OpenedImage openForScan(const std::string& path, ImageFormat format);

// Opens and scans request.image and returns the exit status: kExitSuccess
// when the scan reached the end of the image with everything extracted,
// kExitIncomplete when something is missing from the result,
// kExitInconsistent after a violated consistency condition, 128 + N after
// a stop request N. Every outcome, the last one included, goes to sink as
// events; the end event comes however the scan ends.
int do_scan(const ScanRequest& request, ScanSink& sink, const StopToken* stop = nullptr);

// The same for an image already opened (request.image names it), or one
// that could not be opened (openFailure; both null: opened here).
bfsscan::Outcome scanImage(const Image* image, const ScanRequest& request, ScanSink& sink,
                           const StopToken* stop, const ReadFailure* openFailure = nullptr);

#endif  // BFSSCAN_SCAN_H
