#include "output_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "escape.h"
#include "atomic_file.h"
#include "stop.h"

namespace fs = boost::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
  throw OutputFailure("cannot " + what + " " + quotedForDiag(path) + ": " + std::strerror(err));
}

// A file descriptor closed when its scope ends.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool identifyIn(int dirfd, const std::string& name, dev_t* dev, ino_t* ino) {
  struct stat st;
  if (dirfd < 0 || ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  *dev = st.st_dev;
  *ino = st.st_ino;
  return true;
}

bool identifySelfIn(int dirfd, dev_t* dev, ino_t* ino) {
  struct stat st;
  if (dirfd < 0 || ::fstat(dirfd, &st) != 0) return false;
  *dev = st.st_dev;
  *ino = st.st_ino;
  return true;
}

// The block size of the file system of dirfd, or (when it is not there) of
// the directory root would be made in; 512 when it cannot be told.
uint64_t blockSizeOf(int dirfd, const std::string& root) {
  struct stat st;
  bool known = dirfd >= 0 && ::fstat(dirfd, &st) == 0;
  if (!known) {
    const std::string parent = fs::path(root).parent_path().string();
    known = ::stat(parent.empty() ? "." : parent.c_str(), &st) == 0;
  }
  return known && st.st_blksize > 0 ? static_cast<uint64_t>(st.st_blksize) : 512;
}

// A directory at an output path is never replaced.
void refuseDirectory(int dirfd, const std::string& name, const std::string& display) {
  struct stat st;
  if (dirfd >= 0 && ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(st.st_mode)) {
    fail("open", display, EISDIR);
  }
}

// What the files of one tree share: the stop token, and the counter of
// their temporary names.
struct TreeContext {
  const StopToken* stop = nullptr;
  unsigned counter = 0;
};

// A name no file of the format can have: longer than 14 bytes.
std::string temporaryName(TreeContext& context) {
  return ".bfsscan-part-" + std::to_string(::getpid()) + "-" + std::to_string(++context.counter);
}

class DiskFile : public OutputFile {
 public:
  DiskFile(int dirfd, const std::string& name, const std::string& display,
           TreeContext& context)
      : display_(display), stop_(context.stop) {
    const int err = file_.create(dirfd, name, [&context] { return temporaryName(context); });
    if (err != 0) fail("open", display_, err);
  }
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  int fd() const override { return file_.fd(); }

  void write(const char* data, size_t n) override {
    while (n > 0) {
      const ssize_t put = ::write(file_.fd(), data, n);
      if (put < 0) {
        if (errno == EINTR) {
          checkStop(stop_);
          continue;
        }
        fail("write", display_, errno);
      }
      data += put;
      n -= static_cast<size_t>(put);
    }
  }

  std::string applyAttributes(const FileAttributes& a) override {
    std::string problems;
    auto note = [&problems](const char* what) {
      problems += (problems.empty() ? "" : ", ") + std::string(what) + ": " + std::strerror(errno);
    };
    const bool root = ::geteuid() == 0;
    if (root && ::fchown(file_.fd(), a.uid, a.gid) != 0) note("owner");
    mode_t mode = a.mode & 07777;
    if (!root) mode &= ~static_cast<mode_t>(06000);
    const bool owned = !root || problems.empty();
    if (::fchmod(file_.fd(), mode) != 0) {
      note("mode");
    } else {
      setUserIdRoot_ = owned && (mode & 04000) != 0 && a.uid == 0;
    }
    const struct timespec times[2] = {{static_cast<time_t>(a.atime), 0},
                                      {static_cast<time_t>(a.mtime), 0}};
    if (::futimens(file_.fd(), times) != 0) note("times");
    return problems;
  }

  void commit() override {
    int err = 0;
    switch (file_.commit(&err)) {
      case AtomicFile::kClose: fail("write", display_, err);
      case AtomicFile::kRename: fail("open", display_, err);
      case AtomicFile::kNone: break;
    }
  }

  bool setUserIdRoot() const override { return setUserIdRoot_; }

 private:
  AtomicFile file_;
  std::string display_;
  const StopToken* stop_;
  bool setUserIdRoot_ = false;
};

class DiskDirectory : public OutputDirectory {
 public:
  DiskDirectory(int fd, TreeContext& context) : fd_(fd), context_(context) {}
  bool identify(const std::string& name, dev_t* dev, ino_t* ino) const override {
    return identifyIn(fd_.get(), name, dev, ino);
  }
  bool identifySelf(dev_t* dev, ino_t* ino) const override {
    return identifySelfIn(fd_.get(), dev, ino);
  }
  std::unique_ptr<OutputFile> create(const std::string& name,
                                     const std::string& display) override {
    refuseDirectory(fd_.get(), name, display);
    return std::make_unique<DiskFile>(fd_.get(), name, display, context_);
  }

