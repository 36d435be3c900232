// Read-only access to the image being scanned: positioned reads that either
// deliver every byte asked for or fail in one of two ways, the end of the
// image or an error of the system.
#ifndef BFSSCAN_IMAGE_H
#define BFSSCAN_IMAGE_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

// A read of the image that could not be completed.
class ReadFailure : public std::runtime_error {
 public:
  enum Kind {
    kEndOfImage,   // the read reaches past the measured length
    kSystemError,  // the system (or a container library) refused the read
    kShrunk,       // the image ended before its measured length
  };
  explicit ReadFailure(Kind kind, int error = 0);
  // A failure described by a library's own text rather than an errno.
  ReadFailure(Kind kind, const std::string& description);
  Kind kind() const { return kind_; }
  int error() const { return error_; }  // errno, for kSystemError
  // What went wrong, for "error reading IMAGE: DESCRIPTION".
  std::string description() const;
  // What was being read ("inode slot 7"); the scanner adds it on the way out.
  const std::string& item() const { return item_; }
  void setItem(const std::string& item) {
    if (item_.empty()) item_ = item;
  }

 private:
  Kind kind_;
  int error_;
  std::string description_;
  std::string item_;
};

class Image {
 public:
  // Opens path for reading; throws ReadFailure(kSystemError) when it cannot
  // be opened or is a directory.
  explicit Image(const std::string& path);
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // "raw", or the container format whose media is read.
  const char* formatName() const { return "raw"; }
  // Length in bytes, measured once by seeking to the end.
  int64_t length() const { return length_; }
  int fd() const { return fd_; }
  // Whether a file with this device and inode number is the image itself.
  bool isSameFile(dev_t dev, ino_t ino) const { return dev == dev_ && ino == ino_; }

  // The first offset at or after pos that may hold data: the end of a hole
  // of a sparse file, pos where that cannot be told; at most the length.
  uint64_t nextData(uint64_t pos) const;
  // The first offset at or after pos where a hole begins (only zeros
  // follow for a while); the length where there is none or it cannot be told.
  uint64_t nextHole(uint64_t pos) const;
  // Reads up to n bytes at pos; fewer only where the image ends.
  size_t readUpTo(uint64_t pos, char* buf, size_t n) const;
  // Reads exactly n bytes at pos or throws.
  void readExact(uint64_t pos, char* buf, size_t n) const;
  // Reads len bytes from pos in order, in pieces of at most chunk bytes
  // (sizing one buffer of that size), and hands each piece to fn.
  void forEachChunk(uint64_t pos, uint64_t len, size_t chunk,
                    const std::function<void(const char*, size_t)>& fn) const;

 private:
  int fd_ = -1;
  int64_t length_ = 0;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// How the bytes of an image file are stored; kAuto guesses by signature.
enum class ImageFormat { kAuto, kRaw, kEwf, kSplit, kVhd, kVhdx, kVmdk, kQcow };

// The format named on the command line (--format=NAME); false if unknown.
bool parseImageFormat(const std::string& name, ImageFormat* format);

// Opens the image at path, read as format. Throws ReadFailure.
std::unique_ptr<Image> openImage(const std::string& path, ImageFormat format);

// Image offset of the file-system offset off in the file system at base:
// the base plus the unsigned 32-bit offset, summed in 64 bits.
inline uint64_t imageOffset(int64_t base, uint32_t off) {
  return static_cast<uint64_t>(base) + off;
}

#endif  // BFSSCAN_IMAGE_H
