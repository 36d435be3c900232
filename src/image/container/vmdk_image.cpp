// VMware disks read through libvmdk: a descriptor (a text file, or the one
// inside a sparse extent) and the extent files it names, flat or sparse. A
// disk that holds only the changes to a parent is refused, as the parent
// is not read. Grains the tables of a sparse extent do not allocate, and
// zero extents, are passed over (vmdk_allocation.cpp). A large disk is
// decoded on two cores (decode_ahead.h).
#include <libvmdk.h>

#include <string>
#include <vector>

#include "libyal_image.h"

namespace {

// Longest extent file name taken from a descriptor.
constexpr size_t kMaxName = 4096;

// The name of an extent file, refused when it holds a folder: the library
// opens such a name at a place that depends on how the descriptor's own
// path is spelled, not where the name points, so the file it would read
// cannot be told (nor checked) beforehand.
std::string extentName(const std::string& name) {
  if (name.find_first_of("/\\") != std::string::npos) {
    throw ReadFailure(ReadFailure::kSystemError, "extent file name " + name + " holds a folder");
  }
  return name;
}

struct Vmdk {
  using Handle = libvmdk_handle_t;
  using Error = libvmdk_error_t;
  static constexpr int kOpenRead = LIBVMDK_OPEN_READ;
  static constexpr auto initialize = libvmdk_handle_initialize;
  static constexpr auto open = libvmdk_handle_open;
  static constexpr auto close = libvmdk_handle_close;
  static constexpr auto free = libvmdk_handle_free;
  static constexpr auto readAt = libvmdk_handle_read_buffer_at_offset;
  static constexpr auto backtrace = libvmdk_error_backtrace_sprint;
  static constexpr auto freeError = libvmdk_error_free;
};

class VmdkImage : public LibyalImage<Vmdk> {
 public:
  explicit VmdkImage(const std::string& path) : LibyalImage("vmdk", path, "VMDK") {
    libvmdk_error_t* error = nullptr;
    std::vector<VmdkExtent> layout;
    const std::vector<std::string> extents = extentFiles(directoryOf(path), layout);
    for (const std::string& extent : extents) checkImageFile("extent file", extent);
    if (libvmdk_handle_open_extent_data_files(handle_, &error) != 1) {
      throw ReadFailure(ReadFailure::kSystemError, "cannot open as VMDK: " + takeError(error));
    }
    addFile(path);
    for (const std::string& extent : extents) addFile(extent);
    size_t parentName = 0;
    const int hasParent =
        libvmdk_handle_get_utf8_parent_filename_size(handle_, &parentName, &error);
    if (hasParent < 0) fail(error);
    if (hasParent == 1 && parentName > 1) {
      throw ReadFailure(ReadFailure::kSystemError,
                        "a differencing disk is not supported (its parent image is not read)");
    }
    size64_t mediaSize = 0;
    if (libvmdk_handle_get_media_size(handle_, &mediaSize, &error) != 1) {
      fail(error);
    }
    setLength(mediaSize);
    setAllocation(vmdkAllocation(std::move(layout)));
    startDecodeAhead(path, [](libvmdk_handle_t* second) {
      libvmdk_error_t* ignored = nullptr;
      if (libvmdk_handle_open_extent_data_files(second, &ignored) == 1) return true;
      libvmdk_error_free(&ignored);
      return false;
    });
  }

 private:
  // The files of the extents the descriptor names, in its directory dir.
  // With each extent's place in layout, and the table of a sparse one.
  std::vector<std::string> extentFiles(const std::string& dir,
                                       std::vector<VmdkExtent>& layout) const {
    std::vector<std::string> files;
    libvmdk_error_t* error = nullptr;
    int extents = 0;
    if (libvmdk_handle_get_number_of_extents(handle_, &extents, &error) != 1) {
      throw ReadFailure(ReadFailure::kSystemError, takeError(error));
    }
    for (int i = 0; i < extents; ++i) {
      libvmdk_extent_descriptor_t* extent = nullptr;
      if (libvmdk_handle_get_extent_descriptor(handle_, i, &extent, &error) != 1) {
        throw ReadFailure(ReadFailure::kSystemError, takeError(error));
      }
      int type = 0;
      size_t size = 0;
      off64_t offset = 0;
      size64_t bytes = 0;
      std::string name;
      if (libvmdk_extent_descriptor_get_range(extent, &offset, &bytes, &error) != 1) bytes = 0;
      if (libvmdk_extent_descriptor_get_type(extent, &type, &error) == 1 &&
          type != LIBVMDK_EXTENT_TYPE_ZERO &&
          libvmdk_extent_descriptor_get_utf8_filename_size(extent, &size, &error) == 1 &&
          size > 1 && size <= kMaxName) {
        name.resize(size);
        if (libvmdk_extent_descriptor_get_utf8_filename(
                extent, reinterpret_cast<uint8_t*>(&name[0]), size, &error) == 1) {
          name.resize(size - 1);
        } else {
          name.clear();
        }
      }
      libvmdk_error_free(&error);
      libvmdk_extent_descriptor_free(&extent, nullptr);
      if (!name.empty()) files.push_back(dir + extentName(name));
      VmdkExtent placed{type == LIBVMDK_EXTENT_TYPE_ZERO ? VmdkExtent::kZero : VmdkExtent::kData,
                        bytes, nullptr};
      if (type == LIBVMDK_EXTENT_TYPE_SPARSE && !name.empty()) {
        checkImageFile("extent file", files.back());
        uint64_t fileSize = 0;
        const FileReader file = containerFileReader(files.back(), &fileSize);
        placed.table = vmdkSparseAllocation(file, fileSize);
        if (placed.table) placed.kind = VmdkExtent::kSparse;
      }
      layout.push_back(std::move(placed));
    }
    return files;
  }

};

}  // namespace

std::unique_ptr<Image> openVmdkImage(const std::string& path) {
  return std::make_unique<VmdkImage>(path);
}
