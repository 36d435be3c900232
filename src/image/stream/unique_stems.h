// The stems of the extraction directories of an archive's members: each
// member gets its own, its name's stem or, when another member has it
// already, the stem with the next free number (d, d.2, d.3...). Each stem
// keeps the number to try next, so that n members of one name cost n
// steps, not n squared.
#ifndef BFSSCAN_UNIQUE_STEMS_H
#define BFSSCAN_UNIQUE_STEMS_H

#include <cstdint>
#include <map>
#include <set>
#include <string>

class UniqueStems {
 public:
  // stem, or stem.N with the least N >= 2 not handed out yet.
  std::string take(const std::string& stem);
  // The names tried so far, taken or not: a measure of the work done.
  uint64_t tries() const { return tries_; }

 private:
  std::set<std::string> taken_;
  std::map<std::string, unsigned> next_;  // the number to try next, per stem
  uint64_t tries_ = 0;
};

#endif  // BFSSCAN_UNIQUE_STEMS_H
