// The spool: an unlinked temporary file in $TMPDIR (default /tmp) that
// receives a decompressed stream, so that the scan can read it at random
// like a raw image. Blocks of zeros are not written but left as holes, so
// the space it takes is the non-zero part of the image. It has no name from
// the moment it exists, and is gone with the descriptor on any exit.
#ifndef BFSSCAN_SPOOL_H
#define BFSSCAN_SPOOL_H

#include <cstddef>
#include <cstdint>
#include <string>

class Spool {
 public:
  // Creates the file; throws SpoolFailure.
  Spool();
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // Appends n bytes; blocks of 4 KiB that are all zero become holes.
  // Memory: one block held back.
  // Throws SpoolFailure (a full $TMPDIR).
  void append(const char* data, size_t n);
  // Gives the file its whole length (a trailing hole included). Throws
  // SpoolFailure.
  void finish();

  uint64_t length() const { return length_; }
  int fd() const { return fd_; }
  // Hands the descriptor over (to the image that reads it).
  int release();
  // The directory the spool lives in, for messages.
  const std::string& directory() const { return dir_; }

 private:
  void writeAt(const char* data, size_t n, uint64_t pos);
  void writeBlocks(const char* data, size_t n, uint64_t pos);

  int fd_ = -1;
  uint64_t length_ = 0;  // appended, tail_ included
  std::string tail_;     // appended bytes after the last block boundary, not yet written
  std::string dir_;
};

// $TMPDIR, or /tmp when it is unset or empty.
std::string spoolDirectory();

#endif  // BFSSCAN_SPOOL_H
