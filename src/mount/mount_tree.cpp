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
  lastTop_ = fileSystems_.size() - 1;
  refused_ = false;
  return true;
}

bool MountTree::addSubdirectory(const std::string& name) {
  if (fileSystems_.empty() || refused_) return false;
  const size_t parent = lastTop_;
  const int64_t base = fileSystems_[parent].base;
  if (!addFileSystem(name, base)) return false;
  fileSystems_.back().parent = static_cast<uint32_t>(parent);
  lastTop_ = parent;
  return true;
}

size_t MountTree::subdirectoryCount(size_t fs) const {
  size_t n = 0;
  while (fs + 1 + n < fileSystems_.size() && fileSystems_[fs + 1 + n].parent == fs) ++n;
  return n;
}

std::optional<size_t> MountTree::findSubdirectory(size_t fs, std::string_view name) const {
  for (size_t i = fs + 1; i < fs + 1 + subdirectoryCount(fs); ++i) {
    if (fileSystemName(i) == name) return i;
  }
  return std::nullopt;
}

std::string MountTree::directoryPath(size_t fs) const {
  std::string path(fileSystemName(fs));
  if (parentOf(fs) != kTop) path = std::string(fileSystemName(parentOf(fs))) + "/" + path;
  return path;
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
  byName_.clear();
  for (size_t i = 0; i < fileSystems_.size(); ++i) {
    if (fileSystems_[i].parent == kTop) byName_.push_back(static_cast<uint32_t>(i));
  }
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
