#include "splice_pipe.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

SplicePipe::SplicePipe(size_t capacity) : wanted_(capacity) { open(capacity); }

SplicePipe::~SplicePipe() { close(); }

void SplicePipe::open(size_t capacity) {
  if (capacity == 0) return;
  if (::pipe2(ends_, O_CLOEXEC) != 0) {
    ends_[0] = ends_[1] = -1;
    return;
  }
  // Whoever takes the bytes out never waits on an empty pipe; a fill never
  // waits on a full one, as it only starts when all its pages fit.
  ::fcntl(ends_[0], F_SETFL, O_NONBLOCK);
  // The system may refuse to grow it as far as asked (past pipe-max-size
  // without the privilege to, a user over the pipe quota): then as far as it
  // lets, in halves.
  for (size_t c = capacity; c > 0 && c <= INT_MAX; c /= 2) {
    if (::fcntl(ends_[1], F_SETPIPE_SZ, static_cast<int>(c)) >= 0) break;
  }
  const int size = ::fcntl(ends_[1], F_GETPIPE_SZ);
  capacity_ = size > 0 ? static_cast<size_t>(size) : 0;
  if (capacity_ == 0) close();
}

void SplicePipe::close() {
  for (int& end : ends_) {
    if (end >= 0) ::close(end);
    end = -1;
  }
  capacity_ = 0;
}

void SplicePipe::reset() {
  close();
  open(wanted_);
}

bool SplicePipe::fits(uint64_t pos, size_t n) const {
  // The pipe holds pages: bytes that do not start on a page boundary take
  // one page more than their length.
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const uint64_t pages = (pos % page + n + page - 1) / page;
  return capacity_ != 0 && n <= capacity_ && pages <= capacity_ / page;
}

bool SplicePipe::fill(int fd, uint64_t pos, size_t n) {
  if (pos > static_cast<uint64_t>(INT64_MAX) - n || !fits(pos, n)) return false;
  int left = 0;
  if (::ioctl(ends_[0], FIONREAD, &left) != 0 || left != 0) {
    reset();
    if (!fits(pos, n)) return false;
  }
  loff_t from = static_cast<loff_t>(pos);
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ::splice(fd, &from, ends_[1], nullptr, n - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  if (done == n) return true;
  reset();
  return false;
}
