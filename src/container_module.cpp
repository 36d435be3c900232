// The entry points of the container module (bfsscan-containers.so), which
// holds the container formats and links their libraries; the scanner loads
// it only when an image is not raw (see open_image.cpp).
#include <memory>
#include <string>

#include "container_image.h"
#include "container_module.h"

extern "C" {

void bfsscan_open_container(ImageFormat format, const std::string& path,
                            std::unique_ptr<Image>* image) {
  switch (format) {
    case ImageFormat::kEwf: *image = openEwfImage(path); break;
    case ImageFormat::kSplit: *image = openSplitImage(path); break;
    case ImageFormat::kVhd:
    case ImageFormat::kVhdx: *image = openVhdImage(path); break;
    case ImageFormat::kVmdk: *image = openVmdkImage(path); break;
    case ImageFormat::kQcow: *image = openQcowImage(path); break;
    case ImageFormat::kAuto:
    case ImageFormat::kRaw: break;
  }
}

bool bfsscan_is_split_set_start(const std::string& path) { return isSplitSetStart(path); }

}  // extern "C"
