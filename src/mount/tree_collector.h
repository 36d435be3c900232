// The sink that builds a mount's tree from a scan: every file system's
// extraction directory and every file the dry run listed, as extraction
// would write it; the scan's problems go to the log, as the mount's. The
// images of a stream (an archive's members) lie one after another: a
// file's offset is its image's start plus its offset in that image. The
// orphans, and with --deleted and --unallocated the pieces extraction would
// write into .bfsscan-deleted and .bfsscan-unallocated, are files of
// subdirectories of their file system's directory.
#ifndef BFSSCAN_TREE_COLLECTOR_H
#define BFSSCAN_TREE_COLLECTOR_H

#include <string>

#include "bfsscan/events.h"
#include "line_log.h"
#include "mount_tree.h"

class TreeCollector : public bfsscan::Sink {
 public:
  TreeCollector(MountTree& tree, LineLog& log) : tree_(tree), log_(log) {}
  void image(const bfsscan::ImageEvent& e) override;
  void directory(const bfsscan::DirectoryEvent& e) override;
  void file(const bfsscan::FileEvent& e) override;
  void problem(const bfsscan::ProblemEvent& e) override;
  void end(const bfsscan::EndEvent& e) override;
  void orphan(const bfsscan::OrphanEvent& e) override;
  // The pieces --deleted and --unallocated list, in their subdirectories.
  void deleted(const bfsscan::DeletedEvent& e) override;
  void unallocated(const bfsscan::UnallocatedEvent& e) override;

 private:
  void full();
  // Adds the file listed at path (DIR/SUB/NAME, as extraction writes it) to
  // the subdirectory SUB of the file system fs; its offset is in the image.
  void addToSubdirectory(int64_t fs, const std::string& path, MountFileInfo info);

  MountTree& tree_;
  LineLog& log_;
  uint64_t imageStart_ = 0;  // of the image being scanned, in the range of all
  uint64_t imagesEnd_ = 0;   // where the next image starts
  int64_t fs_ = -1;  // base of the file system being collected, -1 when none
  std::string sub_;  // the subdirectory of it files are being added to ("": none)
  bool full_ = false;
};

#endif  // BFSSCAN_TREE_COLLECTOR_H
