// The listing of --list: one tab-separated line per file (fs, inode, mode,
// uid, gid, length, mtime, atime, ctime, path) after a line naming each
// file system, written as the list-only scan finds them. A deleted
// candidate (--deleted) has slot=N for its inode; an orphan (-k) its path in
// the directory of orphans. Lines about the file
// systems start with '#'.
#ifndef BFSSCAN_LIST_SINK_H
#define BFSSCAN_LIST_SINK_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "console.h"
#include "scan_sink.h"

// The type and permissions as ls shows them: "-rw-r--r--", "drwxr-xr-x"
// ('?' for a type that is neither regular nor a directory).
std::string lsMode(uint32_t type, uint32_t mode);

class ListSink : public ScanSink {
 public:
  explicit ListSink(Console& console) : console_(console) {}
  void start(const std::string& path) override;
  void fileSystem(const FileSystemEvent& e) override;
  void file(const FileEvent& e) override;
  void deleted(const DeletedEvent& e) override;
  void orphan(const bfsscan::OrphanEvent& e) override;
  void end(const EndEvent& e) override;
  bool lostOutput() const override { return lost_; }

 private:
  void row(int64_t fs, const std::string& inode, uint32_t type, const bfsscan::Inode& a,
           uint64_t length, const std::string& path);
  void flush();

  Console& console_;
  bool header_ = false;
  bool lost_ = false;
  // The file systems that may hold the next one: base and last byte.
  std::vector<std::pair<int64_t, uint64_t>> open_;
};

#endif  // BFSSCAN_LIST_SINK_H
