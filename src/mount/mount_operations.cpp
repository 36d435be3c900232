#include "mount_operations.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "escape.h"

MountOperations::MountOperations(const MountTree& tree, ByteSource& source, LineLog& log,
                                 const std::string& imagePath,
                                 const DirectoryAttributes& directories)
    : tree_(tree), source_(source), log_(log), imagePath_(imagePath), directories_(directories) {}

int MountOperations::resolve(std::string_view path, Node* node) const {
  if (path.empty() || path[0] != '/') return -ENOENT;
  path.remove_prefix(1);
  *node = Node{};
  if (path.empty()) return 0;
  const size_t slash = path.find('/');
  const std::optional<size_t> fs = tree_.findFileSystem(path.substr(0, slash));
  if (!fs) return -ENOENT;
  node->kind = Kind::kFileSystem;
  node->index = *fs;
  if (slash == std::string_view::npos) return 0;
  path.remove_prefix(slash + 1);
  size_t rest = path.find('/');
  std::optional<size_t> file = tree_.findFile(*fs, path.substr(0, rest));
  if (!file) {
    // A subdirectory of pieces (--deleted, --unallocated), then its file.
    const std::optional<size_t> sub = subdirectory(*fs, path.substr(0, rest));
    if (!sub) return -ENOENT;
    node->index = *sub;
    if (rest == std::string_view::npos) return 0;
    path.remove_prefix(rest + 1);
    rest = path.find('/');
    file = tree_.findFile(*sub, path.substr(0, rest));
    if (!file) return -ENOENT;
  }
  if (rest != std::string_view::npos) return -ENOTDIR;
  node->kind = Kind::kFile;
  node->index = *file;
  return 0;
}

std::optional<size_t> MountOperations::subdirectory(size_t fs, std::string_view name) const {
  if (name.find('/') != std::string_view::npos) return std::nullopt;
  std::string full(tree_.fileSystemName(fs));
  full += '/';
  full += name;
  return tree_.findFileSystem(full);
}

bool MountOperations::isSubdirectory(size_t fs) const {
  return tree_.fileSystemName(fs).find('/') != std::string_view::npos;
}

NodeAttributes MountOperations::fileAttributes(size_t index) const {
  const MountFile& f = tree_.file(index);
  NodeAttributes a;
  a.permissions = f.mode & 07777;
  a.size = f.length;
  a.uid = f.uid;
  a.gid = f.gid;
  a.nlink = 1;
  a.atime = f.atime;  // unsigned seconds since 1970
  a.mtime = f.mtime;
  a.ctime = f.ctime;
  return a;
}

NodeAttributes MountOperations::attributes(const Node& node) const {
  if (node.kind == Kind::kFile) return fileAttributes(node.index);
  NodeAttributes a;
  a.directory = true;
  a.permissions = 0555;
  a.uid = directories_.uid;
  a.gid = directories_.gid;
  a.atime = directories_.atime;
  a.mtime = directories_.mtime;
  a.ctime = directories_.ctime;
  a.nlink = node.kind == Kind::kRoot ? static_cast<uint32_t>(2 + tree_.fileSystemCount()) : 2;
  return a;
}

int MountOperations::getattr(std::string_view path, NodeAttributes* out) const {
  Node node;
  const int rc = resolve(path, &node);
  if (rc != 0) return rc;
  *out = attributes(node);
  return 0;
}

int MountOperations::readdir(
    std::string_view path,
    const std::function<bool(std::string_view, const NodeAttributes&)>& add) const {
  Node node;
  const int rc = resolve(path, &node);
  if (rc != 0) return rc;
  if (node.kind == Kind::kFile) return -ENOTDIR;
  if (node.kind == Kind::kRoot) {
    for (size_t fs = 0; fs < tree_.fileSystemCount(); ++fs) {
      if (isSubdirectory(fs)) continue;
      if (!add(tree_.fileSystemName(fs), attributes(Node{Kind::kFileSystem, fs}))) break;
    }
    return 0;
  }
  // The subdirectories of pieces follow their file system in the tree.
  const std::string prefix = std::string(tree_.fileSystemName(node.index)) + "/";
  for (size_t sub = node.index + 1; sub < tree_.fileSystemCount(); ++sub) {
    const std::string_view name = tree_.fileSystemName(sub);
    if (name.compare(0, prefix.size(), prefix) != 0) break;
    if (!add(name.substr(prefix.size()), attributes(Node{Kind::kFileSystem, sub}))) return 0;
  }
  const size_t first = tree_.firstFile(node.index);
  for (size_t f = first; f < first + tree_.fileCount(node.index); ++f) {
    if (!add(tree_.fileName(f), fileAttributes(f))) break;
  }
  return 0;
}

int MountOperations::open(std::string_view path, int flags, uint64_t* handle) const {
  Node node;
  const int rc = resolve(path, &node);
  if (rc != 0) return rc;
  if ((flags & O_ACCMODE) != O_RDONLY || (flags & (O_TRUNC | O_APPEND)) != 0) return -EROFS;
  if (node.kind != Kind::kFile) return -EISDIR;
  *handle = node.index;
  return 0;
}

int MountOperations::extent(uint64_t handle, size_t size, uint64_t offset, uint64_t* imageOffset,
                            size_t* count) const {
  if (handle >= tree_.totalFiles()) return -EBADF;
  const MountFile& f = tree_.file(handle);
  *imageOffset = f.imageOffset + std::min(offset, f.length);
  *count = offset >= f.length ? 0 : static_cast<size_t>(std::min<uint64_t>(size, f.length - offset));
  return 0;
}

ssize_t MountOperations::read(uint64_t handle, char* buffer, size_t size, uint64_t offset) const {
  uint64_t pos = 0;
  size_t n = 0;
  const int rc = extent(handle, size, offset, &pos, &n);
  if (rc != 0) return rc;
  if (n == 0) return 0;
  std::string why;
  size_t done = 0;
  try {
    while (done < n) {
      const size_t got = source_.read(pos + done, buffer + done, n - done);
      if (got == 0) {
        why = "the file runs past the end of the image";
        break;
      }
      done += got;
    }
  } catch (const bfsscan::ImageError& e) {
    why = e.what();
  }
  if (done == n) return static_cast<ssize_t>(n);
  const size_t fs = tree_.fileSystemOf(handle);
  std::string name(tree_.fileSystemName(fs));
  name += '/';
  name += tree_.fileName(handle);
  log_.line("bfsmount: error reading " + escapeForDiag(imagePath_) + ": " + why + " (" +
            escapeForDiag(name) + ", bytes " + std::to_string(offset) + " to " +
            std::to_string(offset + n - 1) + " of the file, image offset " +
            std::to_string(pos) + ")");
  return -EIO;
}
