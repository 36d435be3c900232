// Searches the second half of a large plain image for blocks that start
// with the magic, on a thread of its own, while the scan works through the
// first half: two readers of the page cache at once, each in long runs
// with no hand-off between pieces. It only finds where such blocks are; the
// scan reads the blocks it found again itself. It stops at the first piece
// it cannot read (or where the image ends or shrank), and the scan reads
// on from there as it would have without it, so that every failure is met
// and reported by the scan itself, in order.
#ifndef BFSSCAN_LOOK_AHEAD_H
#define BFSSCAN_LOOK_AHEAD_H

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "image.h"

class LookAhead {
 public:
  // Images smaller than this are searched by the scan alone.
  static constexpr uint64_t kSmallest = 128 << 20;
  // Blocks found and not yet asked for; the search waits beyond this.
  static constexpr size_t kMostPending = 4096;

  // Null where it cannot help: an image that is not a plain file or disk,
  // a small one, a single core, or a thread the system refuses.
  static std::unique_ptr<LookAhead> start(const Image& image);

  ~LookAhead();
  LookAhead(const LookAhead&) = delete;
  LookAhead& operator=(const LookAhead&) = delete;

  // Where its search begins (a multiple of 512).
  uint64_t from() const { return from_; }

  enum class Answer {
    kFound,     // pos is now the next block with the magic
    kNone,      // no such block in [pos, the new pos)
    kOwnRead,   // not searched: the caller reads from pos itself
  };
  // For pos >= from(), a multiple of 512; waits for the search to reach it.
  Answer next(uint64_t& pos);

 private:
  LookAhead(const Image& image, uint64_t from) : image_(image), from_(from), searched_(from) {}
  void search();

  const Image& image_;
  const uint64_t from_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<uint64_t> found_;  // in order, each >= the last position asked
  uint64_t searched_;           // every block below this (from from_) searched
  bool ended_ = false;          // the search went as far as it could
  bool quit_ = false;
  pthread_t thread_{};
};

#endif  // BFSSCAN_LOOK_AHEAD_H
