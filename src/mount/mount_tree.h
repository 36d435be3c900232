// The tree a mount serves: one directory per file system found in an
// image, named as its extraction directory, holding the files extraction
// would write there. Compact tables (a name pool and fixed-size entries),
// built once while the scan runs and read-only afterwards.
#ifndef BFSSCAN_MOUNT_TREE_H
#define BFSSCAN_MOUNT_TREE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A file: where its bytes lie in the image and the attributes of its inode.
struct MountFile {
  uint64_t imageOffset = 0;
  uint64_t length = 0;
  uint32_t nameOffset = 0;  // into the name pool
  uint32_t nameLength = 0;
  uint32_t mode = 0;  // the inode's mode, as stored
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint32_t atime = 0;
  uint32_t mtime = 0;
  uint32_t ctime = 0;
};

// The attributes of a file as the scan reports them, for adding it.
struct MountFileInfo {
  std::string name;
  uint64_t imageOffset = 0;
  uint64_t length = 0;
  uint32_t mode = 0, uid = 0, gid = 0, atime = 0, mtime = 0, ctime = 0;
};

class MountTree {
 public:
  // At most maxEntries file systems and files together are kept (a hostile
  // image may hold more); the tables then stay bounded (48 bytes a file).
  explicit MountTree(size_t maxEntries = kDefaultMaxEntries) : maxEntries_(maxEntries) {}
  static constexpr size_t kDefaultMaxEntries = size_t{1} << 22;

  // Building, in scan order: a file system, then its files. A later file
  // of the same name in one file system replaces the earlier one.
  // False when the tables are full: the file system and its files are left out.
  bool addFileSystem(const std::string& name, int64_t base);
  // False when the file was left out: no file system taken, or the tables are full.
  bool addFile(const MountFileInfo& info);
  // A directory inside the last file system taken (the orphans of a
  // salvaged file system), holding the files added after it. False when
  // it was left out.
  bool addSubdirectory(const std::string& name);
  // Ends the building; the lookups work from here on.
  void finish();

  size_t fileSystemCount() const { return fileSystems_.size(); }
  std::string_view fileSystemName(size_t fs) const;
  int64_t fileSystemBase(size_t fs) const { return fileSystems_[fs].base; }
  // The files of a file system are [firstFile(fs), firstFile(fs) + fileCount(fs)),
  // sorted by name.
  size_t firstFile(size_t fs) const { return fileSystems_[fs].firstFile; }
  size_t fileCount(size_t fs) const { return fileSystems_[fs].fileCount; }
  size_t totalFiles() const { return files_.size(); }
  const MountFile& file(size_t index) const { return files_[index]; }
  std::string_view fileName(size_t index) const;
  // The file system of a file.
  size_t fileSystemOf(size_t index) const;

  std::optional<size_t> findFileSystem(std::string_view name) const;

  // Subdirectories are kept among the file systems, each right after the
  // one that holds it; kTop marks a file system of the top level.
  static constexpr uint32_t kTop = UINT32_MAX;
  uint32_t parentOf(size_t fs) const { return fileSystems_[fs].parent; }
  size_t topLevelCount() const { return byName_.size(); }
  // The subdirectories of fs are [fs + 1, fs + 1 + subdirectoryCount(fs)).
  size_t subdirectoryCount(size_t fs) const;
  std::optional<size_t> findSubdirectory(size_t fs, std::string_view name) const;
  // The path of a directory below the mount point ("disk-0/.bfsscan-orphans").
  std::string directoryPath(size_t fs) const;
  std::optional<size_t> findFile(size_t fs, std::string_view name) const;

 private:
  struct FileSystem {
    int64_t base = 0;
    uint32_t nameOffset = 0;
    uint32_t nameLength = 0;
    uint32_t firstFile = 0;
    uint32_t fileCount = 0;
    uint32_t parent = kTop;
  };
  uint32_t pooled(std::string_view name);
  std::string_view pooledName(uint32_t offset, uint32_t length) const;
  void closeFileSystem();
  bool full() const;

  size_t maxEntries_;
  bool refused_ = false;  // the last file system was left out
  size_t lastTop_ = 0;    // the last file system of the top level taken
  std::string names_;
  std::vector<FileSystem> fileSystems_;
  std::vector<uint32_t> byName_;  // file systems sorted by name
  std::vector<MountFile> files_;
};

#endif  // BFSSCAN_MOUNT_TREE_H
