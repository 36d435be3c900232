// Sizes and durations written for people: bytes in B, KiB, MiB, GiB or TiB
// (powers of 1024), times in seconds, minutes or hours.
#ifndef BFSSCAN_HUMAN_UNITS_H
#define BFSSCAN_HUMAN_UNITS_H

#include <cstdint>
#include <string>

// "512 B", "1.5 KiB", "12.3 MiB", "123 MiB": one decimal below 100 of a unit.
std::string formatBytes(uint64_t bytes);

// "0.4 s", "42 s", "3 min 05 s", "2 h 03 min".
std::string formatDuration(double seconds);

#endif  // BFSSCAN_HUMAN_UNITS_H
