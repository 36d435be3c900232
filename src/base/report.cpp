#include "report.h"

#include <cstdio>

namespace {
std::ostream& writeBase(std::ostream& out, uint64_t value, const char* format,
                        const char* prefix) {
  if (value == 0) return out << '0';
  char digits[32];
  std::snprintf(digits, sizeof digits, format,
                static_cast<unsigned long long>(value));
  return out << prefix << digits;
}
}  // namespace

std::ostream& operator<<(std::ostream& out, Hex h) {
  return writeBase(out, h.value, "%llx", "0x");
}

std::ostream& operator<<(std::ostream& out, Oct o) {
  return writeBase(out, o.value, "%llo", "0");
}
