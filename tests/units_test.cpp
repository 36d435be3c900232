// The texts written for people on a terminal: sizes, durations, the
// progress line and the closing summary.
#include <gtest/gtest.h>

#include "human_units.h"
#include "progress.h"
#include "terminal_summary.h"

namespace {

TEST(UnitsTest, Sizes) {
  const struct {
    const char* label;
    uint64_t bytes;
    const char* text;
  } rows[] = {
      {"zero", 0, "0 B"},
      {"bytes", 1023, "1023 B"},
      {"one KiB", 1024, "1.0 KiB"},
      {"one decimal below 100", 1536, "1.5 KiB"},
      {"no decimal from 100", 150 * 1024 + 300, "150 KiB"},
      {"rounds up into the next unit", 1024 * 1024 - 1, "1.0 MiB"},
      {"MiB", 12900000, "12.3 MiB"},
      {"GiB", 4294967296, "4.0 GiB"},
      {"largest", UINT64_MAX, "16.0 EiB"},
  };
  for (const auto& row : rows) EXPECT_EQ(formatBytes(row.bytes), row.text) << row.label;
}

TEST(UnitsTest, Durations) {
  const struct {
    const char* label;
    double seconds;
    const char* text;
  } rows[] = {
      {"nothing", 0, "0.0 s"},
      {"negative", -3, "0.0 s"},
      {"tenths below 10 s", 0.44, "0.4 s"},
      {"whole seconds", 42.4, "42 s"},
      {"minutes", 185, "3 min 05 s"},
      {"hours", 7380, "2 h 03 min"},
  };
  for (const auto& row : rows) EXPECT_EQ(formatDuration(row.seconds), row.text) << row.label;
}

TEST(UnitsTest, ProgressLine) {
  const struct {
    const char* label;
    int64_t pos, total;
    double seconds;
    unsigned found;
    const char* text;
  } rows[] = {
      {"at the start", 0, 2048, 0, 0, "bfsscan: 0 B of 2.0 KiB (0%), 0 file systems"},
      {"no rate in the first second", 1 << 20, 4 << 20, 0.5, 1,
       "bfsscan: 1.0 MiB of 4.0 MiB (25%), 1 file system"},
      {"rate and time left", int64_t{3} << 30, int64_t{4} << 30, 30, 3,
       "bfsscan: 3.0 GiB of 4.0 GiB (75%), 102 MiB/s, 10 s left, 3 file systems"},
      {"past the total", 5000, 4096, 2, 0, "bfsscan: 4.0 KiB of 4.0 KiB (100%), 2.0 KiB/s, 0.0 s left, 0 file systems"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(formatProgress(row.pos, row.total, row.seconds, row.found), row.text) << row.label;
  }
}

TEST(UnitsTest, SummaryLine) {
  EndEvent missing;
  missing.status = 2;
  missing.fileSystems = 2;
  missing.filesExtracted = 5;
  missing.filesSkipped = 1;
  missing.bytesWritten = 12900000;
  EndEvent one;
  one.reachedEnd = true;
  one.fileSystems = 1;
  one.filesExtracted = 1;
  one.bytesWritten = 29;
  EndEvent inconsistent;
  inconsistent.status = 3;
  inconsistent.filesLost = 4;
  EndEvent interrupted;
  interrupted.status = 130;
  EndEvent dry = one;
  dry.dryRun = true;
  const struct {
    const char* label;
    const EndEvent& end;
    double seconds;
    const char* text;
  } rows[] = {
      {"something missing", missing, 0.44,
       "bfsscan: 2 file systems, 5 files extracted, 1 skipped, 0 lost, 12.3 MiB written in 0.4 s; "
       "status 2: something is missing (see above)"},
      {"complete, singular", one, 75,
       "bfsscan: 1 file system, 1 file extracted, 0 skipped, 0 lost, 29 B written in 1 min 15 s; "
       "status 0: complete"},
      {"inconsistent", inconsistent, 3,
       "bfsscan: 0 file systems, 0 files extracted, 0 skipped, 4 lost, 0 B written in 3.0 s; "
       "status 3: a file system is inconsistent (see above)"},
      {"interrupted", interrupted, 12,
       "bfsscan: 0 file systems, 0 files extracted, 0 skipped, 0 lost, 0 B written in 12 s; "
       "status 130: interrupted"},
      {"dry run", dry, 0.5,
       "bfsscan: 1 file system, 1 file listed, 0 skipped, 0 lost, 29 B to write (dry run) in "
       "0.5 s; status 0: complete"},
  };
  for (const auto& row : rows) EXPECT_EQ(formatSummary(row.end, row.seconds), row.text) << row.label;
}

}  // namespace
