// Free runs and slack of a data area, from a bitmap of its blocks.
#include "free_space.h"

#include <algorithm>

namespace {

constexpr uint64_t kBlock = 512;

// Word masks of the bits lo to hi (0 to 63) of a word.
uint64_t maskOf(unsigned lo, unsigned hi) {
  const uint64_t upTo = hi == 63 ? ~0ull : (1ull << (hi + 1)) - 1;
  return upTo & ~((1ull << lo) - 1);
}

}  // namespace

SpaceMap::SpaceMap(uint32_t start, uint32_t end)
    : start_(start),
      end_(std::max(start, end)),
      firstBlock_(start / kBlock),
      lastBlock_(end_ / kBlock),
      bits_((lastBlock_ - firstBlock_ + 1 + 63) / 64, 0),
      full_((bits_.size() + 64 * 64 - 1) / (64 * 64), 0),
      any_(full_.size(), 0) {}

void SpaceMap::addExtent(uint32_t first, uint32_t last) {
  const uint64_t from = static_cast<uint64_t>(first) * kBlock;
  const uint64_t to = static_cast<uint64_t>(last) * kBlock + kBlock - 1;
  if (first > last || from < start_ || to > end_) outside_ = true;
  const uint64_t lo = std::max<uint64_t>(first, firstBlock_);
  const uint64_t hi = std::min<uint64_t>(last, lastBlock_);
  if (first > last || lo > hi) return;
  // Word by word; a group of 64 words that is full already is passed over
  // whole, so that extents laid over one another cost little.
  const uint64_t i = lo - firstBlock_, j = hi - firstBlock_;
  for (uint64_t w = i >> 6; w <= (j >> 6);) {
    const uint64_t group = w >> 6;
    const bool groupFull = (full_[group >> 6] >> (group & 63)) & 1;
    if ((w & 63) == 0 && w + 63 <= (j >> 6) && groupFull) {
      overlap_ = true;
      w += 64;
      continue;
    }
    const unsigned a = w == (i >> 6) ? static_cast<unsigned>(i & 63) : 0;
    const unsigned b = w == (j >> 6) ? static_cast<unsigned>(j & 63) : 63;
    const uint64_t mask = maskOf(a, b);
    if (bits_[w] & mask) overlap_ = true;
    bits_[w] |= mask;
    any_[group >> 6] |= 1ull << (group & 63);
    if (bits_[w] == ~0ull) {
      bool all = true;
      const uint64_t g0 = group << 6;
      for (uint64_t k = g0; k < g0 + 64 && all; ++k) all = k < bits_.size() && bits_[k] == ~0ull;
      if (all) full_[group >> 6] |= 1ull << (group & 63);
    }
    ++w;
  }
}

bool SpaceMap::owned(uint32_t first, uint32_t last) const {
  const uint64_t lo = std::max<uint64_t>(first, firstBlock_);
  const uint64_t hi = std::min<uint64_t>(last, lastBlock_);
  if (first > last || lo > hi) return false;
  const uint64_t i = lo - firstBlock_, j = hi - firstBlock_;
  for (uint64_t w = i >> 6; w <= (j >> 6); ++w) {
    // A group of 64 words wholly inside the range is told by its summary bit.
    const uint64_t group = w >> 6;
    if ((w & 63) == 0 && w > (i >> 6) && w + 63 < (j >> 6)) {
      if ((any_[group >> 6] >> (group & 63)) & 1) return true;
      w += 63;
      continue;
    }
    const unsigned a = w == (i >> 6) ? static_cast<unsigned>(i & 63) : 0;
    const unsigned b = w == (j >> 6) ? static_cast<unsigned>(j & 63) : 63;
    if (bits_[w] & maskOf(a, b)) return true;
  }
  return false;
}

void SpaceMap::forEachFreeRun(const std::function<void(const ByteRun&)>& fn) const {
  const uint64_t blocks = lastBlock_ - firstBlock_ + 1;
  uint64_t i = 0;
  while (i < blocks) {
    if (isSet(i)) {
      ++i;
      continue;
    }
    uint64_t j = i;
    while (j < blocks && !isSet(j)) ++j;
    // Blocks i to j - 1 are free; the first and last are cut to the area.
    const uint64_t from = std::max<uint64_t>((firstBlock_ + i) * kBlock, start_);
    const uint64_t to = std::min<uint64_t>((firstBlock_ + j) * kBlock - 1, end_);
    fn({from, to - from + 1});
    i = j;
  }
}

ByteRun slackOf(uint32_t lastByte, uint32_t start, uint32_t end) {
  const uint64_t from = static_cast<uint64_t>(lastByte) + 1;
  const uint64_t blockEnd = static_cast<uint64_t>(lastByte) / kBlock * kBlock + kBlock - 1;
  const uint64_t lo = std::max<uint64_t>(from, start);
  const uint64_t hi = std::min<uint64_t>(blockEnd, end);
  if (lo > hi) return {from, 0};
  return {lo, hi - lo + 1};
}
