// An image opened for scanning: a raw file or device, or a disk kept in a
// container (Expert Witness, split raw, VHD, VHDX, VMDK, QCOW), read as the
// media it holds. Opened read-only; nothing is ever written to it.
#ifndef BFSSCAN_IMAGE_H_PUBLIC
#define BFSSCAN_IMAGE_H_PUBLIC

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "bfsscan/export.h"

namespace bfsscan {

// An image that could not be opened or read; what() is the text the
// command prints after "error reading PATH: ".
class BFSSCAN_API ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class BFSSCAN_API Image {
 public:
  // Opens path as format: "auto" (told by signature or a split set's
  // names), "raw", "ewf", "split", "vhd", "vhdx", "vmdk" or "qcow", or a
  // compression or archive ("gzip", "xz", "lzma", "zstd", "bzip2", "lz4",
  // "lzip", "compress"; "tar", "zip", "7zip", "cpio", "iso9660", "ar",
  // "xar", "rar"), as the command reads it: "-" is standard input; standard
  // input, a named pipe, a compressed image or an archive of one image is
  // decoded whole into a spool in $TMPDIR (at most maxImage bytes, 0: no
  // limit; 16 TiB by default) and read as raw, or as the container it holds.
  // Throws ImageError (also for a stream that does not decode whole, and an
  // archive of several images, which scan(path, ...) reads one by one), or
  // std::invalid_argument for an unknown format.
  static std::unique_ptr<Image> open(const std::string& path, const std::string& format = "auto");
  static std::unique_ptr<Image> open(const std::string& path, const std::string& format,
                                     uint64_t maxImage);
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  const std::string& path() const;
  // The format read: "raw" or the container's name.
  std::string format() const;
  // The length of the media in bytes.
  int64_t length() const;
  // Reads up to n bytes of the media at pos; fewer only where it ends.
  // Throws ImageError.
  size_t read(uint64_t pos, char* buffer, size_t n) const;

  struct Impl;
  // For the scan: the image layer's own object.
  const Impl& impl() const { return *impl_; }

 private:
  explicit Image(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace bfsscan

#endif  // BFSSCAN_IMAGE_H_PUBLIC
