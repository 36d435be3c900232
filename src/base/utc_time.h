// Times for the record of a run: seconds since 1970 as ISO 8601 in UTC.
#ifndef BFSSCAN_UTC_TIME_H
#define BFSSCAN_UTC_TIME_H

#include <cstdint>
#include <string>

// "2001-09-09T01:46:40Z"; the epoch for a time the system cannot convert.
std::string utcIsoTime(int64_t seconds);

// The time now, as utcIsoTime gives it.
std::string utcNow();

#endif  // BFSSCAN_UTC_TIME_H
