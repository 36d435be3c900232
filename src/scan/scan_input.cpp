#include "scan_input.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

ScanInput::ScanInput(const InputRequest& source) : path_(source.path) {
  if (source.fd >= 0) {
    stream_ = StreamInput::openDescriptor(source.fd, source.path, "stdin", source.streamFormat,
                                          source.maxImage, source.keepGoing, source.stop);
    if (!stream_) opened_.failure = ReadFailure(ReadFailure::kSystemError, EBADF);
    return;
  }
  stream_ = StreamInput::open(source.path, source.format, source.streamFormat, source.maxImage,
                              source.keepGoing, source.stop);
  if (!stream_) opened_ = openForScan(source.path, source.format);
}

bfsscan::Outcome ScanInput::scan(ScanRequest request, ScanSink& sink, const StopToken* stop) {
  if (!stream_) {
    request.image = path_;
    const bfsscan::Outcome outcome = scanImage(opened_.image.get(), request, sink, stop, failure());
    if (request.keepImage && opened_.image) request.keepImage(std::move(opened_.image));
    return outcome;
  }
  request.stream = stream_.get();
  bfsscan::Outcome all;
  bool first = true;
  while (stream_->next(&request.image)) {
    const std::string member = stream_->member();
    if (!member.empty()) sink.member({path_, member});
    const bfsscan::Outcome one = scanImage(nullptr, request, sink, stop);
    if (first) {
      all = one;
      first = false;
    } else {
      all.status = std::max(all.status, one.status);
      all.reachedEnd = all.reachedEnd && one.reachedEnd;
      all.fileSystems += one.fileSystems;
      all.filesExtracted += one.filesExtracted;
      all.filesSkipped += one.filesSkipped;
      all.filesLost += one.filesLost;
      all.bytesWritten += one.bytesWritten;
      all.lastImage = one.lastImage;
    }
    if (one.status > kExitInconsistent) break;  // interrupted
  }
  return all;
}

std::unique_ptr<Image> ScanInput::single() {
  if (!stream_) {
    if (const ReadFailure* f = failure()) throw std::runtime_error(f->description());
    return std::move(opened_.image);
  }
  std::string name;
  if (!stream_->next(&name)) throw std::runtime_error("no image in it");
  DecodedImage d = stream_->decode([](uint64_t, uint64_t) {});
  if (!d.problems.empty()) throw std::runtime_error(d.problems.front());
  if (!d.image) throw std::runtime_error("no image in it");
  if (!d.last) {
    throw std::runtime_error("an archive of several images (a scan by its path reads each)");
  }
  return std::move(d.image);
}
