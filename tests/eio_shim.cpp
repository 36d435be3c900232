// Preloaded into bfsscan and bfsmount by the tests to play a disk with one
// bad byte: a read of the image that covers the offset in
// BFSSCAN_TEST_EIO_AT fails with EIO, and so do a kernel copy and a splice
// from it. It can also interrupt the run or shrink the image at a given
// offset, count the bytes read, and count the bytes written with pwrite (the
// non-zero part of a temporary copy), and tell statvfs a given free space.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// BFSSCAN_TEST_COUNT_READS: a file that gets, at exit, the number of bytes
// the program read with pread and copy_file_range, and spliced from a file
// (an offset given): a measure of work that does not move with the load of
// the machine. BFSSCAN_TEST_COUNT_SPLICED: the same for the bytes spliced.
// (Atomic: the image may be read by two threads at once.)
std::atomic<unsigned long long> bytesRead{0};
std::atomic<unsigned long long> bytesSpliced{0};

void count(ssize_t got) {
  if (got > 0) bytesRead += static_cast<unsigned long long>(got);
}

void writeNumber(const char* variable, unsigned long long number) {
  const char* path = std::getenv(variable);
  if (path == nullptr) return;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string text = std::to_string(number) + "\n";
  if (::write(fd, text.data(), text.size()) < 0) std::abort();
  ::close(fd);
}

__attribute__((destructor)) void writeCount() {
  writeNumber("BFSSCAN_TEST_COUNT_READS", bytesRead);
  writeNumber("BFSSCAN_TEST_COUNT_SPLICED", bytesSpliced);
}

bool coversBadByte(off_t off, size_t n) {
  static const char* at = std::getenv("BFSSCAN_TEST_EIO_AT");
  static const long long bad = at ? std::atoll(at) : -1;
  return bad >= 0 && off <= bad && bad < off + static_cast<off_t>(n);
}

// BFSSCAN_TEST_SIGNAL_AT: the read that covers this offset first raises
// SIGINT, or the signal numbered BFSSCAN_TEST_SIGNAL (an interruption at a
// known point). BFSSCAN_TEST_SHRINK_AT with
// BFSSCAN_TEST_SHRINK_PATH: the read that covers this offset first cuts the
// file at that path to that length (an image that shrinks while read).
void actAt(off_t off, size_t n) {
  static const char* sig = std::getenv("BFSSCAN_TEST_SIGNAL_AT");
  static const char* shrink = std::getenv("BFSSCAN_TEST_SHRINK_AT");
  static bool signalled = false, shrunk = false;
  auto covers = [&](const char* at) {
    const long long x = std::atoll(at);
    return off <= x && x < off + static_cast<off_t>(n);
  };
  if (sig && !signalled && covers(sig)) {
    signalled = true;
    const char* number = std::getenv("BFSSCAN_TEST_SIGNAL");
    ::raise(number ? std::atoi(number) : SIGINT);
  }
  if (shrink && !shrunk && covers(shrink)) {
    shrunk = true;
    if (const char* path = std::getenv("BFSSCAN_TEST_SHRINK_PATH")) {
      if (::truncate(path, std::atoll(shrink)) != 0) std::abort();
    }
  }
}

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

// BFSSCAN_TEST_WRITTEN: a file that receives, when the program exits, the
// number of bytes it wrote with pwrite.
struct WriteCount {
  unsigned long long bytes = 0;
  ~WriteCount() {
    if (const char* path = std::getenv("BFSSCAN_TEST_WRITTEN")) {
      if (std::FILE* f = std::fopen(path, "w")) {
        std::fprintf(f, "%llu\n", bytes);
        std::fclose(f);
      }
    }
  }
} written;

template <typename Stat>
int withFreeBytes(int rc, Stat* buf) {
  const char* free = std::getenv("BFSSCAN_TEST_FREE_BYTES");
  if (rc == 0 && free != nullptr) {
    buf->f_frsize = 4096;
    buf->f_bavail = static_cast<decltype(buf->f_bavail)>(std::atoll(free) / 4096);
  }
  return rc;
}

}  // namespace

extern "C" {

ssize_t pread(int fd, void* buf, size_t n, off_t off) {
  static auto real = next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  actAt(off, n);
  if (coversBadByte(off, n)) {
    errno = EIO;
    return -1;
  }
  const ssize_t got = real(fd, buf, n, off);
  count(got);
  return got;
}

ssize_t pread64(int fd, void* buf, size_t n, off_t off) { return pread(fd, buf, n, off); }

ssize_t pwrite(int fd, const void* buf, size_t n, off_t off) {
  static auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  const ssize_t done = real(fd, buf, n, off);
  if (done > 0) written.bytes += static_cast<unsigned long long>(done);
  return done;
}

ssize_t pwrite64(int fd, const void* buf, size_t n, off_t off) { return pwrite(fd, buf, n, off); }

ssize_t copy_file_range(int in, loff_t* inOff, int out, loff_t* outOff, size_t n,
                        unsigned flags) {
  static auto real = next<ssize_t (*)(int, loff_t*, int, loff_t*, size_t, unsigned)>(
      "copy_file_range");
  if (inOff) actAt(*inOff, n);
  if (inOff && coversBadByte(*inOff, n)) {
    errno = EIO;
    return -1;
  }
  const ssize_t got = real(in, inOff, out, outOff, n, flags);
  count(got);
  return got;
}

ssize_t splice(int in, loff_t* inOff, int out, loff_t* outOff, size_t n, unsigned flags) {
  static auto real =
      next<ssize_t (*)(int, loff_t*, int, loff_t*, size_t, unsigned)>("splice");
  if (inOff) actAt(*inOff, n);
  if (inOff && coversBadByte(*inOff, n)) {
    errno = EIO;
    return -1;
  }
  const ssize_t got = real(in, inOff, out, outOff, n, flags);
  if (inOff) {
    count(got);
    if (got > 0) bytesSpliced += static_cast<unsigned long long>(got);
  }
  return got;
}

// BFSSCAN_TEST_FREE_BYTES: the free space statvfs tells (in blocks of 4 KiB),
// for a temporary directory of a known size.
int statvfs(const char* path, struct statvfs* buf) {
  static auto real = next<int (*)(const char*, struct statvfs*)>("statvfs");
  return withFreeBytes(real(path, buf), buf);
}

int statvfs64(const char* path, struct statvfs64* buf) {
  static auto real = next<int (*)(const char*, struct statvfs64*)>("statvfs64");
  return withFreeBytes(real(path, buf), buf);
}

}  // extern "C"
