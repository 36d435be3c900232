#include "report.h"

#include <cstdio>
#include <iostream>

#include "progress.h"

namespace {
std::ostream* g_report = nullptr;
std::ostream* g_diag = nullptr;

std::ostream& writeBase(std::ostream& out, uint64_t value, const char* format,
                        const char* prefix) {
  if (value == 0) return out << '0';
  char digits[32];
  std::snprintf(digits, sizeof digits, format,
                static_cast<unsigned long long>(value));
  return out << prefix << digits;
}
}  // namespace

std::ostream& report() {
  clearProgressLine();
  return g_report ? *g_report : std::cout;
}

void setReportStream(std::ostream* out) { g_report = out; }

std::ostream& diag() {
  clearProgressLine();
  return g_diag ? *g_diag : std::cerr;
}

void setDiagStream(std::ostream* out) { g_diag = out; }

std::ostream& operator<<(std::ostream& out, Hex h) {
  return writeBase(out, h.value, "%llx", "0x");
}

std::ostream& operator<<(std::ostream& out, Oct o) {
  return writeBase(out, o.value, "%llo", "0");
}
