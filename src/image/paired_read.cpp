#include "paired_read.h"

#include <sched.h>

#include "aligned_buffer.h"

std::unique_ptr<PairedRead> PairedRead::forImage(const Image& image) {
  if (image.rawFd() < 0) return nullptr;
  cpu_set_t cpus;
  if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0 || CPU_COUNT(&cpus) < 2) return nullptr;
  return std::make_unique<PairedRead>(image);
}

PairedRead::~PairedRead() {
  if (helperState_ != Helper::kRunning) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = State::kQuit;
  }
  changed_.notify_all();
  ::pthread_join(helper_, nullptr);
}

// A small stack: the helper only reads. A thread the system refuses (a
// limit on memory or threads) leaves every piece to one read.
bool PairedRead::startHelper() {
  if (helperState_ == Helper::kNone) {
    helperState_ = Helper::kRefused;
    pthread_attr_t attr;
    if (::pthread_attr_init(&attr) == 0) {
      ::pthread_attr_setstacksize(&attr, kHelperStack);
      auto run = [](void* self) -> void* {
        static_cast<PairedRead*>(self)->helperLoop();
        return nullptr;
      };
      if (::pthread_create(&helper_, &attr, run, this) == 0) helperState_ = Helper::kRunning;
      ::pthread_attr_destroy(&attr);
    }
  }
  return helperState_ == Helper::kRunning;
}

size_t PairedRead::readUpTo(uint64_t pos, char* buf, size_t n) {
  if (n < kSmallest || !startHelper()) return image_.readUpTo(pos, buf, n);
  // Halves on page boundaries, for the kernel's copy.
  const size_t half = n / 2 / AlignedBuffer::kAlignment * AlignedBuffer::kAlignment;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pos_ = pos + half;
    buf_ = buf + half;
    n_ = n - half;
    got_ = 0;
    failure_ = nullptr;
    state_ = State::kPosted;
  }
  changed_.notify_all();
  size_t first = 0;
  std::exception_ptr firstFailure;
  try {
    first = image_.readUpTo(pos, buf, half);
  } catch (...) {
    firstFailure = std::current_exception();
  }
  bool secondIsMine = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (state_ == State::kPosted) {
      secondIsMine = true;  // not begun: take it back
    } else {
      changed_.wait(lock, [this] { return state_ == State::kDone; });
    }
    state_ = State::kIdle;
  }
  if (firstFailure) std::rethrow_exception(firstFailure);
  if (first < half) return first;  // the image ends in the first half
  if (secondIsMine) return half + image_.readUpTo(pos + half, buf + half, n - half);
  if (failure_) std::rethrow_exception(failure_);
  return half + got_;
}

void PairedRead::helperLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return state_ == State::kPosted || state_ == State::kQuit; });
    if (state_ == State::kQuit) return;
    state_ = State::kTaken;
    const uint64_t pos = pos_;
    char* const buf = buf_;
    const size_t n = n_;
    lock.unlock();
    size_t got = 0;
    std::exception_ptr failure;
    try {
      got = image_.readUpTo(pos, buf, n);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    got_ = got;
    failure_ = failure;
    state_ = State::kDone;
    changed_.notify_all();
  }
}
