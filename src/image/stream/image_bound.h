// The bound on the decompressed length of one image of a stream: the one
// --max-image gives, or by default one in proportion to the input, so that
// a small compressed file cannot fill the temporary directory that other
// programs share: 1,000 times a compressed file's length, at least 1 GiB;
// for a pipe, whose length is unknown, the free space of the spool's
// directory less a tenth of it (at least 64 MiB left free).
#ifndef BFSSCAN_IMAGE_BOUND_H
#define BFSSCAN_IMAGE_BOUND_H

#include <sys/stat.h>

#include <cstdint>
#include <string>

struct ImageBound {
  uint64_t bytes = 0;  // 0: none
  std::string why;     // how it was set, for the line that says it stopped the decoding
};

// The default bound for an input of that kind and length.
ImageBound defaultImageBound(const struct stat& input);

#endif  // BFSSCAN_IMAGE_BOUND_H
