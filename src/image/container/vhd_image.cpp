// Virtual Hard Disk images, VHD (fixed or dynamic) and VHDX, read through
// libvhdi. A differencing disk holds only the changes to a parent image,
// which is not read: it is refused rather than scanned with holes. Blocks
// a dynamic disk's table does not allocate are passed over
// (vhd_allocation.cpp, vhdx_allocation.cpp); a fixed disk that claims more
// media than its file holds ends where the file does.
#include <libvhdi.h>

#include <string>

#include "libyal_image.h"

namespace {

struct Vhdi {
  using Handle = libvhdi_file_t;
  using Error = libvhdi_error_t;
  static constexpr int kOpenRead = LIBVHDI_OPEN_READ;
  static constexpr auto initialize = libvhdi_file_initialize;
  static constexpr auto open = libvhdi_file_open;
  static constexpr auto close = libvhdi_file_close;
  static constexpr auto free = libvhdi_file_free;
  static constexpr auto readAt = libvhdi_file_read_buffer_at_offset;
  static constexpr auto backtrace = libvhdi_error_backtrace_sprint;
  static constexpr auto freeError = libvhdi_error_free;
};

class VhdImage : public LibyalImage<Vhdi> {
 public:
  explicit VhdImage(const std::string& path) : LibyalImage("vhd", path, "VHD or VHDX") {
    libvhdi_error_t* error = nullptr;
    addFile(path);
    int fileType = 0;
    uint32_t diskType = 0;
    size64_t mediaSize = 0;
    if (libvhdi_file_get_file_type(handle_, &fileType, &error) != 1 ||
        libvhdi_file_get_disk_type(handle_, &diskType, &error) != 1 ||
        libvhdi_file_get_media_size(handle_, &mediaSize, &error) != 1) {
      fail(error);
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
  }
};

}  // namespace

std::unique_ptr<Image> openVhdImage(const std::string& path) {
  return std::make_unique<VhdImage>(path);
}
