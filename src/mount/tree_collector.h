// The sink that builds a mount's tree from a scan: every file system's
// extraction directory and every file the dry run listed, as extraction
// would write it; the scan's problems go to the log, as the mount's. With
// --deleted and --unallocated, the pieces extraction would write into a file
// system's .bfsscan-deleted and .bfsscan-unallocated are entries of the tree
// named "STEM-OFFSET/.bfsscan-deleted" and so on (mount_operations.cpp
// serves them as subdirectories).
#ifndef BFSSCAN_TREE_COLLECTOR_H
#define BFSSCAN_TREE_COLLECTOR_H

#include "bfsscan/events.h"
#include "line_log.h"
#include "mount_tree.h"

class TreeCollector : public bfsscan::Sink {
 public:
  TreeCollector(MountTree& tree, LineLog& log) : tree_(tree), log_(log) {}
  void image(const bfsscan::ImageEvent& e) override { imageLength_ = e.length; }
  void directory(const bfsscan::DirectoryEvent& e) override;
  void file(const bfsscan::FileEvent& e) override;
  void problem(const bfsscan::ProblemEvent& e) override;
  // The pieces --deleted and --unallocated list, in their subdirectories.
  void deleted(const bfsscan::DeletedEvent& e) override;
  void unallocated(const bfsscan::UnallocatedEvent& e) override;
  void end(const bfsscan::EndEvent& e) override;

 private:
  void full();
  // Adds the piece listed at path (DIR/SUB/NAME) to the subdirectory DIR/SUB.
  void addPiece(int64_t fs, const std::string& path, MountFileInfo info);

  MountTree& tree_;
  LineLog& log_;
  int64_t fs_ = -1;  // base of the file system being collected, -1 when none
  bool full_ = false;
  std::string sub_;  // the subdirectory pieces are being added to
  int64_t imageLength_ = 0;
};

#endif  // BFSSCAN_TREE_COLLECTOR_H