 private:
  Fd fd_;
  TreeContext& context_;
};

// Opens root (made when missing), or the working directory.
int openRoot(const std::string& root, bool make) {
  if (root.empty()) return ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (make && ::mkdir(root.c_str(), 0777) != 0 && errno != EEXIST) {
    fail("create directory", root, errno);
  }
  const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && (make || errno != ENOENT)) fail("use directory", root, errno);
  if (fd < 0) {
    // A dry run makes nothing, but says what making it would say.
    struct stat st;
    const std::string parent = fs::path(root).parent_path().string();
    if (::stat(parent.empty() ? "." : parent.c_str(), &st) != 0) {
      fail("create directory", root, errno);
    }
    if (!S_ISDIR(st.st_mode)) fail("create directory", root, ENOTDIR);
  }
  return fd;
}

// Whether name below dirfd is a directory (following a link) or absent;
// anything else in its place is an output failure.
bool existingDirectory(int dirfd, const std::string& name, const std::string& display) {
  struct stat st;
  if (dirfd < 0) return false;
  if (::fstatat(dirfd, name.c_str(), &st, 0) != 0) {
    // Nothing there, or a link to nothing, which mkdir refuses alike.
    if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      fail("create directory", display, EEXIST);
    }
    return false;
  }
  if (!S_ISDIR(st.st_mode)) fail("create directory", display, EEXIST);
  return true;
}

[[noreturn]] void failLink(const std::string& display) {
  throw OutputFailure("cannot use directory " + quotedForDiag(display) +
                      ": it is a symbolic link");
}

class DiskTree : public OutputTree {
 public:
  DiskTree(const std::string& root, const StopToken* stop)
      : root_(openRoot(root, true)), blockSize_(blockSizeOf(root_.get(), root)) {
    context_.stop = stop;
  }
  uint64_t blockSize() const override { return blockSize_; }
  std::unique_ptr<OutputDirectory> directory(const std::string& name, bool& existed) override {
    existed = false;
    if (::mkdirat(root_.get(), name.c_str(), 0777) != 0) {
      if (errno != EEXIST) fail("create directory", name, errno);
      existed = existingDirectory(root_.get(), name, name);
      if (!existed) fail("create directory", name, EEXIST);
    }
    const int fd = ::openat(root_.get(), name.c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      struct stat st;
      if (::fstatat(root_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode)) {
        failLink(name);
      }
      fail("use directory", name, err);
    }
    return std::make_unique<DiskDirectory>(fd, context_);
  }

 private:
  Fd root_;
  TreeContext context_;
  uint64_t blockSize_;
};

class DryFile : public OutputFile {
 public:
  int fd() const override { return -1; }
  void write(const char*, size_t) override {}
  std::string applyAttributes(const FileAttributes&) override { return ""; }
  void commit() override {}
};

class DryDirectory : public OutputDirectory {
 public:
  explicit DryDirectory(int fd) : fd_(fd) {}
  bool identify(const std::string& name, dev_t* dev, ino_t* ino) const override {
    return identifyIn(fd_.get(), name, dev, ino);
  }
  bool identifySelf(dev_t* dev, ino_t* ino) const override {
    return identifySelfIn(fd_.get(), dev, ino);
  }
  std::unique_ptr<OutputFile> create(const std::string& name,
                                     const std::string& display) override {
    refuseDirectory(fd_.get(), name, display);
    return std::make_unique<DryFile>();
  }

 private:
  Fd fd_;
};

class DryRunTree : public OutputTree {
 public:
  explicit DryRunTree(const std::string& root)
      : root_(openRoot(root, false)), blockSize_(blockSizeOf(root_.get(), root)) {}
  uint64_t blockSize() const override { return blockSize_; }
  std::unique_ptr<OutputDirectory> directory(const std::string& name, bool& existed) override {
    existed = existingDirectory(root_.get(), name, name);
    int fd = -1;
    if (existed) {
      fd = ::openat(root_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0 && errno == ELOOP) failLink(name);
    }
    return std::make_unique<DryDirectory>(fd);
  }

 private:
  Fd root_;
  uint64_t blockSize_;
};

}  // namespace

std::unique_ptr<OutputTree> diskTree(const std::string& root, const StopToken* stop) {
  return std::make_unique<DiskTree>(root, stop);
}

std::unique_ptr<OutputTree> dryRunTree(const std::string& root) {
  return std::make_unique<DryRunTree>(root);
}

std::string quotedForDiag(const std::string& path) {
  std::ostringstream out;
  out << fs::path(path);  // the report's quoting: "a&"b" for a"b
  return escapeForDiag(out.str());
}
