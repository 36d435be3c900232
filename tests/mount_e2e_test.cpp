// bfsmount end to end: the real program mounting real images through the
// kernel, where /dev/fuse can be opened and mounting is permitted (the
// tests say so and skip where it is not). Every mount is taken down at the
// end of its test, also when the test fails.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "harness.h"

namespace {

// The device ("0:53") of what is mounted at path, "" when nothing is;
// read without touching the mount.
std::string mountedDevice(const std::string& path) {
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  std::string device;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, dev, root, point;
    fields >> id >> parent >> dev >> root >> point;
    if (point == path) device = dev;  // the last mount there is the visible one
  }
  return device;
}

void waitFor(pid_t pid, int* status) {
  // A hang guard only: far beyond what an unmounted server needs to end.
  for (int i = 0; i < 6000; ++i) {
    if (::waitpid(pid, status, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, status, 0);
}

int exitStatus(int wstatus) {
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

// A mount point and whatever gets mounted there; the destructor takes the
// mount down (aborting its connection first, so that nothing can hang) and
// ends a foreground server.
class Mount {
 public:
  Mount() : point_(dir_ / "mnt") { ::mkdir(point_.c_str(), 0755); }
  ~Mount() { takeDown(); }
  const std::string& point() const { return point_; }
  std::string operator/(const std::string& name) const { return point_ + "/" + name; }
  bool mounted() const { return !mountedDevice(point_).empty(); }
  std::string errors() const { return readFile(dir_ / "err"); }

  // bfsmount in the background: returns when bfsmount has.
  RunResult daemon(const std::vector<std::string>& args, const std::string& cwd) {
    std::vector<std::string> argv = {BFSMOUNT_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(point_);
    return run(argv, cwd);
  }

  // bfsmount -f, standard error to a file; true once the mount is there.
  bool foreground(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    const std::string err = dir_ / "err";
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, 2);
      for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
      std::vector<std::string> argv = {BFSMOUNT_BIN, "-f"};
      argv.insert(argv.end(), args.begin(), args.end());
      argv.push_back(point_);
      std::vector<char*> p;
      for (std::string& a : argv) p.push_back(a.data());
      p.push_back(nullptr);
      ::execv(p[0], p.data());
      ::_exit(127);
    }
    for (int i = 0; i < 6000; ++i) {  // a hang guard, as waitFor
      if (mounted()) return true;
      int status;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  pid_t pid() const { return pid_; }

  // Ends a foreground bfsmount with sig; its exit status.
  int stop(int sig) {
    ::kill(pid_, sig);
    int status = 0;
    waitFor(pid_, &status);
    pid_ = -1;
    return exitStatus(status);
  }

  // The ordinary way out: fusermount3 -u; its exit status.
  int unmount() { return run({"/usr/bin/fusermount3", "-u", point_}, "/").status; }

 private:
  void takeDown() {
    const std::string dev = mountedDevice(point_);
    if (!dev.empty()) {
      std::ofstream("/sys/fs/fuse/connections/" + dev.substr(dev.find(':') + 1) + "/abort") << "1";
      if (::umount2(point_.c_str(), MNT_DETACH) != 0) {
        run({"/usr/bin/fusermount3", "-u", "-z", point_}, "/");
      }
    }
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  TempDir dir_;
  std::string point_;
  pid_t pid_ = -1;
};

// The process running argv, found by its command line; -1 when none.
pid_t processRunning(const std::vector<std::string>& argv) {
  std::string wanted;
  for (const std::string& a : argv) wanted += a + '\0';
  DIR* proc = ::opendir("/proc");
  pid_t found = -1;
  while (dirent* e = proc ? ::readdir(proc) : nullptr) {
    const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
    if (pid > 0 && readFile("/proc/" + std::string(e->d_name) + "/cmdline") == wanted) found = pid;
  }
  if (proc) ::closedir(proc);
  return found;
}

// Whether this machine lets a test mount: /dev/fuse opens and fusermount3
// is there (or we are root, who mounts without it).
bool fuseAvailable(std::string* why) {
  const int fd = ::open("/dev/fuse", O_RDWR);
  if (fd < 0) {
    *why = std::string("/dev/fuse cannot be opened: ") + std::strerror(errno);
    return false;
  }
  ::close(fd);
  if (::geteuid() != 0 && ::access("/usr/bin/fusermount3", X_OK) != 0) {
    *why = "no fusermount3";
    return false;
  }
  return true;
}

#define SKIP_WITHOUT_FUSE()                                          \
  do {                                                               \
    std::string why;                                                 \
    if (!fuseAvailable(&why)) GTEST_SKIP() << "FUSE: " << why;       \
  } while (0)

// A daemon mount that fails only for want of permission skips the test.
#define MOUNT_OR_SKIP(m, args, cwd)                                                  \
  do {                                                                               \
    const RunResult r_ = (m).daemon(args, cwd);                                      \
    if (r_.status == 2 && r_.err.find("cannot mount") != std::string::npos)          \
      GTEST_SKIP() << "mounting is not permitted here: " << r_.err;                  \
    ASSERT_EQ(r_.status, 0) << r_.err;                                               \
    ASSERT_TRUE((m).mounted());                                                      \
  } while (0)

// What bfsscan -k extracts from image, and every file's bytes.
std::map<std::string, std::string> extracted(const std::string& image, const TempDir& work) {
  const std::string out = work / "extracted";
  ::mkdir(out.c_str(), 0755);
  run({BFSSCAN_BIN, "-k", "-C", out, image}, work.path());
  std::map<std::string, std::string> files;
  for (const std::string& p : listTree(out)) files[p] = p.back() == '/' ? "" : readFile(out + "/" + p);
  return files;
}

std::map<std::string, std::string> served(const Mount& m) {
  std::map<std::string, std::string> files;
  for (const std::string& p : listTree(m.point())) files[p] = p.back() == '/' ? "" : readFile(m / p);
  return files;
}

}  // namespace

TEST(Bfsmount, CommandLineAndOpeningFailures) {
  TempDir dir;
  writeImage(dir / "d.img", {{"f", "x"}});
  ::mkdir((dir / "mnt").c_str(), 0755);
  struct Row {
    const char* label;
    std::vector<std::string> args;
    int status;
    std::string out, err;
  };
  const Row rows[] = {
      {"no arguments", {}, 1, "", "bfsmount: an image and a mount point are needed (see bfsmount --help)\n"},
      {"one argument", {"d.img"}, 1, "", "bfsmount: an image and a mount point are needed (see bfsmount --help)\n"},
      {"unknown option", {"-x", "d.img", "mnt"}, 1, "", "bfsmount: unknown option '-x' (see bfsmount --help)\n"},
      {"-o without options", {"d.img", "mnt", "-o"}, 1, "", "bfsmount: option '-o' needs a value (see bfsmount --help)\n"},
      {"unknown format", {"--format=tar.xz", "d.img", "mnt"}, 1, "", "bfsmount: unknown image format 'tar.xz' (see bfsmount --help)\n"},
      {"missing image", {"no.img", "mnt"}, 2, "", "bfsmount: cannot open no.img: No such file or directory\n"},
      {"missing mount point", {"d.img", "nowhere"}, 2, "", "bfsmount: cannot mount on nowhere: No such file or directory\n"},
      {"mount point a file", {"d.img", "d.img"}, 2, "", "bfsmount: cannot mount on d.img: Not a directory\n"},
      {"version", {"--version"}, 0, "bfsmount 1.0.0\n", ""},
  };
  for (const Row& r : rows) {
    std::vector<std::string> argv = {BFSMOUNT_BIN};
    argv.insert(argv.end(), r.args.begin(), r.args.end());
    const RunResult res = run(argv, dir.path());
    EXPECT_EQ(res.status, r.status) << r.label;
    EXPECT_EQ(res.out, r.out) << r.label;
    EXPECT_EQ(res.err, r.err) << r.label;
  }
  const RunResult help = run({BFSMOUNT_BIN, "--help"}, dir.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: bfsmount [OPTIONS] IMAGE MOUNTPOINT\n", 0), 0u) << help.out;
}

// Nested, damaged and container images: the tree under the mount point is
// what bfsscan -k extracts, byte for byte; fusermount3 -u ends it cleanly.
TEST(Bfsmount, ServesWhatExtractionWrites) {
  SKIP_WITHOUT_FUSE();
  TempDir work;
  {
    mkbfs::ImageWriter w(work / "nested.img");
    mkbfs::writeFileSystem(w, 0, {{"outer", std::string(70000, 'o')}, {"zz", pattern(9000, 1)}});
    mkbfs::writeFileSystem(w, 4096, {{"b", pattern(3000, 2)}, {"a", "aa"}});
  }
  {
    // A cut file, a file no entry names, a refused name and a name twice.
    TestImage img(work / "damaged.img");
    img.superblock(0, 512 + 62 * 6, 20 * 512);
    img.inode(0, rootInode(8, 5));
    img.entries(0, 8, {{3, "same"}, {4, "same"}, {5, ".."}, {7, "cut"}, {2, "."}});
    img.inode(0, mkbfs::fileInode(3, 10, 3)).bytes(10 * 512, "one");
    img.inode(0, mkbfs::fileInode(4, 11, 3)).bytes(11 * 512, "two");
    img.inode(0, mkbfs::fileInode(5, 12, 3)).bytes(12 * 512, "dot");
    img.inode(0, mkbfs::fileInode(6, 13, 3)).bytes(13 * 512, "nom");
    img.inode(0, mkbfs::fileInode(7, 14, 3));
    img.length(14 * 512 + 2);
  }
  ASSERT_EQ(run({"/usr/bin/qemu-img", "convert", "-f", "raw", "-O", "qcow2", work / "nested.img",
                 work / "copy.qcow2"}, work.path()).status, 0);
  struct Row {
    const char* label;
    const char* image;
    std::vector<std::string> tree;
  };
  const Row rows[] = {
      {"nested", "nested.img", {"nested-0/", "nested-0/outer", "nested-0/zz", "nested-4096/",
                                "nested-4096/a", "nested-4096/b"}},
      {"damaged", "damaged.img", {"damaged-0/", "damaged-0/.bfsscan-orphans/",
                                  "damaged-0/.bfsscan-orphans/ino-6", "damaged-0/same"}},
      {"qcow2", "copy.qcow2", {"copy-0/", "copy-0/outer", "copy-0/zz", "copy-4096/",
                               "copy-4096/a", "copy-4096/b"}},
  };
  for (const Row& r : rows) {
    Mount m;
    MOUNT_OR_SKIP(m, std::vector<std::string>{r.image}, work.path());
    EXPECT_EQ(listTree(m.point()), r.tree) << r.label;
    if (::geteuid() == 0) {  // large read-ahead, where it may be set
      const std::string dev = mountedDevice(m.point());
      EXPECT_EQ(readFile("/sys/class/bdi/" + dev + "/read_ahead_kb"), "4096\n") << r.label;
    }
    TempDir out;
    EXPECT_EQ(served(m), extracted(work / r.image, out)) << r.label;
    EXPECT_EQ(m.unmount(), 0) << r.label;
    EXPECT_FALSE(m.mounted()) << r.label;
  }
}

TEST(Bfsmount, AttributesFromTheInodes) {
  SKIP_WITHOUT_FUSE();
  TempDir work;
  TestImage img(work / "attr.img");
  const mkbfs::Layout layout = mkbfs::writeFileSystem(img.writer(), 0, {{"f", "hello"}});
  mkbfs::Inode f = mkbfs::fileInode(3, layout.sblocks[0], 5);
  f.mode = 0104640;
  f.uid = 1234;
  f.gid = 567;
  f.atime = 4000000000u;
  f.mtime = 1000;
  f.ctime = 2000;
  img.inode(0, f);
  Mount m;
  MOUNT_OR_SKIP(m, std::vector<std::string>{"attr.img"}, work.path());
  struct stat st;
  ASSERT_EQ(::stat((m / "attr-0/f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode, static_cast<mode_t>(S_IFREG | 04640));
  EXPECT_EQ(st.st_size, 5);
  EXPECT_EQ(st.st_nlink, 1u);
  EXPECT_EQ(st.st_uid, 1234u);
  EXPECT_EQ(st.st_gid, 567u);
  EXPECT_EQ(st.st_atim.tv_sec, 4000000000);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000);
  EXPECT_EQ(st.st_ctim.tv_sec, 2000);
  ASSERT_EQ(::stat((m / "attr-0").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode, static_cast<mode_t>(S_IFDIR | 0555));
  EXPECT_EQ(readFile(m / "attr-0/f"), "hello");
}

TEST(Bfsmount, EveryKindOfWriteIsRefused) {
  SKIP_WITHOUT_FUSE();
  TempDir work;
  writeImage(work / "ro.img", {{"f", "x"}});
  const std::string before = readFile(work / "ro.img");
  Mount m;
  MOUNT_OR_SKIP(m, std::vector<std::string>{"ro.img"}, work.path());
  const std::string f = m / "ro-0/f", d = m / "ro-0";
  struct Row {
    const char* label;
    int rc;
  };
  const Row rows[] = {
      {"open for writing", ::open(f.c_str(), O_WRONLY)},
      {"create", ::open((d + "/new").c_str(), O_WRONLY | O_CREAT, 0644)},
      {"mkdir", ::mkdir((d + "/sub").c_str(), 0755)},
      {"unlink", ::unlink(f.c_str())},
      {"rename", ::rename(f.c_str(), (d + "/g").c_str())},
      {"truncate", ::truncate(f.c_str(), 0)},
      {"chmod", ::chmod(f.c_str(), 0600)},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.rc, -1) << r.label;
  }
  // errno of each, in a second pass (each call above overwrote it)
  errno = 0;
  EXPECT_EQ(::open(f.c_str(), O_RDWR), -1);
  EXPECT_EQ(errno, EROFS);
  errno = 0;
  EXPECT_EQ(::mkdir((d + "/sub").c_str(), 0755), -1);
  EXPECT_EQ(errno, EROFS);
  errno = 0;
  EXPECT_EQ(::unlink(f.c_str()), -1);
  EXPECT_EQ(errno, EROFS);
  EXPECT_EQ(m.unmount(), 0);
  EXPECT_EQ(readFile(work / "ro.img"), before);  // the image is never written
}

// In the foreground: a read that touches a byte the disk cannot give fails
// with EIO and a line on standard error; the rest is served; SIGINT and
// SIGTERM unmount and end with status 0.
TEST(Bfsmount, UnreadableBytesAndSignals) {
  SKIP_WITHOUT_FUSE();
  TempDir work;
  const mkbfs::Layout layout =
      writeImage(work / "bad.img", {{"good", pattern(2000, 4)}, {"bad", pattern(3000, 5)}});
  const uint64_t bad = layout.sblocks[1] * 512ull + 2500;
  for (int sig : {SIGTERM, SIGINT}) {
    Mount m;
    ASSERT_TRUE(m.foreground({work / "bad.img"},
                             {"LD_PRELOAD=" EIO_SHIM, "BFSSCAN_TEST_EIO_AT=" + std::to_string(bad),
                              "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"}))
        << m.errors();
    EXPECT_EQ(readFile(m / "bad-0/good"), pattern(2000, 4));
    const int fd = ::open((m / "bad-0/bad").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char buf[4096];
    errno = 0;
    EXPECT_EQ(::pread(fd, buf, sizeof buf, 0), -1);
    EXPECT_EQ(errno, EIO);
    ::close(fd);
    EXPECT_EQ(m.stop(sig), 0) << sig;
    EXPECT_FALSE(m.mounted());
    const std::string scanLine = "error reading " + work / "bad.img" +
                                 ": Input/output error in the blocks at " +
                                 std::to_string(bad / 512 * 512) + " to " +
                                 std::to_string(bad / 512 * 512) + ", skipped\n";
    const std::string line = "bfsmount: error reading " + work / "bad.img" +
                             ": Input/output error (bad-0/bad, bytes 0 to 2999 of the file, "
                             "image offset " + std::to_string(layout.sblocks[1] * 512ull) + ")\n";
    // One line a failed request; the kernel asks again after a failed
    // read-ahead, page by page.
    std::string err = m.errors();
    ASSERT_EQ(err.substr(0, scanLine.size()), scanLine);
    err.erase(0, scanLine.size());
    ASSERT_FALSE(err.empty());
    for (size_t at = 0; at < err.size(); at += line.size()) EXPECT_EQ(err.substr(at, line.size()), line);
  }
}

// From a raw image the bytes of large reads are spliced, not read into the
// server: counted by the I/O shim, every byte of a 4 MiB file is spliced
// once (nothing asked twice: the page cache keeps it), and the server reads
// nothing more than the scan did. A splice that meets a bad byte leaves the
// request to the ordinary read, which fails it with EIO and says so.
TEST(Bfsmount, LargeReadsOfARawImageAreSpliced) {
  SKIP_WITHOUT_FUSE();
  TempDir work;
  const std::string data = pattern(4 << 20, 9);
  const mkbfs::Layout layout =
      writeImage(work / "big.img", {{"big", data}, {"cut", pattern(100 << 10, 10)}});
  const uint64_t cut = layout.sblocks[1] * 512ull;
  Mount m;
  ASSERT_TRUE(m.foreground({work / "big.img"},
                           {"LD_PRELOAD=" EIO_SHIM, "BFSSCAN_TEST_COUNT_READS=" + work / "read",
                            "BFSSCAN_TEST_COUNT_SPLICED=" + work / "spliced",
                            "BFSSCAN_TEST_EIO_AT=" + std::to_string(cut + 70000),
                            "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"}))
      << m.errors();
  const std::string scanLines = m.errors();
  EXPECT_EQ(readFile(m / "big-0/big"), data);
  EXPECT_EQ(readFile(m / "big-0/big"), data);  // again, from the page cache
  const int fd = ::open((m / "big-0/cut").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::string buf(8192, '\0');
  errno = 0;
  EXPECT_EQ(::pread(fd, buf.data(), buf.size(), 69632), -1);
  EXPECT_EQ(errno, EIO);
  ::close(fd);
  EXPECT_EQ(m.stop(SIGTERM), 0);
  std::string err = m.errors().substr(scanLines.size());
  const std::string prefix = "bfsmount: error reading " + work / "big.img" +
                             ": Input/output error (big-0/cut, bytes ";
  // The request of the two pages read, spliced first; then the kernel asks
  // again, page by page.
  const std::string first = prefix + "69632 to 77823 of the file, image offset " +
                            std::to_string(cut + 69632) + ")\n";
  ASSERT_EQ(err.substr(0, first.size()), first);
  for (size_t at = 0, end; at < err.size(); at = end + 1) {
    end = err.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(err.substr(at, prefix.size()), prefix) << err.substr(at, end - at);
  }
  const uint64_t spliced = std::stoull(readFile(work / "spliced"));
  const uint64_t read = std::stoull(readFile(work / "read"));  // spliced included
  EXPECT_EQ(spliced, data.size());
  // The scan reads the whole image once.
  EXPECT_LT(read - spliced, readFile(work / "big.img").size() + (64u << 10));
}

// With --direct the mount keeps no pages of its own: each read of a file
// is spliced from the image again (counted by the I/O shim), the bytes are
// the same, a private mapping works and a shared one is refused (ENODEV).
TEST(Bfsmount, DirectReadsGoToTheImageEveryTime) {
  SKIP_WITHOUT_FUSE();
  TempDir work;
  const std::string data = pattern(2 << 20, 11);
  writeImage(work / "d.img", {{"big", data}});
  Mount m;
  ASSERT_TRUE(m.foreground({"--direct", work / "d.img"},
                           {"LD_PRELOAD=" EIO_SHIM, "BFSSCAN_TEST_COUNT_SPLICED=" + work / "spliced",
                            "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"}))
      << m.errors();
  const int fd = ::open((m / "d-0/big").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  for (int pass = 0; pass < 2; ++pass) {  // in 1 MiB reads, as cat and dd make them
    std::string got(data.size(), '\0');
    for (size_t at = 0; at < got.size(); at += 1 << 20) {
      ASSERT_EQ(::pread(fd, got.data() + at, 1 << 20, static_cast<off_t>(at)), 1 << 20) << pass;
    }
    EXPECT_EQ(got, data) << pass;
  }
  struct Row {
    const char* label;
    int flags;
    int error;  // 0: the mapping shows the file's bytes
  };
  const Row rows[] = {{"private", MAP_PRIVATE, 0}, {"shared", MAP_SHARED, ENODEV}};
  for (const Row& r : rows) {
    errno = 0;
    void* p = ::mmap(nullptr, data.size(), PROT_READ, r.flags, fd, 0);
    if (r.error != 0) {
      EXPECT_EQ(p, MAP_FAILED) << r.label;
      EXPECT_EQ(errno, r.error) << r.label;
      continue;
    }
    ASSERT_NE(p, MAP_FAILED) << r.label << ": " << std::strerror(errno);
    EXPECT_EQ(std::string(static_cast<const char*>(p), data.size()), data) << r.label;
    ::munmap(p, data.size());
  }
  ::close(fd);
  EXPECT_EQ(m.stop(SIGTERM), 0);
  // Both passes (and the private mapping's pages, read into its own cache).
  EXPECT_GE(std::stoull(readFile(work / "spliced")), 2ull * data.size());
}

// 20,000 files: every one listed, and the server's peak memory well within
// 32 MiB (counted by the kernel: VmHWM).
TEST(Bfsmount, ManyFilesInBoundedMemory) {
  SKIP_WITHOUT_FUSE();
  TempDir work;
  std::vector<mkbfs::File> files;
  for (int i = 0; i < 20000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%05d", i);
    files.push_back({name, std::string(name) + "\n"});
  }
  writeImage(work / "many.img", files);
  Mount m;
  ASSERT_TRUE(m.foreground({work / "many.img"})) << m.errors();
  const std::vector<std::string> tree = listTree(m.point());
  ASSERT_EQ(tree.size(), 20001u);
  EXPECT_EQ(tree[1], "many-0/f00000");
  EXPECT_EQ(readFile(m / "many-0/f12345"), "f12345\n");
#ifndef BFSSCAN_SANITIZED  // the sanitizers' shadow memory would count
  std::ifstream status("/proc/" + std::to_string(m.pid()) + "/status");
  std::string line;
  long peakKiB = -1;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) peakKiB = std::stol(line.substr(6));
  }
  EXPECT_GT(peakKiB, 0);
  EXPECT_LT(peakKiB, 32 * 1024) << "peak resident memory in KiB";
#endif
  EXPECT_EQ(m.stop(SIGTERM), 0);
}

// In the background, with a mount point relative to where it was started
// and FUSE options of its own: SIGTERM to the server unmounts.
TEST(Bfsmount, BackgroundServerUnmountsOnSigterm) {
  SKIP_WITHOUT_FUSE();
  TempDir work;
  writeImage(work / "bg.img", {{"f", pattern(200000, 6)}});
  Mount m;
  const std::string parent = m.point().substr(0, m.point().rfind('/'));
  const std::vector<std::string> argv = {BFSMOUNT_BIN, "-o", "max_read=65536", work / "bg.img",
                                         "mnt"};
  const RunResult r = run(argv, parent);
  if (r.status == 2 && r.err.find("cannot mount") != std::string::npos) {
    GTEST_SKIP() << "mounting is not permitted here: " << r.err;
  }
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(m.mounted());
  EXPECT_EQ(readFile(m / "bg-0/f"), pattern(200000, 6));
  const pid_t server = processRunning(argv);
  ASSERT_GT(server, 0);
  ::kill(server, SIGTERM);
  for (int i = 0; i < 6000 && m.mounted(); ++i) {  // a hang guard
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(m.mounted());
}
