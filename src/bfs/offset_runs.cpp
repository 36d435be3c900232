#include "offset_runs.h"

#include <algorithm>
#include <iterator>

uint64_t OffsetRuns::skipFrom(uint64_t pos) const {
  if (runs_.empty()) return pos;
  const auto& runs = runs_[pos % size_];
  auto it = runs.upper_bound(pos);
  if (it == runs.begin()) return pos;
  --it;
  return it->second > pos ? it->second : pos;
}

uint64_t OffsetRuns::nextStart(uint64_t pos) const {
  if (runs_.empty()) return UINT64_MAX;
  const auto& runs = runs_[pos % size_];
  auto it = runs.upper_bound(pos);
  return it == runs.end() ? UINT64_MAX : it->first;
}

void OffsetRuns::erase(std::map<uint64_t, uint64_t>& runs,
                       std::map<uint64_t, uint64_t>::iterator it) {
  byLength_.erase({it->second - it->first, it->first});
  runs.erase(it);
}

void OffsetRuns::add(uint64_t first, uint64_t end) {
  if (end <= first) return;
  if (runs_.empty()) runs_.resize(size_);
  auto& runs = runs_[first % size_];
  auto it = runs.upper_bound(first);
  if (it != runs.begin()) {
    auto prev = std::prev(it);
    if (prev->second >= first) {  // joins the run before it
      first = prev->first;
      end = std::max(end, prev->second);
      erase(runs, prev);
    }
  }
  while (it != runs.end() && it->first <= end) {  // swallows the runs it reaches
    end = std::max(end, it->second);
    auto next = std::next(it);
    erase(runs, it);
    it = next;
  }
  if (byLength_.size() >= kMaxRuns) {
    // Full: the shortest range gives way, unless the new one is shorter.
    const auto shortest = byLength_.begin();
    if (shortest->first >= end - first) return;
    auto& owner = runs_[shortest->second % size_];
    erase(owner, owner.find(shortest->second));
  }
  runs.emplace(first, end);
  byLength_.insert({end - first, first});
}
