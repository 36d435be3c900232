// Which format an image is stored in (named on the command line, or told by
// the container's signature or a split set's file names), and opening it as
// that format. The container formats live in a module loaded only when an
// image is not raw: a raw image never maps their libraries.
#include <cstring>
#include <memory>
#include <string>

#include "container_module.h"
#include "image.h"
#include "lazy_library.h"

#ifndef BFSSCAN_MODULE_DIR
#define BFSSCAN_MODULE_DIR ""  // beside the program only
#endif

namespace {

const struct {
  const char* name;
  ImageFormat format;
} kFormatNames[] = {
    {"auto", ImageFormat::kAuto},   {"raw", ImageFormat::kRaw},   {"ewf", ImageFormat::kEwf},
    {"split", ImageFormat::kSplit}, {"vhd", ImageFormat::kVhd},   {"vhdx", ImageFormat::kVhdx},
    {"vmdk", ImageFormat::kVmdk},   {"qcow", ImageFormat::kQcow},
};

// Whether the image holds these bytes at pos. A read that fails counts as
// a mismatch: the scan meets the failure again where it belongs.
bool holds(const Image& image, uint64_t pos, const char* bytes, size_t n) {
  char found[32];
  try {
    return image.readUpTo(pos, found, n) == n && std::memcmp(found, bytes, n) == 0;
  } catch (const ReadFailure&) {
    return false;
  }
}

// The container format whose signature the file carries; kRaw for none.
ImageFormat formatBySignature(const Image& file) {
  static const struct {
    const char* bytes;
    size_t size;
    ImageFormat format;
  } kSignatures[] = {
      {"EVF\x09\x0d\x0a\xff\x00", 8, ImageFormat::kEwf},
      {"vhdxfile", 8, ImageFormat::kVhdx},
      {"conectix", 8, ImageFormat::kVhd},  // the copy of the footer of a dynamic disk
      {"KDMV", 4, ImageFormat::kVmdk},     // a sparse extent
      {"COWD", 4, ImageFormat::kVmdk},     // an ESX sparse extent
      {"# Disk DescriptorFile", 21, ImageFormat::kVmdk},
      {"QFI\xfb", 4, ImageFormat::kQcow},
  };
  for (const auto& s : kSignatures) {
    if (holds(file, 0, s.bytes, s.size)) return s.format;
  }
  // Every VHD ends in a footer of 512 bytes.
  if (file.length() >= 512 && holds(file, file.length() - 512, "conectix", 8)) {
    return ImageFormat::kVhd;
  }
  return ImageFormat::kRaw;
}

// The container module: beside the object holding this code (a build tree),
// or where it is installed relative to it.
LazyLibrary containerModule() {
  return LazyLibrary::beside(reinterpret_cast<const void*>(&holds), kContainerModuleFile,
                             {"", BFSSCAN_MODULE_DIR});
}

[[noreturn]] void moduleFailure(const LazyLibrary& module) {
  throw ReadFailure(ReadFailure::kSystemError,
                    "cannot load the container formats: " + module.error());
}

// Whether path names the first file of a split raw set; the module is
// asked only for a name that ends as a first segment file does.
bool isSplitSetStart(const std::string& path) {
  bool suffix = false;
  for (const char* first : {".000", ".001", ".aa"}) {
    const size_t n = std::strlen(first);
    suffix = suffix || (path.size() > n && path.compare(path.size() - n, n, first) == 0);
  }
  if (!suffix) return false;
  LazyLibrary module = containerModule();
  auto check = module.symbol<decltype(&bfsscan_is_split_set_start)>("bfsscan_is_split_set_start");
  if (check == nullptr) moduleFailure(module);
  return check(path);
}

}  // namespace

bool parseImageFormat(const std::string& name, ImageFormat* format) {
  for (const auto& n : kFormatNames) {
    if (name == n.name) {
      *format = n.format;
      return true;
    }
  }
  return false;
}

std::unique_ptr<Image> openImage(const std::string& path, ImageFormat format) {
  // The file itself is opened first in every case: what cannot be read as a
  // file (a directory, a pipe, a missing file) fails alike in every format.
  std::unique_ptr<Image> raw = std::make_unique<RawImage>(path);
  if (format == ImageFormat::kAuto) {
    format = formatBySignature(*raw);
    if (format == ImageFormat::kRaw && isSplitSetStart(path)) format = ImageFormat::kSplit;
  }
  if (format == ImageFormat::kAuto || format == ImageFormat::kRaw) return raw;
  raw.reset();
  LazyLibrary module = containerModule();
  auto open = module.symbol<decltype(&bfsscan_open_container)>("bfsscan_open_container");
  if (open == nullptr) moduleFailure(module);
  std::unique_ptr<Image> image;
  open(format, path, &image);
  return image;
}
