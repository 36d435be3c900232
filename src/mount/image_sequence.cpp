#include "image_sequence.h"

#include <algorithm>

void ImageSequence::add(std::unique_ptr<::Image> image) {
  const uint64_t length = static_cast<uint64_t>(std::max<int64_t>(image->length(), 0));
  images_.push_back({end_, std::move(image)});
  end_ += length;
}

size_t ImageSequence::read(uint64_t pos, char* buffer, size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The last image that starts at or before pos.
  auto it = std::upper_bound(images_.begin(), images_.end(), pos,
                             [](uint64_t p, const Placed& i) { return p < i.start; });
  if (it == images_.begin()) return 0;
  --it;
  const uint64_t local = pos - it->start;
  const uint64_t length = static_cast<uint64_t>(std::max<int64_t>(it->image->length(), 0));
  if (local >= length) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, length - local));
  try {
    return it->image->readUpTo(local, buffer, n);
  } catch (const ReadFailure& failure) {
    throw bfsscan::ImageError(failure.description());
  }
}

int ImageSequence::rawFd() const {
  return images_.size() == 1 ? images_.front().image->rawFd() : -1;
}
