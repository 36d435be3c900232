// Finding the file that holds a nested file system.
#include "file_holders.h"

#include <algorithm>

void FileHolders::add(const FileHolder& holder) {
  if (holder.length > 0 && files_.size() < kMaxFiles) files_.push_back(holder);
}

const FileHolder* FileHolders::holderOf(int64_t base) {
  const uint64_t at = static_cast<uint64_t>(base);
  files_.erase(std::remove_if(files_.begin(), files_.end(),
                              [at](const FileHolder& f) {
                                return f.imageOffset + f.length <= at;
                              }),
               files_.end());
  const FileHolder* best = nullptr;
  for (const FileHolder& f : files_) {
    if (at >= f.imageOffset && at - f.imageOffset < f.length && f.fs != base &&
        (best == nullptr || f.length < best->length)) {
      best = &f;
    }
  }
  return best;
}
