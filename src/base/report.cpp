#include "report.h"

#include <charconv>

namespace {
// The digits in lower case after the prefix; zero is written bare.
std::ostream& writeBase(std::ostream& out, uint64_t value, int base, const char* prefix) {
  if (value == 0) return out << '0';
  char digits[64];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value, base);
  out << prefix;
  return out.write(digits, end.ptr - digits);
}
}  // namespace

std::ostream& operator<<(std::ostream& out, Hex h) { return writeBase(out, h.value, 16, "0x"); }

std::ostream& operator<<(std::ostream& out, Oct o) { return writeBase(out, o.value, 8, "0"); }
