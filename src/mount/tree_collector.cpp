#include "tree_collector.h"

#include <algorithm>

void TreeCollector::directory(const bfsscan::DirectoryEvent& e) {
  fs_ = -1;
  sub_.clear();
  if (tree_.addFileSystem(e.path, e.fs)) {
    fs_ = e.fs;
  } else {
    full();
  }
}

void TreeCollector::file(const bfsscan::FileEvent& e) {
  if (e.status != bfsscan::FileEvent::kListed && e.status != bfsscan::FileEvent::kExtracted) return;
  if (fs_ < 0 || e.fs != fs_) return;
  MountFileInfo info;
  info.name = e.name;
  info.imageOffset = e.imageOffset;
  info.length = e.length;
  info.mode = e.inode.mode;
  info.uid = e.inode.uid;
  info.gid = e.inode.gid;
  info.atime = e.inode.atime;
  info.mtime = e.inode.mtime;
  info.ctime = e.inode.ctime;
  if (!tree_.addFile(info)) full();
}

void TreeCollector::addPiece(int64_t fs, const std::string& path, MountFileInfo info) {
  const size_t slash = path.rfind('/');
  if (fs != fs_ || slash == std::string::npos) return;
  const std::string sub = path.substr(0, slash);
  if (sub != sub_) {
    sub_ = sub;
    if (!tree_.addFileSystem(sub, fs)) {
      full();
      return;
    }
  }
  info.name = path.substr(slash + 1);
  // Only the part inside the image is written, and so served.
  const uint64_t length = static_cast<uint64_t>(std::max<int64_t>(imageLength_, 0));
  info.length = info.imageOffset >= length ? 0 : std::min(info.length, length - info.imageOffset);
  if (!tree_.addFile(info)) full();
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
  addPiece(e.fs, e.path, info);
}

void TreeCollector::unallocated(const bfsscan::UnallocatedEvent& e) {
  if (e.path.empty()) return;
  MountFileInfo info;
  info.imageOffset = e.imageOffset;
  info.length = e.length;
  info.mode = 0100444;
  addPiece(e.fs, e.path, info);
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
