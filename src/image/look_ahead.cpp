#include "look_ahead.h"

#include <sched.h>

#include <algorithm>

#include "aligned_buffer.h"
#include "block_reader.h"
#include "sys/fs/bfs.h"

namespace {

constexpr size_t kStack = 256 << 10;
constexpr size_t kPiece = BlockReader::kChunk;

bool hasMagic(const char* p) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] == 0x1B && b[1] == 0xAD && b[2] == 0xFA && b[3] == 0xCE;
}

}  // namespace

std::unique_ptr<LookAhead> LookAhead::start(const Image& image) {
  const int64_t length = image.length();
  if (image.rawFd() < 0 || length < static_cast<int64_t>(kSmallest)) return nullptr;
  cpu_set_t cpus;
  if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0 || CPU_COUNT(&cpus) < 2) return nullptr;
  const uint64_t half = static_cast<uint64_t>(length) / 2 / kPiece * kPiece;
  std::unique_ptr<LookAhead> ahead(new LookAhead(image, half));
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) return nullptr;
  ::pthread_attr_setstacksize(&attr, kStack);
  auto run = [](void* self) -> void* {
    static_cast<LookAhead*>(self)->search();
    return nullptr;
  };
  const bool started = ::pthread_create(&ahead->thread_, &attr, run, ahead.get()) == 0;
  ::pthread_attr_destroy(&attr);
  if (!started) return nullptr;
  return ahead;
}

LookAhead::~LookAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  ::pthread_join(thread_, nullptr);
}

uint64_t LookAhead::boundary() {
  std::lock_guard<std::mutex> lock(mutex_);
  return boundary_;
}

size_t LookAhead::claim(uint64_t pos, size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pos >= boundary_) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, boundary_ - pos));
  claimed_ = std::max(claimed_, pos + n);
  return n;
}

LookAhead::Answer LookAhead::next(uint64_t& pos) {
  std::unique_lock<std::mutex> lock(mutex_);
  claimed_ = std::max(claimed_, pos);  // nothing below is wanted any more
  for (;;) {
    if (pos >= lowest_) {
      bool dropped = false;
      while (!found_.empty() && found_.front() < pos) {
        found_.pop_front();
        dropped = true;
      }
      if (dropped) changed_.notify_all();  // room for more
      if (!found_.empty() && found_.front() < searched_) {
        pos = found_.front();
        found_.pop_front();
        changed_.notify_all();
        return Answer::kFound;
      }
      if (searched_ > pos) {
        pos = searched_;
        return Answer::kNone;
      }
      if (upEnded_) return Answer::kOwnRead;  // the search ended before pos
    } else if (pos < boundary_) {
      return Answer::kOwnRead;  // a piece the search gave back
    }
    changed_.wait(lock);
  }
}

void LookAhead::search() {
  AlignedBuffer buf(kPiece);
  if (searchUp(buf.data())) searchDown(buf.data());
  std::lock_guard<std::mutex> lock(mutex_);
  upEnded_ = true;
  boundary_ = lowest_;
  changed_.notify_all();
}

// From halfway to the end; false where stopped early (a failure, quit).
bool LookAhead::searchUp(char* buf) {
  const uint64_t length = static_cast<uint64_t>(image_.length());
  uint64_t pos = searched_;
  uint64_t dataUntil = pos;
  try {
    while (pos + BFS_BSIZE <= length) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return quit_ || found_.size() < kMostPending; });
        if (quit_) return false;
      }
      // Holes hold no magic: as the scan passes over them.
      if (pos >= dataUntil) {
        const uint64_t data = image_.nextData(pos);
        if (data > pos) {
          uint64_t next = std::min(data, length) / BFS_BSIZE * BFS_BSIZE;
          if (next == pos) next += BFS_BSIZE;
          pos = next;
          std::lock_guard<std::mutex> lock(mutex_);
          searched_ = pos;
          changed_.notify_all();
          continue;
        }
        dataUntil = image_.nextHole(pos);
      }
      const size_t got = image_.readUpTo(pos, buf, kPiece);
      const size_t whole = got / BFS_BSIZE * BFS_BSIZE;
      if (whole == 0) break;
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t at = 0; at < whole; at += BFS_BSIZE) {
        if (hasMagic(buf + at)) found_.push_back(pos + at);
      }
      pos += whole;
      searched_ = pos;
      changed_.notify_all();
    }
  } catch (const ReadFailure&) {
    return false;  // left to the scan, which reads from where this got
  }
  std::lock_guard<std::mutex> lock(mutex_);
  upEnded_ = true;
  changed_.notify_all();
  return true;
}

// Down from halfway, a piece at a time, while the scan has not claimed it.
void LookAhead::searchDown(char* buf) {
  for (;;) {
    uint64_t low;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return quit_ || found_.size() < kMostPending; });
      if (quit_ || lowest_ < kPiece || lowest_ - kPiece < claimed_) return;
      low = lowest_ - kPiece;
      boundary_ = low;  // the scan reads no further up than this now
    }
    bool hole = false;  // holes hold no magic
    size_t got = 0;
    try {
      hole = image_.nextData(low) >= low + kPiece;
      got = hole ? kPiece : image_.readUpTo(low, buf, kPiece);
    } catch (const ReadFailure&) {
      got = 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (got != kPiece) return;  // given back to the scan (see search())
    // This piece's blocks lie below every block found so far.
    for (size_t at = kPiece; !hole && at > 0; at -= BFS_BSIZE) {
      if (hasMagic(buf + at - BFS_BSIZE)) found_.push_front(low + at - BFS_BSIZE);
    }
    lowest_ = low;
    changed_.notify_all();
  }
}
