// What stands behind the library's public Image: the path it was opened as
// and the image layer's own object, for the scan and for the programs built
// with the layers themselves (bfsmount hands the descriptor of a raw image to
// the kernel).
#ifndef BFSSCAN_PUBLIC_IMAGE_H
#define BFSSCAN_PUBLIC_IMAGE_H

#include <memory>
#include <string>

#include "bfsscan/image.h"
#include "image.h"

namespace bfsscan {

struct Image::Impl {
  std::string path;
  std::unique_ptr<::Image> image;
};

}  // namespace bfsscan

#endif  // BFSSCAN_PUBLIC_IMAGE_H
