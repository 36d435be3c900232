// Windows of a raw image mapped into memory, for the two passes that look
// at a few bytes of much data: the search for the magic and the walk over
// inode slots. A mapped page that can no longer be read (the file was cut,
// the disk failed) raises SIGBUS; guarded() recovers from it, so the caller
// can redo that part with reads and get the outcome reads would give.
// Mapping is given up for the rest of the run after the first such fault,
// or when the image cannot be mapped at all.
#ifndef BFSSCAN_MAPPED_WINDOW_H
#define BFSSCAN_MAPPED_WINDOW_H

#include <cstddef>
#include <cstdint>

class MappedWindow {
 public:
  static constexpr size_t kSize = 4 << 20;  // bounded: mapped pages count as resident

  explicit MappedWindow(int fd) : fd_(fd) {}
  ~MappedWindow() { unmap(); }
  MappedWindow(const MappedWindow&) = delete;
  MappedWindow& operator=(const MappedWindow&) = delete;

  // Maps [pos, pos + len) (pos a multiple of the page size, len at most
  // kSize); returns the bytes of pos, or nullptr when mapping is not possible.
  const char* map(uint64_t pos, size_t len);
  void unmap();
  // Whether mapping is still worth trying for this image.
  bool usable() const { return fd_ >= 0 && !disabled(); }

  // Runs fn(ctx), which may only read mapped memory and must hold nothing
  // that needs a destructor. Returns false when a SIGBUS cut it short; mapping
  // is then disabled.
  static bool guarded(void (*fn)(void*), void* ctx);
  static bool disabled();

 private:
  int fd_;
  void* addr_ = nullptr;
  size_t len_ = 0;
  uint64_t pos_ = 0;
};

#endif  // BFSSCAN_MAPPED_WINDOW_H
