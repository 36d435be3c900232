// The directories and files of an extraction kept in memory.
#include "memory_tree.h"

#include <algorithm>
#include <utility>

namespace {

class MemoryFile : public OutputFile {
 public:
  MemoryFile(std::vector<MemoryTree::Commit>& log, const std::string& directory,
             const std::string& name)
      : log_(log), commit_{directory, name, std::string()} {}
  int fd() const override { return -1; }
  void write(const char* data, size_t n) override { commit_.bytes.append(data, n); }
  std::string applyAttributes(const FileAttributes&) override { return ""; }
  void commit() override { log_.push_back(std::move(commit_)); }

 private:
  std::vector<MemoryTree::Commit>& log_;
  MemoryTree::Commit commit_;
};

class MemoryDirectory : public OutputDirectory {
 public:
  MemoryDirectory(std::vector<MemoryTree::Commit>& log, const std::string& name)
      : log_(log), name_(name) {}
  bool identify(const std::string&, dev_t*, ino_t*) const override { return false; }
  bool identifySelf(dev_t*, ino_t*) const override { return false; }
  std::unique_ptr<OutputFile> create(const std::string& name, const std::string&) override {
    return std::make_unique<MemoryFile>(log_, name_, name);
  }

 private:
  std::vector<MemoryTree::Commit>& log_;
  std::string name_;
};

}  // namespace

std::unique_ptr<OutputDirectory> MemoryTree::directory(const std::string& name, bool& existed) {
  existed = std::find(directories_.begin(), directories_.end(), name) != directories_.end();
  directories_.push_back(name);
  return std::make_unique<MemoryDirectory>(commits_, name);
}
