// Disk images kept in a container (Expert Witness sets, split raw sets,
// VHD, VHDX, VMDK and QCOW disks), each family read through its own library
// in its own unit. Here is what they share: the bounds of the media, the
// files the image is stored in, and the text of a library's error; and the
// function that opens each family.
#ifndef BFSSCAN_CONTAINER_IMAGE_H
#define BFSSCAN_CONTAINER_IMAGE_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "allocation_map.h"
#include "image.h"

class ContainerImage : public Image {
 public:
  const char* formatName() const override { return format_; }
  int64_t length() const override { return length_; }
  bool isSameFile(dev_t dev, ino_t ino) const override;
  // Reads through readMedia, in one call of the library per read asked for.
  size_t readUpTo(uint64_t pos, char* buf, size_t n) const override;
  // From the container's allocation table where one was set; else every
  // byte may hold data.
  uint64_t nextData(uint64_t pos) const override;
  uint64_t nextHole(uint64_t pos) const override;

 protected:
  explicit ContainerImage(const char* format) : format_(format) {}
  void setFormat(const char* format) { format_ = format; }
  // Takes the media size the library gives; throws when it is beyond any
  // offset the scan can form.
  void setLength(uint64_t mediaSize);
  // Records a file the image is stored in, for isSameFile; throws
  // ReadFailure when it cannot be looked up.
  void addFile(const std::string& path);
  // The container file holds the media only up to end: a read that reaches
  // past it fails with ReadFailure(kMediaEnds) and this text.
  void setStoredEnd(uint64_t end, const std::string& why);
  // Skips what table marks unallocated (none: every byte may hold data).
  void setAllocation(std::unique_ptr<AllocationTable> table);
  // Reads n > 0 bytes at pos, all inside the media; returns the number read
  // (0 when the library has nothing there) or throws ReadFailure.
  virtual size_t readMedia(uint64_t pos, char* buf, size_t n) const = 0;

 private:
  const char* format_;
  int64_t length_ = 0;
  std::vector<std::pair<dev_t, ino_t>> files_;
  uint64_t storedEnd_ = UINT64_MAX;
  std::string storedEndWhy_;
  // Walking the table keeps its last pieces: not part of the image's state.
  mutable std::unique_ptr<AllocationMap> allocation_;
};

// Reads the container file at path, for its allocation table, through a
// descriptor of its own; fileSize is set to its length. Throws ReadFailure
// when it cannot be opened.
FileReader containerFileReader(const std::string& path, uint64_t* fileSize);

// The text of a library error for "error reading IMAGE: TEXT", from its
// backtrace (one message a line, the innermost first): the system's reason
// where a message gives one, else the innermost message, which says most,
// without the name of the function that wrote it or its full stop.
std::string libraryErrorText(const std::string& backtrace);

// The text of a libyal error object, which is freed. Every library of the
// family has the same pair of functions for this.
template <typename Error, typename Backtrace, typename Free>
std::string takeLibraryError(Error*& error, Backtrace backtrace, Free free) {
  if (error == nullptr) return "unknown error of the container library";
  char text[4096] = "";
  backtrace(error, text, sizeof text);
  free(&error);
  const std::string described = libraryErrorText(text);
  return described.empty() ? "unknown error of the container library" : described;
}

// Refuses, before a library opens it, a file of the image that is missing
// or is not a regular file or block device (a pipe or terminal could make
// the library wait for ever): throws ReadFailure(kSystemError) naming it
// as what ("segment file").
void checkImageFile(const std::string& what, const std::string& path);

// The directory part of path, ending in a slash; empty for a bare name.
std::string directoryOf(const std::string& path);

// Whether path names the first file of a split raw set (NAME.000, NAME.001
// or NAME.aa) and a later file of the set lies beside it.
bool isSplitSetStart(const std::string& path);

// Openers of each family; each throws ReadFailure(kSystemError) with the
// library's text or its own when the image cannot be read.
std::unique_ptr<Image> openEwfImage(const std::string& path);
std::unique_ptr<Image> openSplitImage(const std::string& path);
std::unique_ptr<Image> openVhdImage(const std::string& path);  // VHD and VHDX
std::unique_ptr<Image> openVmdkImage(const std::string& path);
std::unique_ptr<Image> openQcowImage(const std::string& path);

#endif  // BFSSCAN_CONTAINER_IMAGE_H
