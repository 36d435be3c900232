#include "tree_collector.h"

void TreeCollector::image(const bfsscan::ImageEvent& e) {
  imageStart_ = imagesEnd_;
  imagesEnd_ += static_cast<uint64_t>(e.length > 0 ? e.length : 0);
  fs_ = -1;
}

void TreeCollector::directory(const bfsscan::DirectoryEvent& e) {
  fs_ = -1;
  orphansOf_ = -1;
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
  if (fs_ < 0 || e.fs != fs_ || orphansOf_ >= 0) return;
  if (!tree_.addFile(fileInfo(e.name, imageStart_ + e.imageOffset, e.length, e.inode))) full();
}

// Orphans come after their file system's files, in its directory of
// orphans (the last component of their path, as extraction writes it).
void TreeCollector::orphan(const bfsscan::OrphanEvent& e) {
  if (!listed(e.status) || fs_ < 0 || e.fs != fs_) return;
  const size_t slash = e.path.rfind('/');
  const size_t dirStart = e.path.rfind('/', slash - 1) + 1;
  if (slash == std::string::npos || slash == 0 || dirStart > slash) return;
  if (orphansOf_ != e.fs) {
    if (!tree_.addSubdirectory(e.path.substr(dirStart, slash - dirStart))) {
      full();
      fs_ = -1;
      return;
    }
    orphansOf_ = e.fs;
  }
  if (!tree_.addFile(fileInfo(e.path.substr(slash + 1), imageStart_ + e.imageOffset, e.length, e.inode))) full();
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
