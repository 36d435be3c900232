// Where extracted files go: the side effects of extraction behind a small
// interface, so that a dry run is a swap. The real tree writes each file
// under a temporary name in its extraction directory and renames it over
// the final name only when it is complete, so no existing inode is ever
// written into (a hard or symbolic link at the final name is replaced, not
// written through) and a cut-short file never carries a final name.
#ifndef BFSSCAN_OUTPUT_TREE_H
#define BFSSCAN_OUTPUT_TREE_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "output_failure.h"
#include "stop.h"

// Inode attributes to give a file (--preserve).
struct FileAttributes {
  uint32_t mode, uid, gid, atime, mtime;
};

// A file being written; removed unless committed.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // The descriptor for a kernel copy, or -1 when bytes go through write().
  virtual int fd() const = 0;
  virtual void write(const char* data, size_t n) = 0;
  // Applies mode, owner and times; returns the error text, empty on success.
  virtual std::string applyAttributes(const FileAttributes& attrs) = 0;
  // Closes the file and gives it its final name.
  virtual void commit() = 0;
  // Whether applyAttributes made it a set-user-ID file owned by root.
  virtual bool setUserIdRoot() const { return false; }
};

// One extraction directory.
class OutputDirectory {
 public:
  virtual ~OutputDirectory() = default;
  // The device and inode number of what is at name (a link not followed);
  // false when nothing is there.
  virtual bool identify(const std::string& name, dev_t* dev, ino_t* ino) const = 0;
  // The device and inode number of the directory itself; false when it is
  // not there (a dry run).
  virtual bool identifySelf(dev_t* dev, ino_t* ino) const = 0;
  // Starts the file name; display is its path as the report shows it.
  virtual std::unique_ptr<OutputFile> create(const std::string& name,
                                             const std::string& display) = 0;
};

class OutputTree {
 public:
  virtual ~OutputTree() = default;
  // Opens the directory name (made when missing); existed tells whether it
  // was there already. Throws OutputFailure.
  virtual std::unique_ptr<OutputDirectory> directory(const std::string& name, bool& existed) = 0;
  // The block size of the file system the directories are made in.
  virtual uint64_t blockSize() const = 0;
};

// Files written below root ("" for the working directory); root itself is
// made when missing (its parent must exist); a write cut short by a signal
// ends with Interrupted when stop asks. Throws OutputFailure.
std::unique_ptr<OutputTree> diskTree(const std::string& root, const StopToken* stop = nullptr);
// Nothing written: what exists below root is looked at only.
std::unique_ptr<OutputTree> dryRunTree(const std::string& root);

// `"PATH"` in the report's quoting, escaped for standard error.
std::string quotedForDiag(const std::string& path);

#endif  // BFSSCAN_OUTPUT_TREE_H
