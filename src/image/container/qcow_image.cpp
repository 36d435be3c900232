// QEMU copy-on-write disks (QCOW version 1, 2 and 3) read through libqcow.
// A disk with a backing file holds only the changes to it, and an
// encrypted one needs a key: both are refused rather than read with holes.
// Clusters its tables do not allocate are passed over (qcow_allocation.cpp).
#include <libqcow.h>

#include <string>

#include "container_image.h"

namespace {

std::string takeError(libqcow_error_t*& error) {
  return takeLibraryError(error, libqcow_error_backtrace_sprint, libqcow_error_free);
}

class QcowImage : public ContainerImage {
 public:
  explicit QcowImage(const std::string& path) : ContainerImage("qcow") {
    libqcow_error_t* error = nullptr;
    if (libqcow_file_initialize(&file_, &error) != 1) {
      throw ReadFailure(ReadFailure::kSystemError, takeError(error));
    }
    try {
      if (libqcow_file_open(file_, path.c_str(), LIBQCOW_OPEN_READ, &error) != 1) {
        throw ReadFailure(ReadFailure::kSystemError, "cannot open as QCOW: " + takeError(error));
      }
      addFile(path);
      size_t backingName = 0;
      const int hasBacking =
          libqcow_file_get_utf8_backing_filename_size(file_, &backingName, &error);
      if (hasBacking < 0) throw ReadFailure(ReadFailure::kSystemError, takeError(error));
      if (hasBacking == 1 && backingName > 1) {
        throw ReadFailure(
            ReadFailure::kSystemError,
            "a disk with a backing file is not supported (the backing file is not read)");
      }
      uint32_t encryption = 0;
      size64_t mediaSize = 0;
      if (libqcow_file_get_encryption_method(file_, &encryption, &error) != 1 ||
          libqcow_file_get_media_size(file_, &mediaSize, &error) != 1) {
        throw ReadFailure(ReadFailure::kSystemError, takeError(error));
      }
      if (encryption != LIBQCOW_ENCRYPTION_METHOD_NONE) {
        throw ReadFailure(ReadFailure::kSystemError, "an encrypted disk is not supported");
      }
      setLength(mediaSize);
      uint64_t fileSize = 0;
      setAllocation(qcowAllocation(containerFileReader(path, &fileSize)));
    } catch (...) {
      close();
      throw;
    }
  }

  ~QcowImage() override { close(); }

 private:
  void close() {
    libqcow_file_close(file_, nullptr);
    libqcow_file_free(&file_, nullptr);
  }

  size_t readMedia(uint64_t pos, char* buf, size_t n) const override {
    libqcow_error_t* error = nullptr;
    const ssize_t got =
        libqcow_file_read_buffer_at_offset(file_, buf, n, static_cast<off64_t>(pos), &error);
    if (got < 0) throw ReadFailure(ReadFailure::kSystemError, takeError(error));
    return static_cast<size_t>(got);
  }

  libqcow_file_t* file_ = nullptr;
};

}  // namespace

std::unique_ptr<Image> openQcowImage(const std::string& path) {
  return std::make_unique<QcowImage>(path);
}
