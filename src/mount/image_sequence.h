// The images a mount reads files from, laid one after another in a single
// range of offsets: the image of a file, or each image of a stream (the
// members of an archive), each starting where the one before ends. The
// tree's files carry offsets in that range (see TreeCollector).
#ifndef BFSSCAN_IMAGE_SEQUENCE_H
#define BFSSCAN_IMAGE_SEQUENCE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "byte_source.h"
#include "image.h"

class ImageSequence : public ByteSource {
 public:
  // Appends an image, after the ones before (in the order of their image events).
  void add(std::unique_ptr<::Image> image);
  // Reads within the image pos lies in, never past its end; one read at a
  // time (container libraries keep state). Throws bfsscan::ImageError.
  size_t read(uint64_t pos, char* buffer, size_t n) override;
  // The descriptor of the only image when it is raw (its offsets are
  // those of the range); -1 otherwise.
  int rawFd() const;

 private:
  struct Placed {
    uint64_t start;
    std::unique_ptr<::Image> image;
  };
  std::vector<Placed> images_;
  uint64_t end_ = 0;
  std::mutex mutex_;
};

#endif  // BFSSCAN_IMAGE_SEQUENCE_H
