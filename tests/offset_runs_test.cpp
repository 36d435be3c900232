// The memo of runs of unused records: a position at either end of a run,
// inside it, or just past it, and runs of another alignment kept apart.
#include <gtest/gtest.h>

#include "offset_runs.h"

namespace {

TEST(OffsetRunsTest, BothEndsOfARun) {
  OffsetRuns runs(62);
  runs.add(620, 1240);   // slots 10 to 19 of alignment 0
  runs.add(1861, 2481);  // alignment 1
  const struct {
    const char* label;
    uint64_t pos;
    uint64_t skipTo;
    uint64_t next;
  } rows[] = {
      {"before the run", 558, 558, 620},
      {"the run's first record", 620, 1240, UINT64_MAX},
      {"inside", 682, 1240, UINT64_MAX},
      {"the run's last record", 1178, 1240, UINT64_MAX},
      {"just past the run", 1240, 1240, UINT64_MAX},
      {"another alignment: its own run", 1861, 2481, UINT64_MAX},
      {"another alignment, before its run", 1799, 1799, 1861},
      {"a third alignment: no run", 622, 622, UINT64_MAX},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(runs.skipFrom(row.pos), row.skipTo) << row.label;
    EXPECT_EQ(runs.nextStart(row.pos), row.next) << row.label;
  }
  runs.add(1240, 1302);  // touches the end: one run
  EXPECT_EQ(runs.skipFrom(620), 1302u);
  runs.add(558, 620);  // touches the start
  EXPECT_EQ(runs.skipFrom(558), 1302u);
  EXPECT_EQ(runs.nextStart(0), 558u);
}

}  // namespace
