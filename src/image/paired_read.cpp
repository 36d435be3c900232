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
  if (!helper_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = State::kQuit;
  }
  changed_.notify_all();
  helper_.join();
}

size_t PairedRead::readUpTo(uint64_t pos, char* buf, size_t n) {
  if (n < kSmallest) return image_.readUpTo(pos, buf, n);
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
  if (!helper_.joinable()) {
    helper_ = std::thread([this] { helperLoop(); });
  } else {
    changed_.notify_all();
  }
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
