#include "mount_tree.h"

#include <algorithm>

bool MountTree::addFileSystem(const std::string& name, int64_t base) {
  closeFileSystem();
  if (full()) {
    refused_ = true;
    return false;
  }
  FileSystem fs;
  fs.base = base;
  fs.nameOffset = pooled(name);
  fs.nameLength = static_cast<uint32_t>(name.size());
  fs.firstFile = static_cast<uint32_t>(files_.size());
  fileSystems_.push_back(fs);
  refused_ = false;
  return true;
}

bool MountTree::full() const { return files_.size() + fileSystems_.size() >= maxEntries_; }

bool MountTree::addFile(const MountFileInfo& info) {
  if (fileSystems_.empty() || refused_ || full()) return false;
  MountFile f;
  f.imageOffset = info.imageOffset;
  f.length = info.length;
  f.nameOffset = pooled(info.name);
  f.nameLength = static_cast<uint32_t>(info.name.size());
  f.mode = info.mode;
  f.uid = info.uid;
  f.gid = info.gid;
  f.atime = info.atime;
  f.mtime = info.mtime;
  f.ctime = info.ctime;
  files_.push_back(f);
  ++fileSystems_.back().fileCount;
  return true;
}

// Sorts the last file system's files by name; of equal names the one added
// last stays.
void MountTree::closeFileSystem() {
  if (fileSystems_.empty()) return;
  FileSystem& fs = fileSystems_.back();
  const auto first = files_.begin() + fs.firstFile;
  auto byName = [&](const MountFile& a, const MountFile& b) {
    return pooledName(a.nameOffset, a.nameLength) < pooledName(b.nameOffset, b.nameLength);
  };
  std::stable_sort(first, files_.end(), byName);
  auto out = first;
  for (auto it = first; it != files_.end(); ++it) {
    auto next = it + 1;
    if (next != files_.end() && !byName(*it, *next)) continue;  // a later one replaces it
    *out++ = *it;
  }
  files_.erase(out, files_.end());
  fs.fileCount = static_cast<uint32_t>(files_.size() - fs.firstFile);
}

void MountTree::finish() {
  closeFileSystem();
  files_.shrink_to_fit();
  byName_.resize(fileSystems_.size());
  for (size_t i = 0; i < byName_.size(); ++i) byName_[i] = static_cast<uint32_t>(i);
  std::sort(byName_.begin(), byName_.end(), [&](uint32_t a, uint32_t b) {
    return fileSystemName(a) < fileSystemName(b);
  });
}

uint32_t MountTree::pooled(std::string_view name) {
  const uint32_t offset = static_cast<uint32_t>(names_.size());
  names_.append(name);
  return offset;
}

std::string_view MountTree::pooledName(uint32_t offset, uint32_t length) const {
  return std::string_view(names_).substr(offset, length);
}

std::string_view MountTree::fileSystemName(size_t fs) const {
  return pooledName(fileSystems_[fs].nameOffset, fileSystems_[fs].nameLength);
}

std::string_view MountTree::fileName(size_t index) const {
  return pooledName(files_[index].nameOffset, files_[index].nameLength);
}

size_t MountTree::fileSystemOf(size_t index) const {
  const auto it = std::upper_bound(
      fileSystems_.begin(), fileSystems_.end(), index,
      [](size_t i, const FileSystem& fs) { return i < fs.firstFile; });
  return static_cast<size_t>(it - fileSystems_.begin()) - 1;
}

std::optional<size_t> MountTree::findFileSystem(std::string_view name) const {
  const auto it = std::lower_bound(byName_.begin(), byName_.end(), name,
                                   [&](uint32_t fs, std::string_view n) {
                                     return fileSystemName(fs) < n;
                                   });
  if (it == byName_.end() || fileSystemName(*it) != name) return std::nullopt;
  return *it;
}

std::optional<size_t> MountTree::findFile(size_t fs, std::string_view name) const {
  size_t lo = firstFile(fs), hi = lo + fileCount(fs);
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (fileName(mid) < name) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo < firstFile(fs) + fileCount(fs) && fileName(lo) == name) return lo;
  return std::nullopt;
}
