// Reads a piece of a raw image as two halves at once: the caller's thread
// reads the first, a helper thread the second, so that the kernel's copies
// out of the page cache (or two requests to the disk) use two cores. Where
// the helper has not begun its half by the time the first is read (a busy
// machine), the caller reads that half too: the pair is never slower than
// one reader by more than a hand-off. The outcome is that of reading the
// two halves in order, the first half's failure first.
#ifndef BFSSCAN_PAIRED_READ_H
#define BFSSCAN_PAIRED_READ_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "image.h"

class PairedRead {
 public:
  // Pieces smaller than this are read in one go.
  static constexpr size_t kSmallest = 128 << 10;

  // Null where pairing cannot help: an image that is not a plain file or
  // disk (its library reads one request at a time), or a single core.
  static std::unique_ptr<PairedRead> forImage(const Image& image);

  explicit PairedRead(const Image& image) : image_(image) {}
  ~PairedRead();
  PairedRead(const PairedRead&) = delete;
  PairedRead& operator=(const PairedRead&) = delete;

  // As Image::readUpTo(pos, buf, n).
  size_t readUpTo(uint64_t pos, char* buf, size_t n);

 private:
  enum class State { kIdle, kPosted, kTaken, kDone, kQuit };
  void helperLoop();

  const Image& image_;
  std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::kIdle;
  // The helper's half, and what came of it.
  uint64_t pos_ = 0;
  char* buf_ = nullptr;
  size_t n_ = 0;
  size_t got_ = 0;
  std::exception_ptr failure_;
  std::thread helper_;
};

#endif  // BFSSCAN_PAIRED_READ_H
