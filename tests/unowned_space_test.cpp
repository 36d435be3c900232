// The free runs, slack and deleted traces of a file system, computed from
// decoded fields: table rows of data areas, extents and raw records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "deleted.h"
#include "free_space.h"
#include "image_builder.h"

namespace {

struct Extent {
  uint32_t first, last;
};

std::string freeRuns(const SpaceMap& map) {
  std::string out;
  map.forEachFreeRun([&](const ByteRun& r) {
    out += std::to_string(r.offset) + "+" + std::to_string(r.length) + " ";
  });
  return out;
}

TEST(SpaceMap, FreeRunsAreTheComplementOfTheExtents) {
  struct Case {
    const char* label;
    uint32_t start, end;
    std::vector<Extent> extents;
    std::string runs;
    bool overlap, outside;
  } cases[] = {
      {"nothing in use", 698, 2047, {}, "698+1350 ", false, false},
      {"a file in the middle", 698, 3071, {{3, 3}}, "698+838 2048+1024 ", false, false},
      {"files fill the area from its first whole block", 1024, 2559, {{2, 2}, {3, 4}},
       "", false, false},
      {"an area ending inside a block", 1024, 2100, {{2, 2}}, "1536+565 ", false, false},
      {"overlapping extents", 1024, 3071, {{2, 4}, {3, 3}}, "2560+512 ", true, false},
      {"an extent before the area", 1024, 2047, {{1, 2}}, "1536+512 ", false, true},
      {"an extent past the area", 1024, 2047, {{3, 9}}, "1024+512 ", false, true},
      {"a block number whose product passes 2^32", 1024, 2047, {{0x800000, 0x800001}},
       "1024+1024 ", false, true},
      {"first after last", 1024, 2047, {{3, 2}}, "1024+1024 ", false, true},
  };
  for (const Case& c : cases) {
    SpaceMap map(c.start, c.end);
    for (const Extent& e : c.extents) map.addExtent(e.first, e.last);
    EXPECT_EQ(freeRuns(map), c.runs) << c.label;
    EXPECT_EQ(map.overlap(), c.overlap) << c.label;
    EXPECT_EQ(map.outside(), c.outside) << c.label;
  }
}

TEST(SpaceMap, ExtentsLaidOverOneAnotherOverWholeGroupsAreOverlaps) {
  // 64 * 64 blocks make a group that is passed over once full.
  SpaceMap map(512, 512 * 20000 - 1);
  map.addExtent(1, 19999);
  EXPECT_FALSE(map.overlap());
  EXPECT_EQ(freeRuns(map), "");
  map.addExtent(5000, 15000);
  EXPECT_TRUE(map.overlap());
  EXPECT_TRUE(map.owned(12000, 12000));

  // Ranges over whole groups of 64 * 64 blocks, free or holding one block in use.
  SpaceMap sparse(512, 512 * 40000 - 1);
  sparse.addExtent(20000, 20000);
  EXPECT_TRUE(sparse.owned(1, 39999));
  EXPECT_FALSE(sparse.owned(1, 19999));
  EXPECT_FALSE(sparse.owned(20001, 39999));

  // A group only partly inside the range is told by its blocks, not by its
  // summary: one in use just before the range, another just after it.
  SpaceMap edges(512, 512 * 40000 - 1);
  edges.addExtent(4097, 4097);    // the first block of a group
  edges.addExtent(12288, 12288);  // the last block of another
  EXPECT_FALSE(edges.owned(4098, 12287));
  EXPECT_TRUE(edges.owned(4097, 12287));
  EXPECT_TRUE(edges.owned(4098, 12288));
}

TEST(SpaceMap, OwnedTellsWhetherAnyBlockIsInUse) {
  SpaceMap map(1024, 8191);
  map.addExtent(5, 6);
  struct Case {
    uint32_t first, last;
    bool owned;
  } cases[] = {{2, 4, false}, {4, 5, true}, {6, 9, true}, {7, 15, false}, {16, 99, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(map.owned(c.first, c.last), c.owned) << c.first << "-" << c.last;
  }
}

TEST(Slack, RunsFromTheByteAfterTheLastToTheEndOfItsBlock) {
  struct Case {
    const char* label;
    uint32_t lastByte, start, end;
    uint64_t offset, length;
  } cases[] = {
      {"a file of 11 bytes in block 3", 1546, 698, 4095, 1547, 501},
      {"a file that fills its block", 2047, 698, 4095, 2048, 0},
      {"cut at the end of the area", 1546, 698, 1599, 1547, 53},
  };
  for (const Case& c : cases) {
    const ByteRun r = slackOf(c.lastByte, c.start, c.end);
    EXPECT_EQ(r.length, c.length) << c.label;
    if (c.length != 0) {
      EXPECT_EQ(r.offset, c.offset) << c.label;
    }
  }
}

std::string slot(uint16_t ino, uint32_t sblock, uint32_t eblock, uint32_t eoffset,
                 uint32_t type = 1) {
  mkbfs::Inode inode;
  inode.ino = ino;
  inode.sblock = sblock;
  inode.eblock = eblock;
  inode.eoffset = eoffset;
  inode.type = type;
  inode.mtime = 1000000002;
  return mkbfs::inodeSlot(inode);
}

TEST(Deleted, CandidatesAreUnusedSlotsDescribingARegularFileInTheArea) {
  struct Case {
    const char* label;
    std::string raw;
    bool candidate;
  } cases[] = {
      {"unused, regular, inside", slot(0, 3, 4, 2100), true},
      {"in use", slot(3, 3, 4, 2100), false},
      {"a directory", slot(0, 3, 4, 2100, 2), false},
      {"no type", slot(0, 3, 4, 2100, 0), false},
      {"first block after last", slot(0, 5, 4, 2600), false},
      {"last byte before the first block", slot(0, 3, 4, 1000), false},
      {"last byte past the last block", slot(0, 3, 4, 2560), false},
      {"starts in the inode table", slot(0, 1, 4, 2100), false},
      {"ends past the area", slot(0, 3, 8, 4100), false},
      {"all zero", std::string(62, '\0'), false},
  };
  for (const Case& c : cases) {
    const auto d = deletedCandidate(c.raw.data(), 7, 1024, 4095);
    ASSERT_EQ(d.has_value(), c.candidate) << c.label;
    if (!d) continue;
    EXPECT_EQ(d->slot, 7u);
    EXPECT_EQ(d->first(), 1536u);
    EXPECT_EQ(d->length(), 565u);
    EXPECT_EQ(d->mode, 0100644u);
    EXPECT_EQ(d->mtime, 1000000002u);
  }
}

TEST(Deleted, NamesAreFreeEntriesWithNameBytes) {
  struct Case {
    const char* label;
    std::string raw;
    bool named;
    std::string name;
  } cases[] = {
      {"a free entry with a name", mkbfs::dirEntries({{0, "gone"}}), true, "gone"},
      {"a name of 14 bytes", mkbfs::dirEntries({{0, "fourteen-bytes"}}), true, "fourteen-bytes"},
      {"a name after a NUL", std::string(3, '\0') + "x" + std::string(12, '\0'), true,
       std::string("\0x", 2)},
      {"an entry in use", mkbfs::dirEntries({{3, "live"}}), false, ""},
      {"all zero", std::string(16, '\0'), false, ""},
  };
  for (const Case& c : cases) {
    const auto name = deletedName(c.raw.data());
    ASSERT_EQ(name.has_value(), c.named) << c.label;
    if (name) {
      EXPECT_EQ(*name, c.name) << c.label;
    }
  }
}

}  // namespace
