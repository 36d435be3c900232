// QEMU copy-on-write disks (QCOW version 1, 2 and 3) read through libqcow.
// A disk with a backing file holds only the changes to it, and an
// encrypted one needs a key: both are refused rather than read with holes.
// Clusters its tables do not allocate are passed over (qcow_allocation.cpp).
// A large disk is decoded on two cores (decode_ahead.h).
#include <libqcow.h>

#include <string>

#include "libyal_image.h"

namespace {

struct Qcow {
  using Handle = libqcow_file_t;
  using Error = libqcow_error_t;
  static constexpr int kOpenRead = LIBQCOW_OPEN_READ;
  static constexpr auto initialize = libqcow_file_initialize;
  static constexpr auto open = libqcow_file_open;
  static constexpr auto close = libqcow_file_close;
  static constexpr auto free = libqcow_file_free;
  static constexpr auto readAt = libqcow_file_read_buffer_at_offset;
  static constexpr auto backtrace = libqcow_error_backtrace_sprint;
  static constexpr auto freeError = libqcow_error_free;
};

class QcowImage : public LibyalImage<Qcow> {
 public:
  explicit QcowImage(const std::string& path) : LibyalImage("qcow", path, "QCOW") {
    libqcow_error_t* error = nullptr;
    addFile(path);
    size_t backingName = 0;
    const int hasBacking =
        libqcow_file_get_utf8_backing_filename_size(handle_, &backingName, &error);
    if (hasBacking < 0) fail(error);
    if (hasBacking == 1 && backingName > 1) {
      throw ReadFailure(
          ReadFailure::kSystemError,
          "a disk with a backing file is not supported (the backing file is not read)");
    }
    uint32_t encryption = 0;
    size64_t mediaSize = 0;
    if (libqcow_file_get_encryption_method(handle_, &encryption, &error) != 1 ||
        libqcow_file_get_media_size(handle_, &mediaSize, &error) != 1) {
      fail(error);
    }
    if (encryption != LIBQCOW_ENCRYPTION_METHOD_NONE) {
      throw ReadFailure(ReadFailure::kSystemError, "an encrypted disk is not supported");
    }
    setLength(mediaSize);
    uint64_t fileSize = 0;
    setAllocation(qcowAllocation(containerFileReader(path, &fileSize)));
    startDecodeAhead(path, [](libqcow_file_t*) { return true; });
  }
};

}  // namespace

std::unique_ptr<Image> openQcowImage(const std::string& path) {
  return std::make_unique<QcowImage>(path);
}
