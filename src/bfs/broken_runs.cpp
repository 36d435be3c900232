#include "broken_runs.h"

void BrokenRuns::broken(uint64_t index, uint64_t imageOffset, const char* condition,
                        const std::string& about) {
  ++total_;
  if (count_ == 0) {
    first_ = index;
    offset_ = imageOffset;
    condition_ = condition;
    about_ = about;
  }
  last_ = index;
  ++count_;
}

void BrokenRuns::finish(const std::string& tail) {
  if (count_ == 0) return;
  const bool slots = kind_ == kSlots;
  std::string text = "bfsscan: inconsistent file system at " + std::to_string(fs_) + ": ";
  if (count_ == 1) {
    text += (slots ? "inode slot " : "directory entry ") + std::to_string(first_) +
            (about_.empty() ? "" : " " + about_) + " broken: " + condition_;
  } else {
    text += (slots ? "inode slots " : "directory entries ") + std::to_string(first_) + " to " +
            std::to_string(last_) + " broken (" + std::to_string(count_) +
            (slots ? " slots" : " entries") + "; the first" +
            (about_.empty() ? "" : ", " + about_) + ": " + condition_ + ")";
  }
  text += "; left out" + tail;
  count_ = 0;
  emitProblem(sink_, ProblemEvent::kInconsistent, text, fs_,
              slots ? static_cast<int64_t>(first_) : -1, offset_);
}
