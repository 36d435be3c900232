// What the fuzzing targets share: a check that ends the run with the
// condition's text when a property does not hold (libFuzzer keeps the input
// as a crash, the replay driver reports it), a stream that discards what is
// written to it, and the reversal of the \xHH escapes of names.
#ifndef BFSSCAN_FUZZ_CHECK_H
#define BFSSCAN_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>

[[noreturn]] inline void fuzzCheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, condition);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : fuzzCheckFailed(#condition, __FILE__, __LINE__))

// A stream that accepts everything and keeps nothing (and never fails).
class NullStream : public std::ostream {
 public:
  NullStream() : std::ostream(&buffer_) {}

 private:
  struct Buffer : std::streambuf {
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  };
  Buffer buffer_;
};

inline int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // upper case is not written
}

// Reverses \xHH (lower-case hex) and, when withShortForms, \\ \n \r \t.
// Checks that nothing else follows a backslash.
inline std::string unescapeChecked(const std::string& text, bool withShortForms) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    FUZZ_CHECK(i + 1 < text.size());
    const char kind = text[++i];
    if (withShortForms && (kind == '\\' || kind == 'n' || kind == 'r' || kind == 't')) {
      out += kind == '\\' ? '\\' : kind == 'n' ? '\n' : kind == 'r' ? '\r' : '\t';
      continue;
    }
    FUZZ_CHECK(kind == 'x' && i + 2 < text.size());
    const int hi = hexDigit(text[i + 1]), lo = hexDigit(text[i + 2]);
    FUZZ_CHECK(hi >= 0 && lo >= 0);
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

#endif  // BFSSCAN_FUZZ_CHECK_H
