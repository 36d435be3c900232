// The file-system operations of a mount, apart from the kernel interface:
// paths resolved in the tree, attributes, directory listings, and reads
// that go to the image at the moment they are asked for. A read that
// touches any byte that cannot be read fails as a whole (EIO) and is told
// to the log. Nothing can be written (EROFS).
#ifndef BFSSCAN_MOUNT_OPERATIONS_H
#define BFSSCAN_MOUNT_OPERATIONS_H

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "byte_source.h"
#include "line_log.h"
#include "mount_tree.h"

struct NodeAttributes {
  bool directory = false;
  uint32_t permissions = 0;  // mode & 07777
  uint64_t size = 0;
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint32_t nlink = 1;
  int64_t atime = 0;
  int64_t mtime = 0;
  int64_t ctime = 0;
};

// The owner and times of the directories the mount makes up (the root
// and one per file system): they have none of their own.
struct DirectoryAttributes {
  uint32_t uid = 0;
  uint32_t gid = 0;
  int64_t atime = 0;
  int64_t mtime = 0;
  int64_t ctime = 0;
};

class MountOperations {
 public:
  // imagePath names the image in the log's lines.
  MountOperations(const MountTree& tree, ByteSource& source, LineLog& log,
                  const std::string& imagePath, const DirectoryAttributes& directories);

  // Each returns 0 or a negated errno (ENOENT, ENOTDIR, EISDIR, EROFS, EIO,
  // EBADF), as the kernel interface wants it.
  int getattr(std::string_view path, NodeAttributes* out) const;
  // Calls add for every entry but "." and ".."; stops when add returns false.
  int readdir(std::string_view path,
              const std::function<bool(std::string_view, const NodeAttributes&)>& add) const;
  // Opens a file for reading; handle identifies it to read.
  int open(std::string_view path, int flags, uint64_t* handle) const;
  // Bytes read (0 at or past the end of the file), or -EIO, -EBADF.
  ssize_t read(uint64_t handle, char* buffer, size_t size, uint64_t offset) const;
  // Where in the image the bytes a read would return lie: *count bytes
  // (0 at or past the end of the file) from *imageOffset. 0 or -EBADF.
  int extent(uint64_t handle, size_t size, uint64_t offset, uint64_t* imageOffset,
             size_t* count) const;

 private:
  enum class Kind { kRoot, kFileSystem, kFile };
  struct Node {
    Kind kind = Kind::kRoot;
    size_t index = 0;
  };
  int resolve(std::string_view path, Node* node) const;
  NodeAttributes attributes(const Node& node) const;
  NodeAttributes fileAttributes(size_t file) const;

  const MountTree& tree_;
  ByteSource& source_;
  LineLog& log_;
  std::string imagePath_;
  DirectoryAttributes directories_;
};

#endif  // BFSSCAN_MOUNT_OPERATIONS_H
