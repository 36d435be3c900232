// Decodes a compressed container on a second core: a second handle of the
// container's library, on a thread of its own, reads the pieces that lie
// just ahead of the scan's sequential reading into a few buffers, and the
// scan's reads take their bytes from there instead of decoding them. The
// helper takes the farthest piece of its window first and leaves the nearest
// to the scan, which decodes a piece itself when the helper has not started
// it, so that the two share the decoding whatever each costs. Where the
// helper cannot read a piece (an error of the library, a damaged chunk, the
// end), the scan reads it itself and meets the failure as a single reader
// would, in order: the report, damage and files are those of one reader.
#ifndef BFSSCAN_DECODE_AHEAD_H
#define BFSSCAN_DECODE_AHEAD_H

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "aligned_buffer.h"

class DecodeAhead {
 public:
  // Images smaller than this are read by the scan alone.
  static constexpr uint64_t kSmallest = 64 << 20;
  static constexpr size_t kPiece = 512 << 10;
  static constexpr size_t kPieces = 8;  // the buffers: 4 MiB

  // Reads up to n bytes at pos with the second handle, checked as the
  // scan's own reads are; throws ReadFailure.
  using Reader = std::function<size_t(uint64_t pos, char* buf, size_t n)>;

  // Where the data goes on from pos (past a hole of a sparse container,
  // which the scan passes over), for the scan's thread.
  using NextData = std::function<uint64_t(uint64_t pos)>;

  // Null where it cannot help: a small image, a single core, or a thread the
  // system refuses. open makes the second reader; null when it cannot.
  static std::unique_ptr<DecodeAhead> start(uint64_t length, const std::function<Reader()>& open,
                                          NextData nextData = nullptr);

  ~DecodeAhead();
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;

  // Copies into buf the bytes from pos on that were read ahead, up to n,
  // waiting for a piece being read; returns how many (0: the caller reads
  // them itself). A read that reaches past where the sequential reading
  // was moves it on.
  size_t take(uint64_t pos, char* buf, size_t n);

 private:
  enum class State { kFree, kReading, kReady, kFailed };
  struct Slot {
    State state = State::kFree;
    uint64_t piece = 0;  // its index
    size_t length = 0;   // bytes read
    std::unique_ptr<AlignedBuffer> buf;
  };

  DecodeAhead(uint64_t length, Reader reader, NextData nextData)
      : length_(length), reader_(std::move(reader)), nextData_(std::move(nextData)) {}
  void run();
  Slot* slotOf(uint64_t piece);
  void release();  // frees the slots the reading has passed

  const uint64_t length_;
  Reader reader_;
  NextData nextData_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Slot slots_[kPieces];
  uint64_t front_ = 0;  // the sequential reading has read everything below
  bool quit_ = false;
  pthread_t thread_{};
};

#endif  // BFSSCAN_DECODE_AHEAD_H
