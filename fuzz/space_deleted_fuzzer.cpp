// Fuzzing target: the free space of a data area and the deleted candidates
// and names decoded from raw records. The input gives a data area (its
// start, 4 bytes, and its length less one, 22 bits of 3 bytes), a 62-byte inode slot,
// a 16-byte directory entry, then up to 64 extents of in-use inodes (first block and
// last block, each as a signed 16-bit step: the first from the area's first
// block, the last from the first, in 32-bit arithmetic). Checked against a
// naive model that marks each block of the area: the free runs and the
// blocks owned cover the area exactly once, the runs are maximal and in
// order, owned() answers as the marks do, and the overlap and outside flags
// are right; deletedCandidate() and deletedName() follow their rules, read
// from the record's fields here.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "deleted.h"
#include "free_space.h"
#include "fuzz_check.h"

namespace {

uint32_t be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void checkCandidate(const uint8_t* slot, uint32_t start, uint32_t end) {
  const auto got = deletedCandidate(reinterpret_cast<const char*>(slot), 7, start, end);
  const uint32_t first = be32(slot + 2), last = be32(slot + 6), lastByte = be32(slot + 10);
  // The conditions of an inode in use, with 32-bit products as on disk.
  const bool extent = first <= last && first * 512u <= lastByte && lastByte < last * 512u + 512u;
  const bool inside = uint64_t{first} * 512 >= start && uint64_t{last} * 512 <= end &&
                      lastByte <= end;
  const bool expected = slot[0] == 0 && slot[1] == 0 && extent && inside && be32(slot + 14) == 1;
  FUZZ_CHECK(got.has_value() == expected);
  if (!got) return;
  FUZZ_CHECK(got->slot == 7 && got->firstBlock == first && got->lastBlock == last &&
             got->lastByte == lastByte);
  FUZZ_CHECK(got->mode == be32(slot + 18) && got->uid == be32(slot + 22) &&
             got->gid == be32(slot + 26) && got->nlink == be32(slot + 30) &&
             got->atime == be32(slot + 34) && got->mtime == be32(slot + 38) &&
             got->ctime == be32(slot + 42));
  FUZZ_CHECK(got->length() == uint64_t{lastByte} - uint64_t{first} * 512 + 1);
}

void checkName(const uint8_t* entry) {
  const auto got = deletedName(reinterpret_cast<const char*>(entry));
  std::string name(reinterpret_cast<const char*>(entry + 2), 14);
  while (!name.empty() && name.back() == '\0') name.pop_back();
  const bool expected = entry[0] == 0 && entry[1] == 0 && !name.empty();
  FUZZ_CHECK(got.has_value() == expected);
  if (got) FUZZ_CHECK(*got == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 7 + 62 + 16) return 0;
  const uint32_t start = be32(data);
  const uint32_t span = (uint32_t{data[4]} << 16 | uint32_t{data[5]} << 8 | data[6]) & 0x3fffff;
  const uint32_t end = start > UINT32_MAX - span ? UINT32_MAX : start + span;
  checkCandidate(data + 7, start, end);
  checkName(data + 7 + 62);
  if (start >= end) return 0;

  const uint64_t firstBlock = start / 512, lastBlock = end / 512;
  std::vector<bool> marked(lastBlock - firstBlock + 1, false);
  bool overlap = false, outside = false;
  SpaceMap map(start, end);
  std::vector<std::pair<uint32_t, uint32_t>> extents;
  for (size_t at = 7 + 62 + 16; at + 4 <= size && extents.size() < 64; at += 4) {
    const auto step = [&](size_t k) {
      return static_cast<uint32_t>(static_cast<int16_t>(data[k] | data[k + 1] << 8));
    };
    const uint32_t first = static_cast<uint32_t>(firstBlock) + step(at);
    const uint32_t last = first + step(at + 2);
    extents.push_back({first, last});
    map.addExtent(first, last);
    if (first > last || uint64_t{first} * 512 < start || uint64_t{last} * 512 + 511 > end) {
      outside = true;
    }
    for (uint64_t b = std::max<uint64_t>(first, firstBlock);
         first <= last && b <= std::min<uint64_t>(last, lastBlock); ++b) {
      if (marked[b - firstBlock]) overlap = true;
      marked[b - firstBlock] = true;
    }
  }
  FUZZ_CHECK(map.overlap() == overlap);
  FUZZ_CHECK(map.outside() == outside);

  // The free runs the marks give, cut to the area.
  std::vector<ByteRun> expected;
  for (uint64_t b = firstBlock; b <= lastBlock; ++b) {
    if (marked[b - firstBlock]) continue;
    const uint64_t from = std::max<uint64_t>(b * 512, start);
    const uint64_t to = std::min<uint64_t>(b * 512 + 511, end);
    if (!expected.empty() && expected.back().offset + expected.back().length == from) {
      expected.back().length += to - from + 1;
    } else {
      expected.push_back({from, to - from + 1});
    }
  }
  std::vector<ByteRun> got;
  map.forEachFreeRun([&](const ByteRun& r) { got.push_back(r); });
  FUZZ_CHECK(got.size() == expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    FUZZ_CHECK(got[i].offset == expected[i].offset && got[i].length == expected[i].length);
  }

  // owned() over ranges between the extents' ends.
  for (size_t i = 0; i + 1 < extents.size() && i < 8; ++i) {
    const uint32_t a = std::min(extents[i].first, extents[i + 1].second);
    const uint32_t b = std::max(extents[i].first, extents[i + 1].second);
    for (const auto& range : {std::make_pair(a, b), std::make_pair(a + 1, b - 1)}) {
      bool any = false;
      for (uint64_t k = std::max<uint64_t>(range.first, firstBlock);
           range.first <= range.second && k <= std::min<uint64_t>(range.second, lastBlock) && !any;
           ++k) {
        any = marked[k - firstBlock];
      }
      FUZZ_CHECK(map.owned(range.first, range.second) == any);
    }
  }
  return 0;
}
