// Extraction into memory: an OutputTree that keeps, in order, every
// directory opened and every file committed with its bytes, so that what an
// extraction wrote can be looked at afterwards without touching a disk
// (the fuzzing targets check that each file holds the image's bytes at its
// extent and that no name leaves its directory). Nothing exists in it
// beforehand: no directory was there already and no name is the image.
#ifndef BFSSCAN_MEMORY_TREE_H
#define BFSSCAN_MEMORY_TREE_H

#include <memory>
#include <string>
#include <vector>

#include "output_tree.h"

class MemoryTree : public OutputTree {
 public:
  // A file given its final name.
  struct Commit {
    std::string directory;
    std::string name;
    std::string bytes;
  };

  std::unique_ptr<OutputDirectory> directory(const std::string& name, bool& existed) override;
  // Files are counted in blocks of 512 bytes, the smallest a file system has.
  uint64_t blockSize() const override { return 512; }

  // The names directory() was asked for, in order.
  const std::vector<std::string>& directories() const { return directories_; }
  // Every file committed, in order; a name written again appears again.
  const std::vector<Commit>& commits() const { return commits_; }

 private:
  std::vector<std::string> directories_;
  std::vector<Commit> commits_;
};

#endif  // BFSSCAN_MEMORY_TREE_H
