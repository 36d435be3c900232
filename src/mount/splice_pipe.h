// Zero-copy reads of a raw image: the bytes of a request are moved from the
// image's page cache into a pipe (splice), without passing through this
// process, and the FUSE library moves them on from the pipe to the kernel.
// A fill either puts all the bytes asked for in the pipe or leaves it empty,
// so that the caller can read the same bytes the ordinary way and tell what
// went wrong.
#ifndef BFSSCAN_SPLICE_PIPE_H
#define BFSSCAN_SPLICE_PIPE_H

#include <cstddef>
#include <cstdint>

class SplicePipe {
 public:
  // A pipe that holds up to capacity bytes, or half, a quarter ... as far as
  // the system lets it grow (see capacity()); none for 0.
  explicit SplicePipe(size_t capacity);
  ~SplicePipe();
  SplicePipe(const SplicePipe&) = delete;
  SplicePipe& operator=(const SplicePipe&) = delete;

  // Bytes the pipe holds; 0 when there is none.
  size_t capacity() const { return capacity_; }
  // Whether the n bytes at pos fit in the pipe (they take whole pages).
  bool fits(uint64_t pos, size_t n) const;
  // Moves n bytes at pos of fd into the emptied pipe. True when all n are in
  // it; false, with the pipe empty, when fd gave fewer (an error, its end),
  // or they do not fit. Never waits on the pipe.
  bool fill(int fd, uint64_t pos, size_t n);
  // Where the bytes of the last fill are read from.
  int readEnd() const { return ends_[0]; }

 private:
  void open(size_t capacity);
  void close();
  // Empties the pipe: what a reply left in it, or a fill that failed.
  void reset();

  int ends_[2] = {-1, -1};
  size_t capacity_ = 0;
  size_t wanted_ = 0;
};

#endif  // BFSSCAN_SPLICE_PIPE_H
