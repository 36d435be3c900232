#include "extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
#include <memory>
#include <ostream>
#include <sstream>

#include "report.h"

namespace fs = boost::filesystem;

namespace {

constexpr size_t kCopyPiece = 1 << 20;

std::string quoted(const fs::path& p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

[[noreturn]] void failOutput(const std::string& what, const fs::path& p, int err) {
  throw OutputFailure("cannot " + what + " " + quoted(p) + ": " + std::strerror(err));
}

// A file descriptor closed when its scope ends.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Creates the extraction directory, or takes the one already there, and
// opens it without following a symbolic link.
int openExtractionDirectory(const fs::path& dir) {
  report() << "writing files to directory " << dir << std::endl;
  boost::system::error_code ec;
  const bool created = fs::create_directory(dir, ec);
  if (ec) failOutput("create directory", dir, ec.value());
  if (!created) report() << "had existing " << dir << std::endl;
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    struct stat st;
    if (::lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      throw OutputFailure("cannot use directory " + quoted(dir) + ": it is a symbolic link");
    }
    failOutput("use directory", dir, err);
  }
  return fd;
}

// Opens name in the directory dirfd for writing, creating it or emptying the
// regular file there. A symbolic link in its place is replaced, not
// followed; anything else that is not a regular file is refused.
int openOutput(int dirfd, const std::string& name, const fs::path& fpath, const Image& image) {
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::openat(dirfd, name.c_str(), flags, 0666);
  if (fd < 0 && errno == ELOOP) {
    if (::unlinkat(dirfd, name.c_str(), 0) != 0) failOutput("replace link", fpath, errno);
    fd = ::openat(dirfd, name.c_str(), flags | O_EXCL, 0666);
  }
  if (fd < 0) failOutput("open", fpath, errno);
  Fd out(fd);
  struct stat st;
  if (::fstat(fd, &st) != 0) failOutput("open", fpath, errno);
  if (!S_ISREG(st.st_mode)) {
    throw OutputFailure("cannot open " + quoted(fpath) + ": not a regular file");
  }
  if (image.isSameFile(st.st_dev, st.st_ino)) {
    throw OutputFailure("cannot open " + quoted(fpath) + ": it is the image being read");
  }
  // Only a file with old contents is emptied: some file systems flush a
  // file that was truncated when it is closed, which costs a fresh one dearly.
  if (st.st_size != 0 && ::ftruncate(fd, 0) != 0) failOutput("truncate", fpath, errno);
  return out.release();
}

void writeAll(int fd, const char* data, size_t n, const fs::path& fpath) {
  while (n > 0) {
    const ssize_t put = ::write(fd, data, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      failOutput("write", fpath, errno);
    }
    data += put;
    n -= static_cast<size_t>(put);
  }
}

// Copies n bytes from image offset pos to fd: in the kernel where it can
// (a raw image), else in pieces through a bounded buffer. Whatever the
// kernel copy cannot do is left to the plain copy, which tells a read
// failure from a write one.
void copyData(const Image& image, uint64_t pos, uint64_t n, int fd, const fs::path& fpath) {
  const int in = image.rawFd();
  while (in >= 0 && n > 0) {
    loff_t from = static_cast<loff_t>(pos);
    const ssize_t got =
        ::copy_file_range(in, &from, fd, nullptr, static_cast<size_t>(n), 0);
    if (got <= 0) break;
    pos += static_cast<uint64_t>(got);
    n -= static_cast<uint64_t>(got);
  }
  image.forEachChunk(pos, n, kCopyPiece, [&](const char* piece, size_t len) {
    writeAll(fd, piece, len, fpath);
  });
}

void skip(int64_t base, uint32_t slot, const std::string& why, bool& skipped) {
  diag() << "bfsscan: file system at " << base << ": inode " << slot << " not extracted: "
         << why << std::endl;
  skipped = true;
}

}  // namespace

bool isSafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

void extractFiles(const Image& image, const std::string& imagePath, int64_t base,
                  const InodeTable& inodes, const NameTable& names, bool& skipped) {
  fs::path dir = fs::path(imagePath).stem();
  dir += "-";
  dir += std::to_string(base);
  const Fd dirfd(openExtractionDirectory(dir));

  for (const InodeTable::Entry& entry : inodes.inUse()) {
    const uint32_t slot = entry.first;
    const bfsDirent& ino = entry.second;
    if (ino.isDirectory()) continue;

    const std::string name = names.lookup(ino.d_ino);
    if (!isSafeName(name)) {
      skip(base, slot,
           name.empty() ? std::string("no directory entry names it")
                        : "unsafe name '" + name + "'",
           skipped);
      continue;
    }
    fs::path fpath = dir;
    fpath /= name;
    struct stat st;
    if (::fstatat(dirfd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        image.isSameFile(st.st_dev, st.st_ino)) {
      skip(base, slot, "its output path " + quoted(fpath) + " is the image itself", skipped);
      continue;
    }

    const uint32_t first = ino.d_sblock * BFS_BSIZE;
    const uint32_t distance = ino.d_eoffset - first;
    report() << "copying " << fpath << " " << Hex{first} << "-" << Hex{ino.d_eoffset} << " "
             << distance << std::endl;

    const uint64_t n = static_cast<uint64_t>(distance) + 1;
    const uint64_t pos = imageOffset(base, first);
    const std::string item = "data of inode " + std::to_string(slot);
    try {
      // Data that runs past the end of the image leaves no output file.
      char last;
      image.readExact(pos + n - 1, &last, 1);
      Fd out(openOutput(dirfd.get(), name, fpath, image));
      try {
        copyData(image, pos, n, out.get(), fpath);
        if (::close(out.release()) != 0) failOutput("write", fpath, errno);
      } catch (...) {
        // A file cut short must not pass for an extracted one.
        ::unlinkat(dirfd.get(), name.c_str(), 0);
        throw;
      }
    } catch (ReadFailure& failure) {
      failure.setItem(item);
      throw;
    }
  }
}
