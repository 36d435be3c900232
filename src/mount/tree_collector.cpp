#include "tree_collector.h"

#include <algorithm>

void TreeCollector::image(const bfsscan::ImageEvent& e) {
  imageStart_ = imagesEnd_;
  imagesEnd_ += static_cast<uint64_t>(e.length > 0 ? e.length : 0);
  fs_ = -1;
}

void TreeCollector::directory(const bfsscan::DirectoryEvent& e) {
  fs_ = -1;
  sub_.clear();
  if (tree_.addFileSystem(e.path, e.fs)) {
    fs_ = e.fs;
  } else {
    full();
  }
}

namespace {

MountFileInfo fileInfo(const std::string& name, uint64_t imageOffset, uint64_t length,
                       const bfsscan::Inode& inode) {
  MountFileInfo info;
  info.name = name;
  info.imageOffset = imageOffset;
  info.length = length;
  info.mode = inode.mode;
  info.uid = inode.uid;
  info.gid = inode.gid;
  info.atime = inode.atime;
  info.mtime = inode.mtime;
  info.ctime = inode.ctime;
  return info;
}

bool listed(bfsscan::FileEvent::Status status) {
  return status == bfsscan::FileEvent::kListed || status == bfsscan::FileEvent::kExtracted;
}

}  // namespace

void TreeCollector::file(const bfsscan::FileEvent& e) {
  if (!listed(e.status)) return;
  if (fs_ < 0 || e.fs != fs_ || !sub_.empty()) return;
  if (!tree_.addFile(fileInfo(e.name, imageStart_ + e.imageOffset, e.length, e.inode))) full();
}

void TreeCollector::addToSubdirectory(int64_t fs, const std::string& path, MountFileInfo info) {
  if (fs_ < 0 || fs != fs_) return;
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  const size_t dirStart = path.rfind('/', slash - 1);
  const std::string sub =
      path.substr(dirStart == std::string::npos ? 0 : dirStart + 1,
                  slash - (dirStart == std::string::npos ? 0 : dirStart + 1));
  if (sub.empty()) return;
  if (sub != sub_) {
    if (!tree_.addSubdirectory(sub)) {
      full();
      fs_ = -1;
      return;
    }
    sub_ = sub;
  }
  info.name = path.substr(slash + 1);
  // Only the part inside the image is written by extraction, and so served.
  const uint64_t imageLength = imagesEnd_ - imageStart_;
  info.length = info.imageOffset >= imageLength
                    ? 0
                    : std::min(info.length, imageLength - info.imageOffset);
  info.imageOffset += imageStart_;
  if (!tree_.addFile(info)) full();
}

// Orphans come after their file system's files, in its directory of
// orphans (the last component of their path, as extraction writes it).
void TreeCollector::orphan(const bfsscan::OrphanEvent& e) {
  if (!listed(e.status)) return;
  addToSubdirectory(e.fs, e.path, fileInfo("", e.imageOffset, e.length, e.inode));
}

void TreeCollector::deleted(const bfsscan::DeletedEvent& e) {
  if (e.path.empty()) return;
  MountFileInfo info;
  info.imageOffset = e.imageOffset;
  info.length = e.length;
  info.mode = e.mode;
  info.uid = e.uid;
  info.gid = e.gid;
  info.atime = e.atime;
  info.mtime = e.mtime;
  info.ctime = e.ctime;
  addToSubdirectory(e.fs, e.path, info);
}

void TreeCollector::unallocated(const bfsscan::UnallocatedEvent& e) {
  if (e.path.empty()) return;
  MountFileInfo info;
  info.imageOffset = e.imageOffset;
  info.length = e.length;
  info.mode = 0100444;
  addToSubdirectory(e.fs, e.path, info);
}

void TreeCollector::problem(const bfsscan::ProblemEvent& e) {
  // The scan's lines name the scanner; here they are the mount's.
  static const std::string kScanner = "bfsscan: ";
  if (e.text.compare(0, kScanner.size(), kScanner) == 0) {
    log_.line("bfsmount: " + e.text.substr(kScanner.size()));
  } else {
    log_.line(e.text);
  }
}

void TreeCollector::end(const bfsscan::EndEvent&) { tree_.finish(); }

void TreeCollector::full() {
  if (full_) return;
  full_ = true;
  log_.line("bfsmount: too many files: the tables are full; further file systems and files "
            "are left out");
}
