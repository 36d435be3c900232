#include "human_units.h"

#include <cmath>
#include <cstdio>

std::string formatBytes(uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    return text;
  }
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = bytes / 1024.0;
  unsigned unit = 0;
  // Move up a unit where the rounded figure would read 1024.
  while (value >= 1023.5 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024.0;
    ++unit;
  }
  std::snprintf(text, sizeof text, value < 99.95 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
  return text;
}

std::string formatDuration(double seconds) {
  if (!(seconds > 0)) seconds = 0;  // also catches NaN
  if (seconds > 3.6e9) seconds = 3.6e9;  // a million hours: keeps the rounding in range
  char text[48];
  if (seconds < 9.95) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else if (seconds < 59.5) {
    std::snprintf(text, sizeof text, "%.0f s", seconds);
  } else if (seconds < 3599.5) {
    const long long s = std::llround(seconds);
    std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
  } else {
    const long long m = std::llround(seconds / 60);
    std::snprintf(text, sizeof text, "%lld h %02lld min", m / 60, m % 60);
  }
  return text;
}
