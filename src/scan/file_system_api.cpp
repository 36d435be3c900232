// The library's FileSystem: one file system read on its own, over the
// reader of the format layer; its failures become FileError.
#include <utility>

#include "bfsscan/file_system.h"
#include "one_file_system.h"
#include "public_image.h"

namespace bfsscan {

struct FileSystem::Impl {
  const ::Image* image;
  std::string path;
  OneFileSystem fs;
};

namespace {

[[noreturn]] void rethrow(const std::string& path) {
  try {
    throw;
  } catch (const FileSystemError& e) {
    throw FileError(static_cast<FileError::Kind>(e.kind()), e.what());
  } catch (const ReadFailure& f) {
    throw FileError(FileError::kUnreadable, "error reading " + path + ": " + f.description());
  }
}

FileInfo info(int64_t fs, const SlotRecord& r) {
  FileInfo f;
  f.fs = fs;
  f.slot = r.slot;
  f.deleted = r.state == SlotRecord::kDeleted;
  f.inode = r.inode;
  f.imageOffset = r.imageOffset;
  f.length = r.length;
  f.broken = r.broken;
  return f;
}

// The record behind f, as the reader takes it.
SlotRecord record(const FileInfo& f) {
  SlotRecord r;
  r.slot = f.slot;
  r.state = f.deleted ? SlotRecord::kDeleted : SlotRecord::kInUse;
  r.inode = f.inode;
  // Only a decoded regular file or directory has a type of 1 or 2.
  r.stage = f.inode.type == 1 || f.inode.type == 2 ? bfsDirent::kDecoded : bfsDirent::kBadType;
  r.imageOffset = f.imageOffset;
  r.length = f.length;
  return r;
}

}  // namespace

FileSystem::FileSystem(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FileSystem::~FileSystem() = default;

std::unique_ptr<FileSystem> FileSystem::open(const Image& image, int64_t offset) {
  const ::Image& raw = *image.impl().image;
  try {
    auto impl = std::unique_ptr<Impl>(new Impl{&raw, image.path(), OneFileSystem(raw, offset)});
    return std::unique_ptr<FileSystem>(new FileSystem(std::move(impl)));
  } catch (...) {
    rethrow(image.path());
  }
}

std::unique_ptr<FileSystem> FileSystem::open(const Image& image, const FileSystemEvent& event) {
  return open(image, event.base);
}

int64_t FileSystem::offset() const { return impl_->fs.base(); }
uint64_t FileSystem::slotCount() const { return impl_->fs.slotCount(); }

FileInfo FileSystem::file(uint32_t ino) const {
  try {
    return info(offset(), impl_->fs.inode(ino));
  } catch (...) {
    rethrow(impl_->path);
  }
}

FileInfo FileSystem::deleted(uint32_t slot) const {
  try {
    return info(offset(), impl_->fs.deleted(slot));
  } catch (...) {
    rethrow(impl_->path);
  }
}

std::vector<std::string> FileSystem::names(uint32_t ino) const {
  try {
    return impl_->fs.namesOf(ino);
  } catch (...) {
    rethrow(impl_->path);
  }
}

size_t FileSystem::read(const FileInfo& f, uint64_t pos, char* buffer, size_t n) const {
  try {
    const SlotRecord r = record(f);
    impl_->fs.checkReadable(r);
    return impl_->fs.read(r, pos, buffer, n);
  } catch (...) {
    rethrow(impl_->path);
  }
}

std::string FileSystem::read(const FileInfo& f) const {
  std::string bytes;
  read(f, [&](const char* piece, size_t n) { bytes.append(piece, n); });
  return bytes;
}

void FileSystem::read(const FileInfo& f,
                      const std::function<void(const char*, size_t)>& fn) const {
  try {
    const SlotRecord r = record(f);
    impl_->fs.checkReadable(r);
    impl_->fs.forEachPiece(r, fn);
  } catch (...) {
    rethrow(impl_->path);
  }
}

}  // namespace bfsscan
