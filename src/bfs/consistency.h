// A violated consistency condition: broken file-system data that stops the
// whole run. Checks throw InconsistentFileSystem; only main catches it (a
// test or the fuzzer may too), so every resource unwinds by scope.
#ifndef BFSSCAN_CONSISTENCY_H
#define BFSSCAN_CONSISTENCY_H

#include <cstdint>
#include <stdexcept>
#include <string>

class InconsistentFileSystem : public std::runtime_error {
 public:
  explicit InconsistentFileSystem(const char* condition)
      : std::runtime_error(condition), condition_(condition) {}
  const std::string& condition() const { return condition_; }
  // Image offset of the file system being checked; -1 until the scanner
  // fills it in on the way out.
  int64_t base() const { return base_; }
  void setBase(int64_t base) {
    if (base_ < 0) base_ = base;
  }

 private:
  std::string condition_;
  int64_t base_ = -1;
};

// Throws InconsistentFileSystem with the condition's text unless ok.
inline void require(bool ok, const char* condition) {
  if (!ok) throw InconsistentFileSystem(condition);
}

#endif  // BFSSCAN_CONSISTENCY_H
