// The table of image formats: for each, the name --format gives it, how
// its signature is told (or its set of files, for a split raw set), and how
// it is opened. Guessing walks the table in order; the first format that
// recognises the file wins, and a file no format recognises is raw.
#include <cstring>
#include <memory>
#include <string>

#include "container_image.h"
#include "image.h"

namespace {

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

bool startsWith(const Image& file, const char* bytes, size_t n) { return holds(file, 0, bytes, n); }

bool isEwf(const Image& file, const std::string&) {
  return startsWith(file, "EVF\x09\x0d\x0a\xff\x00", 8);
}
bool isVhdx(const Image& file, const std::string&) { return startsWith(file, "vhdxfile", 8); }
// A dynamic disk starts with a copy of its footer; every VHD ends in one.
bool isVhd(const Image& file, const std::string&) { return startsWith(file, "conectix", 8); }
bool endsAsVhd(const Image& file, const std::string&) {
  return file.length() >= 512 && holds(file, file.length() - 512, "conectix", 8);
}
bool isVmdk(const Image& file, const std::string&) {
  return startsWith(file, "KDMV", 4) ||  // a sparse extent
         startsWith(file, "COWD", 4) ||  // an ESX sparse extent
         startsWith(file, "# Disk DescriptorFile", 21);
}
bool isQcow(const Image& file, const std::string&) { return startsWith(file, "QFI\xfb", 4); }
bool isSplit(const Image&, const std::string& path) { return isSplitSetStart(path); }

struct Format {
  const char* name;
  ImageFormat format;
  // Whether the file (opened raw) at path is of this format; null: only
  // when named.
  bool (*recognises)(const Image& file, const std::string& path);
  // Opens path as this format; null: the raw file itself.
  std::unique_ptr<Image> (*open)(const std::string& path);
};

// In the order of guessing: signatures at the start first, then the footer
// of a fixed VHD, a split set's names last (a file of a set carries no
// signature of its own). A name given twice is parsed as its first entry.
const Format kFormats[] = {
    {"ewf", ImageFormat::kEwf, isEwf, openEwfImage},
    {"vhdx", ImageFormat::kVhdx, isVhdx, openVhdImage},
    {"vhd", ImageFormat::kVhd, isVhd, openVhdImage},
    {"vmdk", ImageFormat::kVmdk, isVmdk, openVmdkImage},
    {"qcow", ImageFormat::kQcow, isQcow, openQcowImage},
    {"vhd", ImageFormat::kVhd, endsAsVhd, openVhdImage},  // a fixed disk: only its footer
    {"split", ImageFormat::kSplit, isSplit, openSplitImage},
    {"raw", ImageFormat::kRaw, nullptr, nullptr},
};

const Format* byFormat(ImageFormat format) {
  for (const Format& f : kFormats) {
    if (f.format == format) return &f;
  }
  return nullptr;
}

}  // namespace

bool parseImageFormat(const std::string& name, ImageFormat* format) {
  if (name == "auto") {
    *format = ImageFormat::kAuto;
    return true;
  }
  for (const Format& f : kFormats) {
    if (name == f.name) {
      *format = f.format;
      return true;
    }
  }
  return false;
}

bool holdsContainer(const Image& file, const std::string& path) {
  for (const Format& f : kFormats) {
    if (f.open != nullptr && f.recognises != nullptr && f.recognises(file, path)) return true;
  }
  return false;
}

std::unique_ptr<Image> openImage(const std::string& path, ImageFormat format) {
  // The file itself is opened first in every case: what cannot be read as a
  // file (a directory, a pipe, a missing file) fails alike in every format.
  std::unique_ptr<Image> raw = std::make_unique<RawImage>(path);
  const Format* chosen = byFormat(format);
  if (format == ImageFormat::kAuto) {
    for (const Format& f : kFormats) {
      if (f.recognises != nullptr && f.recognises(*raw, path)) {
        chosen = &f;
        break;
      }
    }
  }
  if (chosen == nullptr || chosen->open == nullptr) return raw;
  raw.reset();
  return chosen->open(path);
}
