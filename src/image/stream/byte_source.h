// Sources of bytes read in order, once: a file descriptor (a pipe, a FIFO,
// a plain file), the bytes inflated from a gzip stream, and the bytes of
// any other compressed stream libarchive decodes. Each may hand back bytes
// already read for the sniffing of signatures before its own.
#ifndef BFSSCAN_BYTE_SOURCE_H
#define BFSSCAN_BYTE_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bfsscan/stop_token.h"

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to n bytes; 0 at the end of the stream. Throws StreamDamage.
  virtual size_t read(char* buf, size_t n) = 0;
};

// The first bytes of a source, read ahead to look at its signature, then
// handed out again before the rest.
class PeekedSource : public ByteSource {
 public:
  // Reads up to headSize bytes of in ahead. Damage met there is thrown
  // by the read that reaches it.
  PeekedSource(ByteSource& in, size_t headSize);
  const std::string& head() const { return head_; }
  size_t read(char* buf, size_t n) override;

 private:
  ByteSource& in_;
  std::string head_;
  size_t given_ = 0;
  std::string damage_;
};

// A file descriptor read with read(); counts the bytes read. A read that a
// signal cuts short is tried again. With a stop token (stop, may be null),
// a stop asked for throws StreamDamage, also while waiting for the input to
// send something (looked at every 200 ms): a pipe that sends nothing cannot
// hold the run.
class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd, const bfsscan::StopToken* stop = nullptr) : fd_(fd), stop_(stop) {}
  size_t read(char* buf, size_t n) override;
  uint64_t consumed() const { return consumed_; }

 private:
  void waitForData();

  int fd_;
  const bfsscan::StopToken* stop_;
  uint64_t consumed_ = 0;
};

// The bytes of one gzip stream (or of several concatenated), inflated with
// zlib, whose trailer (CRC-32 and length) is checked for each member.
// Memory: the 32 KiB window and 64 KiB of input.
std::unique_ptr<ByteSource> makeGzipSource(ByteSource& in);

// The bytes of a stream compressed in a format libarchive decodes (xz,
// bzip2, lz4, lzip, lzma, compress), read as one file, never as an
// archive. Memory: the decoder's own (xz up to its dictionary, 64 MiB at
// -9; bzip2 about 3.5 MiB; lz4 a few MiB).
// name: the one compression to read (as kindOfFormatName knows them);
// empty for any libarchive recognises.
std::unique_ptr<ByteSource> makeFilterSource(ByteSource& in, const std::string& name = "");

// The decoder of a compressed stream that starts with head: gzip with zlib,
// zstd with libzstd (memory: its window, at most 128 MiB), xz with liblzma,
// the others with libarchive; forced names the format instead (empty: by head).
std::unique_ptr<ByteSource> makeDecoder(const std::string& head, ByteSource& in,
                                        const std::string& forced = "");

// An .xz stream (its signature starts head), and its decoder: liblzma's
// multi-threaded one, on two cores for a stream of several blocks. Memory:
// at most 256 MiB for the threads, else one thread and its dictionary.
bool isXzStream(const std::string& head);
std::unique_ptr<ByteSource> makeXzSource(ByteSource& in);

// Enables in a libarchive reader the archive format or compression called
// name, or every archive format when name is empty.
void enableLibarchiveFormat(const struct LibarchiveApi& la, struct archive* a,
                            const std::string& name);

#endif  // BFSSCAN_BYTE_SOURCE_H
