#include "offset_runs.h"

#include <algorithm>
#include <iterator>

uint64_t OffsetRuns::skipFrom(uint64_t pos) const {
  const auto& runs = runs_[pos % size_];
  auto it = runs.upper_bound(pos);
  if (it == runs.begin()) return pos;
  --it;
  return it->second > pos ? it->second : pos;
}

uint64_t OffsetRuns::nextStart(uint64_t pos) const {
  const auto& runs = runs_[pos % size_];
  auto it = runs.upper_bound(pos);
  return it == runs.end() ? UINT64_MAX : it->first;
}

void OffsetRuns::add(uint64_t first, uint64_t end) {
  if (end <= first) return;
  auto& runs = runs_[first % size_];
  auto it = runs.upper_bound(first);
  if (it != runs.begin()) {
    auto prev = std::prev(it);
    if (prev->second >= first) {  // joins the run before it
      first = prev->first;
      end = std::max(end, prev->second);
      runs.erase(prev);
      --count_;
    }
  }
  while (it != runs.end() && it->first <= end) {  // swallows the runs it reaches
    end = std::max(end, it->second);
    it = runs.erase(it);
    --count_;
  }
  if (count_ >= kMaxRuns) return;
  runs.emplace(first, end);
  ++count_;
}
