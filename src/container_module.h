// What the scanner asks of the container module, a library loaded at run
// time: its file name, where it is looked for, and its entry points (C
// names, C++ arguments: module and program are built together).
#ifndef BFSSCAN_CONTAINER_MODULE_H
#define BFSSCAN_CONTAINER_MODULE_H

#include <memory>
#include <string>

#include "image.h"

constexpr const char kContainerModuleFile[] = "bfsscan-containers.so";

extern "C" {
// Opens path as a container of format (not kAuto or kRaw) into *image;
// throws ReadFailure as the openers of container_image.h do.
void bfsscan_open_container(ImageFormat format, const std::string& path,
                            std::unique_ptr<Image>* image);
// isSplitSetStart of container_image.h.
bool bfsscan_is_split_set_start(const std::string& path);
}

#endif  // BFSSCAN_CONTAINER_MODULE_H
