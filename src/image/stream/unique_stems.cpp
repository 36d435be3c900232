// Handing out the stems of an archive's members, each once.
#include "unique_stems.h"

std::string UniqueStems::take(const std::string& stem) {
  unsigned& next = next_[stem];
  std::string candidate = stem;
  if (next == 0) {
    next = 2;
    ++tries_;
    if (taken_.insert(candidate).second) return candidate;
  }
  for (;;) {
    candidate = stem + "." + std::to_string(next++);
    ++tries_;
    if (taken_.insert(candidate).second) return candidate;
  }
}
