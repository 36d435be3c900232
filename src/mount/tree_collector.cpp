#include "tree_collector.h"

void TreeCollector::image(const bfsscan::ImageEvent& e) {
  imageStart_ = imagesEnd_;
  imagesEnd_ += static_cast<uint64_t>(e.length > 0 ? e.length : 0);
  fs_ = -1;
}

void TreeCollector::directory(const bfsscan::DirectoryEvent& e) {
  fs_ = -1;
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
  info.imageOffset = imageStart_ + e.imageOffset;
  info.length = e.length;
  info.mode = e.inode.mode;
  info.uid = e.inode.uid;
  info.gid = e.inode.gid;
  info.atime = e.inode.atime;
  info.mtime = e.inode.mtime;
  info.ctime = e.inode.ctime;
  if (!tree_.addFile(info)) full();
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
