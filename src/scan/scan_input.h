// The one way every door (the command, the library, the Python module,
// bfsmount) opens what it is given and scans it: a raw file, a device or a
// container is opened in place; standard input, a named pipe, a compressed
// image or an archive is read as a stream of images, each decoded into a
// spool and scanned in turn. The format names, the limit on a decoded image
// and the refusals are therefore the same whatever door is used.
#ifndef BFSSCAN_SCAN_INPUT_H
#define BFSSCAN_SCAN_INPUT_H

#include <memory>
#include <string>

#include "scan.h"
#include "stream_input.h"

// What to open.
struct InputRequest {
  std::string path;  // as given; "-" for standard input
  ImageFormat format = ImageFormat::kAuto;
  std::string streamFormat;  // a compression or archive named (see parseInputFormat)
  // Per decoded image; 0: no limit; kMaxImageByInput: in proportion to the input.
  uint64_t maxImage = kMaxImageByInput;
  bool keepGoing = false;  // a damaged member does not end an archive
  // A descriptor read as standard input is (path then only names it, and
  // its extraction directories are stdin-OFFSET); -1: open path. Not taken over.
  int fd = -1;
  // A stop asked for here ends a read that waits on a pipe; may be null.
  const StopToken* stop = nullptr;
};

class ScanInput {
 public:
  // Opens the input; what cannot be opened is told by the scan.
  explicit ScanInput(const InputRequest& source);

  // The image opened in place; null for a stream, or a file that could not
  // be opened.
  const Image* file() const { return opened_.image.get(); }
  // Why the file could not be opened; null when it was, or for a stream.
  const ReadFailure* failure() const { return opened_.failure ? &*opened_.failure : nullptr; }
  // Whether the input may give more than one image (an archive).
  bool mayGiveSeveral() const { return stream_ && stream_->mayGiveSeveral(); }

  // Scans every image of the input in turn (request.image is set to each
  // one's name), an archive's members each after a member event, and none
  // after one that was interrupted. The outcome of a single image is its
  // own; of several, the worst status, the totals summed, and the end
  // reached when it was in each. Once only.
  bfsscan::Outcome scan(ScanRequest request, ScanSink& sink, const StopToken* stop);

  // The input as one image, instead of scan(): the file, or the one image
  // of a stream decoded whole. Throws std::runtime_error with the text that
  // follows "error reading PATH: " when it cannot be opened, cannot be
  // decoded whole, or holds more than one image (an archive of several).
  std::unique_ptr<Image> single();

 private:
  std::string path_;
  std::unique_ptr<StreamInput> stream_;
  OpenedImage opened_;
};

#endif  // BFSSCAN_SCAN_INPUT_H
