#include "decode_ahead.h"

#include <sched.h>

#include <algorithm>
#include <cstring>

#include "image.h"

namespace {

constexpr size_t kStack = 512 << 10;

}  // namespace

std::unique_ptr<DecodeAhead> DecodeAhead::start(uint64_t length, const std::function<Reader()>& open,
                                            NextData nextData) {
  if (length < kSmallest) return nullptr;
  cpu_set_t cpus;
  if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0 || CPU_COUNT(&cpus) < 2) return nullptr;
  Reader reader = open();
  if (!reader) return nullptr;
  std::unique_ptr<DecodeAhead> ahead(new DecodeAhead(length, std::move(reader), std::move(nextData)));
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) return nullptr;
  ::pthread_attr_setstacksize(&attr, kStack);
  auto run = [](void* self) -> void* {
    static_cast<DecodeAhead*>(self)->run();
    return nullptr;
  };
  const bool started = ::pthread_create(&ahead->thread_, &attr, run, ahead.get()) == 0;
  ::pthread_attr_destroy(&attr);
  if (!started) return nullptr;
  return ahead;
}

DecodeAhead::~DecodeAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  ::pthread_join(thread_, nullptr);
}

DecodeAhead::Slot* DecodeAhead::slotOf(uint64_t piece) {
  for (Slot& s : slots_) {
    if (s.state != State::kFree && s.piece == piece) return &s;
  }
  return nullptr;
}

void DecodeAhead::release() {
  for (Slot& s : slots_) {
    if (s.state != State::kFree && s.state != State::kReading && (s.piece + 1) * kPiece <= front_) {
      s.state = State::kFree;
    }
  }
}

size_t DecodeAhead::take(uint64_t pos, char* buf, size_t n) {
  // A read past a hole goes on from the sequential reading. (Asked
  // outside the lock: the helper never waits on the scan's thread.)
  uint64_t front;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    front = front_;
  }
  const bool afterHole = pos > front && nextData_ && nextData_(front) >= pos;
  std::unique_lock<std::mutex> lock(mutex_);
  if (afterHole) front_ = std::max(front_, pos);
  size_t done = 0;
  while (done < n) {
    const uint64_t at = pos + done;
    Slot* s = slotOf(at / kPiece);
    while (s != nullptr && s->state == State::kReading) {
      changed_.wait(lock);
      s = slotOf(at / kPiece);
    }
    if (s == nullptr || s->state != State::kReady) break;
    const size_t off = static_cast<size_t>(at - s->piece * kPiece);
    if (off >= s->length) break;
    const size_t k = std::min(n - done, s->length - off);
    std::memcpy(buf + done, s->buf->data() + off, k);
    done += k;
    if (s->length < kPiece) break;  // a short piece: the rest is the caller's
  }
  // Only a read that goes on from the sequential reading moves it: the
  // reads elsewhere (a file's data) leave the helper where it is.
  if (pos <= front_ && pos + n > front_) {
    front_ = pos + n;
    release();
    changed_.notify_all();
  }
  return done;
}

void DecodeAhead::run() {
  const uint64_t pieces = (length_ + kPiece - 1) / kPiece;
  for (;;) {
    Slot* slot = nullptr;
    uint64_t piece = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        if (quit_) return;
        // The farthest piece of the window not taken yet, beyond the one
        // the reading is in, with a free buffer for it.
        const uint64_t first = front_ / kPiece + 1;
        const uint64_t last = std::min<uint64_t>(first + kPieces - 1, pieces);
        slot = nullptr;
        for (Slot& s : slots_) {
          if (s.state == State::kFree) slot = &s;
        }
        if (first >= pieces) return;  // the reading is in the last piece
        if (slot != nullptr) {
          for (piece = last; piece-- > first;) {
            if (slotOf(piece) == nullptr) break;
          }
          if (piece + 1 > first && slotOf(piece) == nullptr) break;
        }
        changed_.wait(lock);
      }
      slot->state = State::kReading;
      slot->piece = piece;
      slot->length = 0;
    }
    if (!slot->buf) slot->buf = std::make_unique<AlignedBuffer>(kPiece);
    const uint64_t pos = piece * kPiece;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kPiece, length_ - pos));
    size_t got = 0;
    bool failed = false;
    try {
      while (got < want) {
        const size_t k = reader_(pos + got, slot->buf->data() + got, want - got);
        if (k == 0) break;
        got += k;
      }
    } catch (const ReadFailure&) {
      failed = true;  // read again by the scan, which meets the failure
    }
    std::lock_guard<std::mutex> lock(mutex_);
    slot->length = got;
    slot->state = failed || got == 0 ? State::kFailed : State::kReady;
    release();
    changed_.notify_all();
  }
}
