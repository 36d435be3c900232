// Fuzzing target: the ranges of known records (OffsetRuns), checked against
// a naive model that marks every position of every alignment. The input
// picks the record size (1, 16 or 62) and where the positions lie (near 0,
// 2^32 or the top of the 64-bit range), then is read as operations of five
// bytes: add, skipFrom or nextStart, with two positions within 1 KiB.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "offset_runs.h"

namespace {

constexpr uint64_t kSpan = 1024;
constexpr size_t kMaxOperations = 256;  // far below the number of runs kept

class Model {
 public:
  Model(uint32_t size, uint64_t base)
      : size_(size), base_(base), marked_(size, std::vector<bool>(kSpan + 1)) {}
  void add(uint64_t first, uint64_t end) {
    std::vector<bool>& m = marked_[first % size_];
    for (uint64_t p = first; p < end; ++p) m[p - base_] = true;
  }
  uint64_t skipFrom(uint64_t pos) const {
    const std::vector<bool>& m = marked_[pos % size_];
    uint64_t x = pos - base_;
    if (!m[x]) return pos;
    while (m[x]) ++x;
    return base_ + x;
  }
  uint64_t nextStart(uint64_t pos) const {
    const std::vector<bool>& m = marked_[pos % size_];
    for (uint64_t x = pos - base_ + 1; x < kSpan; ++x) {
      if (m[x] && !m[x - 1]) return base_ + x;
    }
    return UINT64_MAX;
  }

 private:
  uint32_t size_;
  uint64_t base_;
  std::vector<std::vector<bool>> marked_;  // by alignment, by position - base
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const uint32_t kSizes[] = {1, 16, 62};
  static const uint64_t kBases[] = {0, (1ull << 32) - kSpan / 2, UINT64_MAX - 2 * kSpan};
  const uint32_t recordSize = kSizes[data[0] % 3];
  const uint64_t base = kBases[data[1] % 3];
  OffsetRuns runs(recordSize);
  Model model(recordSize, base);
  size_t operations = 0;
  for (size_t i = 2; i + 5 <= size && operations < kMaxOperations; i += 5, ++operations) {
    const uint64_t a = base + ((data[i + 1] << 8 | data[i + 2]) % kSpan);
    const uint64_t b = base + ((data[i + 3] << 8 | data[i + 4]) % kSpan);
    switch (data[i] % 3) {
      case 0:
        runs.add(a, b);
        model.add(a, b);
        break;
      case 1:
        FUZZ_CHECK(runs.skipFrom(a) == model.skipFrom(a));
        break;
      default:
        FUZZ_CHECK(runs.nextStart(a) == model.nextStart(a));
    }
  }
  return 0;
}
