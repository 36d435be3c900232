// Writing a decompressed stream into an unlinked, sparse temporary file.
#include "spool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "stream_failure.h"

namespace {

constexpr size_t kHoleBlock = 4096;

bool allZero(const char* p, size_t n) {
  // The first byte, then the rest against it: memcmp is vectorised.
  return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0);
}

}  // namespace

std::string spoolDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

Spool::Spool() : dir_(spoolDirectory()) {
#ifdef O_TMPFILE
  fd_ = ::open(dir_.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
#endif
  if (fd_ < 0) {
    // A file system without O_TMPFILE: a private name, unlinked at once.
    std::string name = dir_ + "/bfsscan-spool-XXXXXX";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    fd_ = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd_ < 0) throw SpoolFailure(dir_, errno);
    ::unlink(buf.data());
  }
}

Spool::~Spool() {
  if (fd_ >= 0) ::close(fd_);
}

int Spool::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void Spool::writeAt(const char* data, size_t n, uint64_t pos) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd_, data, n, static_cast<off_t>(pos));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      // The copy ends where the writing failed: what lies before it is whole.
      const int error = w < 0 ? errno : ENOSPC;
      length_ = pos;
      tail_.clear();
      throw SpoolFailure(dir_, error);
    }
    data += w;
    pos += static_cast<uint64_t>(w);
    n -= static_cast<size_t>(w);
  }
}

void Spool::writeBlocks(const char* data, size_t n, uint64_t pos) {
  // Whole blocks from a block boundary: those of zeros are skipped (holes),
  // runs of the others are written in one call.
  size_t runStart = 0;
  for (size_t i = 0; i < n; i += kHoleBlock) {
    const size_t piece = std::min(kHoleBlock, n - i);
    if (piece == kHoleBlock && allZero(data + i, piece)) {
      if (i > runStart) writeAt(data + runStart, i - runStart, pos + runStart);
      runStart = i + piece;
    }
  }
  if (n > runStart) writeAt(data + runStart, n - runStart, pos + runStart);
}

void Spool::append(const char* data, size_t n) {
  // The bytes past the last block boundary wait in tail_ for the rest of
  // their block, so that pieces of any size leave the same holes.
  const uint64_t start = length_ - tail_.size();
  if (!tail_.empty()) {
    const size_t take = std::min(n, kHoleBlock - tail_.size());
    tail_.append(data, take);
    data += take;
    n -= take;
    length_ += take;
    if (tail_.size() < kHoleBlock) return;
    writeBlocks(tail_.data(), tail_.size(), start);
    tail_.clear();
  }
  const size_t whole = n - n % kHoleBlock;
  writeBlocks(data, whole, length_);
  length_ += whole;
  tail_.assign(data + whole, n - whole);
  length_ += n - whole;
}

void Spool::finish() {
  if (!tail_.empty()) {
    writeBlocks(tail_.data(), tail_.size(), length_ - tail_.size());
    tail_.clear();
  }
  if (::ftruncate(fd_, static_cast<off_t>(length_)) != 0) throw SpoolFailure(dir_, errno);
}
