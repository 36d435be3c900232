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
    if (w <= 0) throw SpoolFailure(dir_, w < 0 ? errno : ENOSPC);
    data += w;
    pos += static_cast<uint64_t>(w);
    n -= static_cast<size_t>(w);
  }
}

void Spool::append(const char* data, size_t n) {
  // The data in pieces up to each block boundary; a piece that is a whole
  // block of zeros is skipped (a hole), runs of the others are written in
  // one call.
  size_t runStart = 0, i = 0;
  while (i < n) {
    const uint64_t pos = length_ + i;
    const size_t piece = std::min(kHoleBlock - static_cast<size_t>(pos % kHoleBlock), n - i);
    if (piece == kHoleBlock && allZero(data + i, piece)) {
      if (i > runStart) writeAt(data + runStart, i - runStart, length_ + runStart);
      runStart = i + piece;
    }
    i += piece;
  }
  if (n > runStart) writeAt(data + runStart, n - runStart, length_ + runStart);
  length_ += n;
}

void Spool::finish() {
  if (::ftruncate(fd_, static_cast<off_t>(length_)) != 0) throw SpoolFailure(dir_, errno);
}
