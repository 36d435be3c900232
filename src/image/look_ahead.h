// Searches a large plain image for blocks that start with the magic on a
// second thread, while the scan works through the image itself: two
// readers of the page cache at once, each in long runs with no hand-off
// between pieces. The search begins halfway and goes on to the end; then
// it works back down from halfway, one piece at a time, until it meets
// what the scan has claimed, so that a scan busy elsewhere (copying files)
// finds most of the image searched when it comes back. It only finds where
// such blocks are; the scan reads the blocks it found again itself. Where
// it cannot read a piece (an error, the end, an image that shrank) it stops,
// and the scan reads on from there as it would have without it, so that
// every failure is met and reported by the scan itself, in order.
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

  // The scan reads below this itself; from here on it asks next().
  uint64_t boundary();
  // Claims [pos, pos + n) for the scan's own reading, n cut at the
  // boundary; 0 where pos is at or past it.
  size_t claim(uint64_t pos, size_t n);

  enum class Answer {
    kFound,    // pos is now the next block with the magic
    kNone,     // no such block in [pos, the new pos)
    kOwnRead,  // not searched: the caller reads from pos itself
  };
  // For pos at or past the boundary, a multiple of 512; waits for the
  // search to get there.
  Answer next(uint64_t& pos);

 private:
  LookAhead(const Image& image, uint64_t from)
      : image_(image), boundary_(from), lowest_(from), searched_(from) {}
  void search();
  bool searchUp(char* buf);
  void searchDown(char* buf);

  const Image& image_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<uint64_t> found_;  // in order
  uint64_t claimed_ = 0;        // the scan reads or has read below this
  uint64_t boundary_;           // the search's part begins here
  uint64_t lowest_;             // [lowest_, searched_) is searched
  uint64_t searched_;
  bool upEnded_ = false;        // the search upwards went as far as it could
  bool quit_ = false;
  pthread_t thread_{};
};

#endif  // BFSSCAN_LOOK_AHEAD_H
