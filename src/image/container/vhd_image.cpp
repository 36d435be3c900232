// Virtual Hard Disk images, VHD (fixed or dynamic) and VHDX, read through
// libvhdi. A differencing disk holds only the changes to a parent image,
// which is not read: it is refused rather than scanned with holes. Blocks
// a dynamic disk's table does not allocate are passed over
// (vhd_allocation.cpp, vhdx_allocation.cpp); a fixed disk that claims more
// media than its file holds ends where the file does.
#include <libvhdi.h>

#include <string>

#include "container_image.h"

namespace {

std::string takeError(libvhdi_error_t*& error) {
  return takeLibraryError(error, libvhdi_error_backtrace_sprint, libvhdi_error_free);
}

class VhdImage : public ContainerImage {
 public:
  explicit VhdImage(const std::string& path) : ContainerImage("vhd") {
    libvhdi_error_t* error = nullptr;
    if (libvhdi_file_initialize(&file_, &error) != 1) {
      throw ReadFailure(ReadFailure::kSystemError, takeError(error));
    }
    try {
      if (libvhdi_file_open(file_, path.c_str(), LIBVHDI_OPEN_READ, &error) != 1) {
        throw ReadFailure(ReadFailure::kSystemError,
                          "cannot open as VHD or VHDX: " + takeError(error));
      }
      addFile(path);
      int fileType = 0;
      uint32_t diskType = 0;
      size64_t mediaSize = 0;
      if (libvhdi_file_get_file_type(file_, &fileType, &error) != 1 ||
          libvhdi_file_get_disk_type(file_, &diskType, &error) != 1 ||
          libvhdi_file_get_media_size(file_, &mediaSize, &error) != 1) {
        throw ReadFailure(ReadFailure::kSystemError, takeError(error));
      }
      if (fileType == LIBVHDI_FILE_TYPE_VHDX) setFormat("vhdx");
      if (diskType == LIBVHDI_DISK_TYPE_DIFFERENTIAL) {
        throw ReadFailure(ReadFailure::kSystemError,
                          "a differencing disk is not supported (its parent image is not read)");
      }
      setLength(mediaSize);
      uint64_t fileSize = 0;
      const FileReader file = containerFileReader(path, &fileSize);
      if (fileType == LIBVHDI_FILE_TYPE_VHDX) {
        setAllocation(vhdxAllocation(file));
      } else if (diskType == LIBVHDI_DISK_TYPE_DYNAMIC) {
        setAllocation(vhdAllocation(file, fileSize));
      } else if (diskType == LIBVHDI_DISK_TYPE_FIXED) {
        // The media, then the footer of 512 bytes.
        const uint64_t stored = fileSize < 512 ? 0 : fileSize - 512;
        if (mediaSize > stored) {
          setStoredEnd(stored, "the disk claims " + std::to_string(mediaSize) +
                                   " bytes, but the container ends at byte " +
                                   std::to_string(stored));
        }
      }
    } catch (...) {
      close();
      throw;
    }
  }

  ~VhdImage() override { close(); }

 private:
  void close() {
    libvhdi_file_close(file_, nullptr);
    libvhdi_file_free(&file_, nullptr);
  }

  size_t readMedia(uint64_t pos, char* buf, size_t n) const override {
    libvhdi_error_t* error = nullptr;
    const ssize_t got =
        libvhdi_file_read_buffer_at_offset(file_, buf, n, static_cast<off64_t>(pos), &error);
    if (got < 0) throw ReadFailure(ReadFailure::kSystemError, takeError(error));
    return static_cast<size_t>(got);
  }

  libvhdi_file_t* file_ = nullptr;
};

}  // namespace

std::unique_ptr<Image> openVhdImage(const std::string& path) {
  return std::make_unique<VhdImage>(path);
}
