// The library's public entry points: opening an image and running a scan,
// over the image layer and the scanner.
#include <stdexcept>

#include "bfsscan/bfsscan.h"
#include "image.h"
#include "public_image.h"
#include "scan.h"
#include "scan_input.h"

#ifndef BFSSCAN_VERSION
#define BFSSCAN_VERSION "unknown"
#endif

namespace bfsscan {

Image::Image(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Image::~Image() = default;

namespace {

// The image format and stream format named; throws std::invalid_argument.
void parseFormat(const std::string& name, ImageFormat* format, std::string* streamFormat) {
  if (!parseInputFormat(name, format, streamFormat)) {
    throw std::invalid_argument("unknown image format '" + name + "'");
  }
}

}  // namespace

std::unique_ptr<Image> Image::open(const std::string& path, const std::string& format) {
  return open(path, format, ScanConfig().maxImage);
}

std::unique_ptr<Image> Image::open(const std::string& path, const std::string& format,
                                   uint64_t maxImage) {
  ImageFormat f;
  std::string streamFormat;
  parseFormat(format, &f, &streamFormat);
  auto impl = std::make_unique<Impl>();
  impl->path = path;
  InputRequest source;
  source.path = path;
  source.format = f;
  source.streamFormat = streamFormat;
  source.maxImage = maxImage;
  ScanInput input(source);
  try {
    impl->image = input.single();
  } catch (const std::runtime_error& e) {
    throw ImageError(e.what());
  }
  return std::unique_ptr<Image>(new Image(std::move(impl)));
}

const std::string& Image::path() const { return impl_->path; }
std::string Image::format() const { return impl_->image->formatName(); }
int64_t Image::length() const { return impl_->image->length(); }

size_t Image::read(uint64_t pos, char* buffer, size_t n) const {
  try {
    return impl_->image->readUpTo(pos, buffer, n);
  } catch (const ReadFailure& failure) {
    throw ImageError(failure.description());
  }
}

Outcome scan(const Image& image, const ScanConfig& config, Sink& sink, const StopToken* stop) {
  ScanRequest request;
  request.image = image.path();
  request.config = config;
  return scanImage(image.impl().image.get(), request, sink, stop);
}

Outcome scan(const std::string& path, const std::string& format, const ScanConfig& config,
             Sink& sink, const StopToken* stop) {
  InputRequest source;
  source.path = path;
  parseFormat(format, &source.format, &source.streamFormat);
  source.maxImage = config.maxImage;
  source.keepGoing = config.keepGoing;
  ScanRequest request;
  request.config = config;
  return ScanInput(source).scan(request, sink, stop);
}

const char* version() { return BFSSCAN_VERSION; }

}  // namespace bfsscan
