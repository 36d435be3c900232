// Seconds since 1970 as ISO 8601 in UTC.
#include "utc_time.h"

#include <ctime>

std::string utcIsoTime(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  if (gmtime_r(&t, &tm) == nullptr) return "1970-01-01T00:00:00Z";
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string utcNow() { return utcIsoTime(static_cast<int64_t>(std::time(nullptr))); }
