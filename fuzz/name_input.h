// How the fuzzing targets of the name writers read their input: the first
// byte gives the length of a directory name (0 to 31 bytes) that follows,
// the rest is a file name; an empty input is two empty names. Also a file
// in memory that the writers of results files can open by a path.
#ifndef BFSSCAN_FUZZ_NAME_INPUT_H
#define BFSSCAN_FUZZ_NAME_INPUT_H

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"

struct NameInput {
  std::string dir;
  std::string name;
};

inline NameInput splitNames(const uint8_t* data, size_t size) {
  NameInput in;
  if (size == 0) return in;
  const size_t dirLength = std::min<size_t>(data[0] % 32, size - 1);
  const char* text = reinterpret_cast<const char*>(data + 1);
  in.dir.assign(text, dirLength);
  in.name.assign(text + dirLength, size - 1 - dirLength);
  return in;
}

// A file that lives in memory, removed when the scope ends; path() opens it.
class ResultsInMemory {
 public:
  ResultsInMemory() : fd_(::memfd_create("fuzz-results", MFD_CLOEXEC)) { FUZZ_CHECK(fd_ >= 0); }
  ~ResultsInMemory() { ::close(fd_); }
  ResultsInMemory(const ResultsInMemory&) = delete;
  ResultsInMemory& operator=(const ResultsInMemory&) = delete;
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
  std::string contents() const {
    struct stat st;
    FUZZ_CHECK(::fstat(fd_, &st) == 0);
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    FUZZ_CHECK(::pread(fd_, &bytes[0], bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
    return bytes;
  }

 private:
  int fd_;
};

// The bytes that two lower-case hex digits each give.
inline std::string fromHex(const std::string& hex) {
  FUZZ_CHECK(hex.size() % 2 == 0);
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = hexDigit(hex[i]), lo = hexDigit(hex[i + 1]);
    FUZZ_CHECK(hi >= 0 && lo >= 0);
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

// Lines of text, each ended by a newline.
inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
    lines.push_back(text.substr(from, nl - from));
  }
  FUZZ_CHECK(from == text.size());
  return lines;
}

inline bool printableAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

#endif  // BFSSCAN_FUZZ_NAME_INPUT_H
