// Read-only access to the image being scanned: positioned reads of its
// media that either deliver every byte asked for or fail in one of four
// ways: the end of the image, an error of the system or of a container
// library, an image that became shorter, or a container that holds less
// of its media than it claims.
#ifndef BFSSCAN_IMAGE_H
#define BFSSCAN_IMAGE_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "media_record.h"

// A read of the image that could not be completed.
class ReadFailure : public std::runtime_error {
 public:
  enum Kind {
    kEndOfImage,   // the read reaches past the measured length
    kSystemError,  // the system (or a container library) refused the read
    kShrunk,       // the image ended before its measured length
    kMediaEnds,    // the container holds no more of its media from here on:
                   // every read past this point fails alike
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

// The disk being scanned: its media bytes, whether they lie in a plain file
// or device (RawImage) or in a container such as an Expert Witness set or a
// virtual-machine disk, read through that format's library.
class Image {
 public:
  virtual ~Image() = default;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // "raw", or the container format whose media is read.
  virtual const char* formatName() const = 0;
  // Length of the media in bytes, measured once when the image is opened.
  virtual int64_t length() const = 0;
  // Whether a file with this device and inode number is the image itself or
  // one of the files it is stored in.
  virtual bool isSameFile(dev_t dev, ino_t ino) const = 0;
  // The descriptor of a raw image, whose media offsets are file offsets (for
  // a copy in the kernel); -1 for a container, which is read in pieces.
  virtual int rawFd() const { return -1; }

  // The first offset at or after pos that may hold data: the end of a hole
  // of a sparse file, pos where that cannot be told; at most the length.
  // Throws ReadFailure(kShrunk) when the file ended early.
  virtual uint64_t nextData(uint64_t pos) const;
  // The first offset at or after pos where a hole begins (only zeros
  // follow for a while); the length where there is none or it cannot be told.
  virtual uint64_t nextHole(uint64_t pos) const;
  // Reads up to n bytes at pos; fewer only where the image ends.
  virtual size_t readUpTo(uint64_t pos, char* buf, size_t n) const = 0;
  // For an image whose media lies in memory: the bytes at pos, read in
  // place, with n cut to those the image holds (0 past its end), as
  // readUpTo would have copied them. Null, with n untouched, for an image
  // that must be read into a buffer (the default).
  virtual const char* inPlace(uint64_t /*pos*/, size_t& /*n*/) const { return nullptr; }
  // Once the scan has read the whole media: throws ReadFailure when a
  // digest the container stores of the media differs from the bytes read.
  // Does nothing where there is no such digest, or the media was not read
  // whole and in order.
  virtual void verifyMedia() const {}
  // Reads exactly n bytes at pos or throws.
  void readExact(uint64_t pos, char* buf, size_t n) const;
  // Reads len bytes from pos in order, in pieces of at most chunk bytes
  // (sizing one buffer of that size; none for an image in memory, whose
  // bytes are handed over in place), and hands each piece to fn.
  void forEachChunk(uint64_t pos, uint64_t len, size_t chunk,
                    const std::function<void(const char*, size_t)>& fn) const;
  // What the container records of its media (nothing, by default).
  virtual MediaRecord mediaRecord() const { return {}; }
  // The outcome of verifyMedia's comparison, once it was called.
  virtual MediaVerdict mediaVerdict() const { return MediaVerdict::kNotChecked; }

 protected:
  Image() = default;
};

// A plain file or device, read with pread.
class RawImage : public Image {
 public:
  // Opens path for reading; throws ReadFailure(kSystemError) when it cannot
  // be opened, is a directory, cannot seek (a named pipe), or is a
  // character device that gives data ("not a regular file or disk").
  explicit RawImage(const std::string& path);
  // Takes over fd, a descriptor open for reading (a spool).
  explicit RawImage(int fd);
  ~RawImage() override;

  const char* formatName() const override { return "raw"; }
  // Measured by seeking to the end.
  int64_t length() const override { return length_; }
  bool isSameFile(dev_t dev, ino_t ino) const override { return dev == dev_ && ino == ino_; }
  int rawFd() const override { return fd_; }
  uint64_t nextData(uint64_t pos) const override;
  uint64_t nextHole(uint64_t pos) const override;
  size_t readUpTo(uint64_t pos, char* buf, size_t n) const override;

 private:
  // Measures the open fd_; closes it and throws when it is no image.
  void measure();

  int fd_ = -1;
  int64_t length_ = 0;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// How the bytes of an image file are stored; kAuto guesses by signature.
enum class ImageFormat { kAuto, kRaw, kEwf, kSplit, kVhd, kVhdx, kVmdk, kQcow };

// The format named on the command line (--format=NAME); false if unknown.
bool parseImageFormat(const std::string& name, ImageFormat* format);

// Opens the image at path, read as format. kAuto takes a container by its
// signature, a split raw set by the name of its first segment (NAME.001 or
// NAME.aa, when NAME.002 or NAME.ab exists), and anything else as raw.
// Throws ReadFailure.
std::unique_ptr<Image> openImage(const std::string& path, ImageFormat format);

// Whether file (opened raw) at path carries a container's signature, or
// starts a split set: what openImage(path, kAuto) opens as a container.
bool holdsContainer(const Image& file, const std::string& path);

// Image offset of the file-system offset off in the file system at base:
// the base plus the unsigned 32-bit offset, summed in 64 bits.
inline uint64_t imageOffset(int64_t base, uint32_t off) {
  return static_cast<uint64_t>(base) + off;
}

#endif  // BFSSCAN_IMAGE_H
