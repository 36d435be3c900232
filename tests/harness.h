// Test support: temporary directories, running the real programs with
// limits, and reading back what they wrote.
#ifndef BFSSCAN_TESTS_HARNESS_H
#define BFSSCAN_TESTS_HARNESS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image_builder.h"

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal number
  uint64_t bytesRead = 0;  // with RunOptions::countReads: bytes the program read
};

// A CPU-time limit that only guards against a hang: the work it bounds is
// measured otherwise (bytes read), and a loaded machine or the sanitizers
// stay far inside it: more than 20 times the longest run of the suite (5 s
// of CPU plain, several times that under the sanitizers).
#ifdef BFSSCAN_SANITIZED
constexpr unsigned kHangGuardSeconds = 1000;
#else
constexpr unsigned kHangGuardSeconds = 120;
#endif

struct RunOptions {
  uint64_t memoryBytes = 0;  // address-space limit; 0 for none
  unsigned cpuSeconds = kHangGuardSeconds;
  uint64_t fileSizeBytes = 0;  // largest file the child may write; 0 for no limit
  std::vector<std::string> env;  // NAME=VALUE added to the child's environment
  bool brokenPipeStdout = false;  // standard output a pipe whose reader is gone
  // Count the bytes the program reads (pread, copy_file_range) through the
  // preloaded I/O shim: bounded work measured without a clock.
  bool countReads = false;
};


inline RunOptions limits(uint64_t memoryBytes, unsigned cpuSeconds, uint64_t fileSizeBytes = 0) {
  RunOptions options;
  options.memoryBytes = memoryBytes;
  options.cpuSeconds = cpuSeconds;
  options.fileSizeBytes = fileSizeBytes;
  return options;
}

// A fresh directory, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

RunResult run(const std::vector<std::string>& argv, const std::string& cwd,
              const RunOptions& options = RunOptions());
// Runs bfsscan on image, in cwd.
RunResult scan(const std::string& image, const std::string& cwd,
               const RunOptions& options = RunOptions());

std::string readFile(const std::string& path);
bool exists(const std::string& path);
// Every path below dir, relative to it, sorted; directories end in "/".
std::vector<std::string> listTree(const std::string& dir);

// The ten detection lines of an accepted superblock at s.
std::string acceptedLines(int64_t s, uint32_t start, uint32_t end);
// The lines from "hit magic" through "Magic: " of a file system at s.
std::string superblockLines(int64_t s, uint32_t start, uint32_t end);

// A test image under construction, written to a file.
class TestImage {
 public:
  explicit TestImage(const std::string& path) : path_(path), writer_(path) {}
  const std::string& path() const { return path_; }
  mkbfs::ImageWriter& writer() { return writer_; }
  TestImage& superblock(uint64_t base, uint32_t start, uint32_t end);
  TestImage& inode(uint64_t base, const mkbfs::Inode& inode);
  TestImage& inodeAt(uint64_t base, uint32_t slot, const mkbfs::Inode& inode);
  TestImage& entries(uint64_t base, uint32_t block, const std::vector<mkbfs::DirEntry>& e);
  TestImage& bytes(uint64_t pos, const std::string& data);
  TestImage& length(uint64_t len);

 private:
  std::string path_;
  mkbfs::ImageWriter writer_;
};

// Writes a new image at path holding one consistent file system with files.
mkbfs::Layout writeImage(const std::string& path, const std::vector<mkbfs::File>& files);

// The root directory inode of a directory of n entries at block.
mkbfs::Inode rootInode(uint32_t block, uint32_t entries);
// A string of n bytes that differs from any shifted copy of itself.
std::string pattern(size_t n, unsigned seed = 1);

// The path of a program on PATH; empty when it is not installed.
std::string tool(const std::string& name);

// Every line of a report but those naming the image ("scanning F", "end of F").
std::string body(const std::string& report);

#endif  // BFSSCAN_TESTS_HARNESS_H
