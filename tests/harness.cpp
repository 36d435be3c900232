#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

void removeTree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    ::chmod(path.c_str(), 0700);
    if (DIR* d = ::opendir(path.c_str())) {
      while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") removeTree(path + "/" + name);
      }
      ::closedir(d);
    }
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

void walk(const std::string& root, const std::string& rel, std::vector<std::string>& out) {
  DIR* d = ::opendir((root + "/" + rel).c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = rel.empty() ? name : rel + "/" + name;
    struct stat st;
    ::lstat((root + "/" + path).c_str(), &st);
    if (S_ISDIR(st.st_mode)) {
      out.push_back(path + "/");
      walk(root, path, out);
    } else {
      out.push_back(path);
    }
  }
  ::closedir(d);
}

std::string hex(uint64_t v) {
  if (v == 0) return "0";
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace

TempDir::TempDir() {
  char tmpl[] = "/tmp/bfsscan-test-XXXXXX";
  const char* made = ::mkdtemp(tmpl);
  if (!made) std::abort();
  path_ = made;
}

TempDir::~TempDir() { removeTree(path_); }

RunResult run(const std::vector<std::string>& argv, const std::string& cwd,
              const RunOptions& options) {
  TempDir io;
  const std::string outPath = io / "stdout", errPath = io / "stderr", readsPath = io / "reads";
  std::vector<std::string> env;
  if (options.countReads) {
    env = {"LD_PRELOAD=" EIO_SHIM, "BFSSCAN_TEST_COUNT_READS=" + readsPath,
           "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
  }
  env.insert(env.end(), options.env.begin(), options.env.end());
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    int fds[2];
    if (options.brokenPipeStdout && ::pipe(fds) == 0) {
      ::close(fds[0]);
      ::dup2(fds[1], 1);
    }
    ::dup2(err, 2);
#ifndef BFSSCAN_SANITIZED
    if (options.memoryBytes) {
      const rlimit mem = {options.memoryBytes, options.memoryBytes};
      ::setrlimit(RLIMIT_AS, &mem);
    }
#endif
    if (options.fileSizeBytes) {
      const rlimit fsize = {options.fileSizeBytes, options.fileSizeBytes};
      ::setrlimit(RLIMIT_FSIZE, &fsize);
    }
    // The program must cope with the dispositions a shell gives it.
    ::signal(SIGXFSZ, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    const rlimit cpu = {options.cpuSeconds, options.cpuSeconds};
    ::setrlimit(RLIMIT_CPU, &cpu);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  RunResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  if (options.countReads) result.bytesRead = std::stoull("0" + readFile(readsPath));
  return result;
}

RunResult scan(const std::string& image, const std::string& cwd, const RunOptions& options) {
  return run({BFSSCAN_BIN, image}, cwd, options);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listTree(const std::string& dir) {
  std::vector<std::string> out;
  walk(dir, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

std::string acceptedLines(int64_t s, uint32_t start, uint32_t end) {
  const uint32_t nr = (start - 388) / 62;
  return "hit magic at " + hex(s) + " (" + std::to_string(s) + ")\n" +
         "Start: " + hex(start) + " (" + hex(s + start) + ")\n" +
         "End: " + hex(end) + " (" + hex(s + end) + ")\n" +
         "size of inode: 0x3e (62)\n"
         "position of inode 0: 0x184\n"
         "position of inode 2: 0x200\n"
         "position of inode 3: 0x23e\n" +
         std::to_string(nr) + "\n" + "number of inodes: " + std::to_string(nr) + "\n" +
         "offset after last inode: " + hex(start) + "\n";
}

std::string superblockLines(int64_t s, uint32_t start, uint32_t end) {
  return acceptedLines(s, start, end) +
         "Reading superblock...\n"
         "size of superblock: 0x200\n"
         "Magic: 0x1badface\n";
}

TestImage& TestImage::superblock(uint64_t base, uint32_t start, uint32_t end) {
  writer_.write(base, mkbfs::superblock(start, end));
  return *this;
}

TestImage& TestImage::inode(uint64_t base, const mkbfs::Inode& inode) {
  return inodeAt(base, inode.ino, inode);
}

TestImage& TestImage::inodeAt(uint64_t base, uint32_t slot, const mkbfs::Inode& inode) {
  writer_.write(base + mkbfs::slotOffset(slot), mkbfs::inodeSlot(inode));
  return *this;
}

TestImage& TestImage::entries(uint64_t base, uint32_t block,
                              const std::vector<mkbfs::DirEntry>& e) {
  writer_.write(base + block * 512ull, mkbfs::dirEntries(e));
  return *this;
}

TestImage& TestImage::bytes(uint64_t pos, const std::string& data) {
  writer_.write(pos, data);
  return *this;
}

TestImage& TestImage::length(uint64_t len) {
  writer_.setLength(len);
  return *this;
}

mkbfs::Layout writeImage(const std::string& path, const std::vector<mkbfs::File>& files) {
  mkbfs::ImageWriter w(path);
  return mkbfs::writeFileSystem(w, 0, files);
}

mkbfs::Inode rootInode(uint32_t block, uint32_t entries) {
  mkbfs::Inode root = mkbfs::fileInode(2, block, 16ull * entries);
  root.type = 2;
  root.mode = 040755;
  root.nlink = 2;
  return root;
}

std::string pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

std::string tool(const std::string& name) {
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(path, dir, ':')) {
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

std::string body(const std::string& report) {
  std::istringstream lines(report);
  std::string line, out;
  while (std::getline(lines, line)) {
    if (line.rfind("scanning ", 0) != 0 && line.rfind("end of ", 0) != 0) out += line + "\n";
  }
  return out;
}
