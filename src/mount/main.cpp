// bfsmount: scans an image as bfsscan -k -n does (reading what bfsscan
// reads: containers, compressed images, archives, pipes) and serves what it found,
// read-only, through FUSE: one directory per file system, its files read
// from the image at the moment they are asked for.
#define FUSE_USE_VERSION 31
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "bfsscan/bfsscan.h"
#include "byte_source.h"
#include "escape.h"
#include "line_log.h"
#include "mount_operations.h"
#include "mount_options.h"
#include "mount_tree.h"
#include "image_sequence.h"
#include "read_ahead.h"
#include "scan_input.h"
#include "splice_pipe.h"
#include "tree_collector.h"

#ifndef BFSSCAN_VERSION
#define BFSSCAN_VERSION "unknown"
#endif

namespace {

constexpr int kExitFailure = 2;
constexpr unsigned kLargeRequest = 1u << 20;  // bytes a read request may ask for
// Bytes the kernel may read ahead: several requests queue up, so that the
// server goes from one to the next without waiting for the reader.
constexpr unsigned kReadAhead = 4u << 20;

// One write per line, so that lines stay whole whoever else writes.
class StderrLog : public LineLog {
 public:
  void line(const std::string& text) override {
    const std::string l = text + '\n';
    size_t done = 0;
    while (done < l.size()) {
      const ssize_t n = ::write(STDERR_FILENO, l.data() + done, l.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
};

// The largest read request whose reply can be spliced: the bytes go
// through the pipe, where they may start inside a page (one page more), then
// through the FUSE library's pipe of the same size at most, which wants three
// pages besides them and the reply's header. Without a pipe, a request may
// be as large as the kernel lets it.
unsigned largestRequest(const SplicePipe& pipe) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  if (pipe.capacity() < 8 * page) return kLargeRequest;
  return static_cast<unsigned>(std::min<size_t>(kLargeRequest, pipe.capacity() - 4 * page));
}

// What the callbacks need, handed to FUSE as its private data.
struct Server {
  MountOperations* operations;
  unsigned maxRead;  // as the max_read mount option says
  int rawFd;         // the image's descriptor where it is a raw file, or -1
  SplicePipe* pipe;  // for replies spliced from rawFd (one request at a time)
  bool direct;       // reads bypass the mount's page cache (--direct)
};

Server& server() { return *static_cast<Server*>(fuse_get_context()->private_data); }
MountOperations& operations() { return *server().operations; }

void fillStat(const NodeAttributes& a, struct stat* st) {
  std::memset(st, 0, sizeof *st);
  st->st_mode = (a.directory ? S_IFDIR : S_IFREG) | a.permissions;
  st->st_nlink = a.nlink;
  st->st_uid = a.uid;
  st->st_gid = a.gid;
  st->st_size = static_cast<off_t>(a.size);
  st->st_blocks = static_cast<blkcnt_t>((a.size + 511) / 512);
  st->st_blksize = kLargeRequest;
  st->st_atim.tv_sec = a.atime;
  st->st_mtim.tv_sec = a.mtime;
  st->st_ctim.tv_sec = a.ctime;
}

void* fsInit(fuse_conn_info* conn, fuse_config* cfg) {
  // The image does not change while mounted: cache pages and attributes.
  cfg->kernel_cache = 1;
  cfg->entry_timeout = cfg->attr_timeout = cfg->negative_timeout = 3600;
  conn->max_write = kLargeRequest;  // also how many pages a request may carry
  conn->max_read = server().maxRead;  // FUSE wants it to agree with the mount option
  // The kernel keeps the smaller of this and the mount's read-ahead, which
  // widenReadAhead() raised before this request could be answered.
  conn->max_readahead = kReadAhead;
  // Replies spliced into the kernel (see fsReadBuf).
  conn->want |= conn->capable & FUSE_CAP_SPLICE_WRITE;
  return fuse_get_context()->private_data;
}

int fsGetattr(const char* path, struct stat* st, fuse_file_info*) {
  NodeAttributes a;
  const int rc = operations().getattr(path, &a);
  if (rc == 0) fillStat(a, st);
  return rc;
}

int fsReaddir(const char* path, void* buf, fuse_fill_dir_t filler, off_t, fuse_file_info*,
              fuse_readdir_flags) {
  filler(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  filler(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return operations().readdir(path, [&](std::string_view name, const NodeAttributes& a) {
    struct stat st;
    fillStat(a, &st);
    return filler(buf, std::string(name).c_str(), &st, 0, FUSE_FILL_DIR_PLUS) == 0;
  });
}

int fsOpen(const char* path, fuse_file_info* fi) {
  uint64_t handle = 0;
  const int rc = operations().open(path, fi->flags, &handle);
  if (rc != 0) return rc;
  fi->fh = handle;
  fi->keep_cache = 1;
  // Every read a request of its own, answered from the image (and its page
  // cache) without filling the mount's: the kernel's cost of a new page of
  // its own, per 4 KiB, is what makes a large read through the page cache
  // several times dearer than reading the image.
  fi->direct_io = server().direct ? 1 : 0;
  return 0;
}

int fsRead(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  if (offset < 0) return -EINVAL;
  return static_cast<int>(operations().read(fi->fh, buf, size, static_cast<uint64_t>(offset)));
}

// The reply to a read: from a raw image, the bytes go from its page cache
// through a pipe to the kernel without being copied here. Where they cannot
// all be spliced (an I/O error, an image that shrank, a pipe too small),
// they are read the ordinary way, which fails the request as a whole (EIO)
// and says why on standard error.
int fsReadBuf(const char*, fuse_bufvec** bufp, size_t size, off_t offset, fuse_file_info* fi) {
  if (offset < 0) return -EINVAL;
  Server& s = server();
  uint64_t pos = 0;
  size_t n = 0;
  const int rc = s.operations->extent(fi->fh, size, static_cast<uint64_t>(offset), &pos, &n);
  if (rc != 0) return rc;
  // FUSE frees both with free().
  auto* reply = static_cast<fuse_bufvec*>(std::malloc(sizeof(fuse_bufvec)));
  if (reply == nullptr) return -ENOMEM;
  *reply = FUSE_BUFVEC_INIT(n);
  // Below two pages FUSE would copy the bytes out of the pipe again.
  const size_t twoPages = 2 * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  if (s.rawFd >= 0 && n >= twoPages && s.pipe->fill(s.rawFd, pos, n)) {
    reply->buf[0].flags = FUSE_BUF_IS_FD;
    reply->buf[0].fd = s.pipe->readEnd();
    *bufp = reply;
    return 0;
  }
  void* bytes = std::malloc(n == 0 ? 1 : n);
  if (bytes == nullptr) {
    std::free(reply);
    return -ENOMEM;
  }
  const ssize_t got =
      s.operations->read(fi->fh, static_cast<char*>(bytes), n, static_cast<uint64_t>(offset));
  if (got < 0) {
    std::free(bytes);
    std::free(reply);
    return static_cast<int>(got);
  }
  reply->buf[0].mem = bytes;
  reply->buf[0].size = static_cast<size_t>(got);
  *bufp = reply;
  return 0;
}

// Every kind of change is refused.
int refuse0(const char*) { return -EROFS; }
int refuseMode(const char*, mode_t) { return -EROFS; }
int refuse2(const char*, const char*) { return -EROFS; }

fuse_operations fuseOperations() {
  fuse_operations ops{};
  ops.init = fsInit;
  ops.getattr = fsGetattr;
  ops.readdir = fsReaddir;
  ops.open = fsOpen;
  ops.read = fsRead;
  ops.read_buf = fsReadBuf;
  ops.mknod = [](const char*, mode_t, dev_t) { return -EROFS; };
  ops.mkdir = refuseMode;
  ops.unlink = refuse0;
  ops.rmdir = refuse0;
  ops.symlink = refuse2;
  ops.rename = [](const char*, const char*, unsigned) { return -EROFS; };
  ops.link = refuse2;
  ops.chmod = [](const char*, mode_t, fuse_file_info*) { return -EROFS; };
  ops.chown = [](const char*, uid_t, gid_t, fuse_file_info*) { return -EROFS; };
  ops.truncate = [](const char*, off_t, fuse_file_info*) { return -EROFS; };
  ops.write = [](const char*, const char*, size_t, off_t, fuse_file_info*) { return -EROFS; };
  ops.create = [](const char*, mode_t, fuse_file_info*) { return -EROFS; };
  ops.utimens = [](const char*, const timespec*, fuse_file_info*) { return -EROFS; };
  ops.setxattr = [](const char*, const char*, const char*, size_t, int) { return -EROFS; };
  ops.removexattr = [](const char*, const char*) { return -EROFS; };
  ops.fallocate = [](const char*, int, off_t, off_t, fuse_file_info*) { return -EROFS; };
  return ops;
}

// The made-up directories belong to whoever mounts and carry the image's times.
DirectoryAttributes directoryAttributes(const std::string& image) {
  DirectoryAttributes d;
  d.uid = ::getuid();
  d.gid = ::getgid();
  struct stat st;
  if (::stat(image.c_str(), &st) == 0) {
    d.atime = st.st_atim.tv_sec;
    d.mtime = st.st_mtim.tv_sec;
    d.ctime = st.st_ctim.tv_sec;
  }
  return d;
}

// Goes into the background once the mount is in place; the command returns
// (status 0) when the background process is ready to serve. Standard error
// stays where it was unless it is a pipe or socket, which a caller reading
// to its end would wait on for as long as the mount lasts.
bool daemonise() {
  int ready[2];
  if (::pipe(ready) != 0) return false;
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid > 0) {
    ::close(ready[1]);
    char c;
    ssize_t n;
    do n = ::read(ready[0], &c, 1);
    while (n < 0 && errno == EINTR);
    ::_exit(n == 1 ? 0 : kExitFailure);
  }
  ::close(ready[0]);
  if (::setsid() < 0 || ::chdir("/") != 0) return false;
  const int null = ::open("/dev/null", O_RDWR);
  if (null < 0) return false;
  ::dup2(null, STDIN_FILENO);
  ::dup2(null, STDOUT_FILENO);
  struct stat st;
  if (::fstat(STDERR_FILENO, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    ::dup2(null, STDERR_FILENO);
  }
  if (null > STDERR_FILENO) ::close(null);
  const bool told = ::write(ready[1], "", 1) == 1;
  ::close(ready[1]);
  return told;
}

}  // namespace

int main(int argc, char** argv) {
  MountOptions options;
  std::string error;
  switch (parseMountCommandLine(argc, argv, &options, &error)) {
    case MountCommand::kUsageError:
      std::cerr << error;
      return kExitUsage;
    case MountCommand::kHelp:
      std::cout << kMountUsageText;
      return 0;
    case MountCommand::kVersion:
      std::cout << "bfsmount " BFSSCAN_VERSION "\n";
      return 0;
    case MountCommand::kMount:
      break;
  }
  StderrLog log;
  const std::string shownImage = escapeForDiag(options.image);
  const std::string shownMountPoint = escapeForDiag(options.mountPoint);

  // Opened as bfsscan opens it: a stream (standard input, a pipe, a
  // compressed image, an archive) is decoded during the scan.
  InputRequest opening;
  if (!parseInputFormat(options.format, &opening.format, &opening.streamFormat)) {
    log.line("bfsmount: unknown image format '" + options.format + "' (see bfsmount --help)");
    return kExitUsage;
  }
  opening.path = options.image;
  opening.keepGoing = true;
  ScanInput input(opening);
  if (const ReadFailure* failure = input.failure()) {
    log.line("bfsmount: cannot open " + shownImage + ": " + failure->description());
    return kExitFailure;
  }
  // Known before a long scan: a mount point that cannot be one.
  struct stat mp;
  const int notDirectory = ::stat(options.mountPoint.c_str(), &mp) != 0 ? errno
                           : S_ISDIR(mp.st_mode)                       ? 0
                                                                       : ENOTDIR;
  if (notDirectory != 0) {
    log.line("bfsmount: cannot mount on " + shownMountPoint + ": " + std::strerror(notDirectory));
    return kExitFailure;
  }

  // The files as extraction would write them, listed without reading them
  // (reads come later, one at a time); nothing is written, so no budget.
  bfsscan::ScanConfig config;
  config.dryRun = true;
  config.listOnly = true;
  config.keepGoing = true;
  config.maxOutput = 0;
  config.deleted = options.deleted;
  config.unallocated = options.unallocated;
  MountTree tree;
  TreeCollector collector(tree, log);
  ImageSequence source;
  ScanRequest scan;
  scan.config = config;
  scan.keepImage = [&](std::unique_ptr<::Image> image) { source.add(std::move(image)); };
  const bfsscan::Outcome outcome = input.scan(scan, collector, nullptr);
  if (outcome.fileSystems == 0) {
    log.line("bfsmount: no file system found in " + shownImage + "; nothing mounted");
    return kExitFailure;
  }

  MountOperations mountOperations(tree, source, log, options.image,
                                  directoryAttributes(options.image));
  // Replies spliced from a raw image; room for the largest request and what
  // comes with it where the system lets a pipe grow that far.
  const int rawFd = source.rawFd();
  SplicePipe pipe(rawFd >= 0 ? 2 * kLargeRequest : 0);
  const unsigned request = largestRequest(pipe);
  Server served{&mountOperations, maxReadOption(options.fuseOptions, request), rawFd, &pipe,
                options.direct};
  std::string fixed = "ro,fsname=bfsmount,subtype=bfs,max_read=" + std::to_string(request);
  std::vector<std::string> arguments = {argv[0], "-o", fixed};
  for (const std::string& o : options.fuseOptions) {
    arguments.push_back("-o");
    arguments.push_back(o);
  }
  std::vector<char*> argp;
  for (std::string& a : arguments) argp.push_back(a.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argp.size()), argp.data());
  const fuse_operations ops = fuseOperations();
  fuse* f = fuse_new(&args, &ops, sizeof ops, &served);
  fuse_opt_free_args(&args);
  if (f == nullptr) {
    log.line("bfsmount: the FUSE options were not accepted (see bfsmount --help)");
    return kExitUsage;
  }
  // Absolute, for unmounting from the background (which works in "/"), and
  // resolved before the mount: afterwards looking at it would wait on us.
  std::string absoluteMountPoint = options.mountPoint;
  if (char* absolute = ::realpath(options.mountPoint.c_str(), nullptr)) {
    absoluteMountPoint = absolute;
    std::free(absolute);
  }
  if (fuse_mount(f, absoluteMountPoint.c_str()) != 0) {
    log.line("bfsmount: cannot mount " + shownImage + " on " + shownMountPoint);
    fuse_destroy(f);
    return kExitFailure;
  }
  // Sequential reads in pieces as large as a request may be (as root).
  widenReadAhead(absoluteMountPoint, kReadAhead / 1024);
  if (!options.foreground && !daemonise()) {
    log.line(std::string("bfsmount: cannot go into the background: ") + std::strerror(errno));
    fuse_unmount(f);
    fuse_destroy(f);
    return kExitFailure;
  }
  fuse_session* session = fuse_get_session(f);
  if (fuse_set_signal_handlers(session) != 0) {
    fuse_unmount(f);
    fuse_destroy(f);
    return kExitFailure;
  }
  fuse_loop(f);  // one request at a time; ends on unmount or SIGINT/SIGTERM/SIGHUP
  fuse_remove_signal_handlers(session);
  fuse_unmount(f);
  fuse_destroy(f);
  return 0;
}
