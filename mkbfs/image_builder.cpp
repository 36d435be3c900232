#include "image_builder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

namespace mkbfs {
namespace {

constexpr uint64_t kBlock = 512;
constexpr uint64_t kOffsetLimit = 1ull << 32;  // file-system offsets are 32-bit

void put32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

void put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v));
}

[[noreturn]] void systemError(const std::string& what, const std::string& path) {
  throw BuildError(what + " " + path + ": " + std::strerror(errno));
}

uint64_t blocksFor(uint64_t bytes) { return (bytes + kBlock - 1) / kBlock; }

}  // namespace

std::string superblock(uint32_t start, uint32_t end, uint32_t magic) {
  std::string out;
  put32(out, magic);
  put32(out, start);
  put32(out, end);
  out.resize(kBlock, '\0');
  return out;
}

std::string inodeSlot(const Inode& inode) {
  std::string out;
  put16(out, inode.ino);
  for (uint32_t v : {inode.sblock, inode.eblock, inode.eoffset, inode.type, inode.mode,
                     inode.uid, inode.gid, inode.nlink, inode.atime, inode.mtime, inode.ctime}) {
    put32(out, v);
  }
  out.resize(62, '\0');
  return out;
}

std::string dirEntries(const std::vector<DirEntry>& entries) {
  std::string out;
  for (const DirEntry& e : entries) {
    put16(out, e.ino);
    std::string name = e.name.substr(0, 14);
    name.resize(14, '\0');
    out += name;
  }
  return out;
}

uint32_t slotOffset(uint32_t ino) { return ino * 62 + 388; }

Inode fileInode(uint16_t ino, uint32_t sblock, uint64_t length) {
  Inode inode;
  inode.ino = ino;
  inode.sblock = sblock;
  inode.eoffset = static_cast<uint32_t>(sblock * kBlock + length - 1);
  inode.eblock = inode.eoffset / 512;
  return inode;
}

ImageWriter::ImageWriter(const std::string& path, bool truncate) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0666);
  if (fd_ < 0) systemError("cannot open", path);
}

ImageWriter::~ImageWriter() { ::close(fd_); }

void ImageWriter::write(uint64_t pos, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(pos + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      systemError("cannot write", path_);
    }
    done += static_cast<size_t>(n);
  }
}

void ImageWriter::extendTo(uint64_t len) {
  if (length() < len) setLength(len);
}

void ImageWriter::setLength(uint64_t len) {
  if (::ftruncate(fd_, static_cast<off_t>(len)) != 0) systemError("cannot resize", path_);
}

uint64_t ImageWriter::length() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) systemError("cannot stat", path_);
  return static_cast<uint64_t>(st.st_size);
}

void applyAttributes(const Attributes& attributes, Inode& inode) {
  if (attributes.mode) {
    inode.mode = *attributes.mode < 010000 ? (*attributes.mode | 0100000) : *attributes.mode;
  }
  if (attributes.uid) inode.uid = *attributes.uid;
  if (attributes.gid) inode.gid = *attributes.gid;
  if (attributes.atime) inode.atime = *attributes.atime;
  if (attributes.mtime) inode.mtime = *attributes.mtime;
  if (attributes.ctime) inode.ctime = *attributes.ctime;
}

void checkFiles(const std::vector<File>& files) {
  if (files.size() > 65535 - 2) throw BuildError("too many files: at most 65533 fit");
  std::set<std::string> seen;
  for (const File& f : files) {
    if (f.name.empty() || f.name.size() > 14) {
      throw BuildError("name '" + f.name + "' must be 1 to 14 bytes long");
    }
    if (f.name.find('/') != std::string::npos || f.name.find('\0') != std::string::npos ||
        f.name == "." || f.name == "..") {
      throw BuildError("name '" + f.name + "' cannot be stored");
    }
    if (!seen.insert(f.name).second) throw BuildError("name '" + f.name + "' given twice");
    if (f.data.empty()) throw BuildError("file '" + f.name + "' is empty: BFS cannot store it");
  }
}

Layout writeFileSystem(ImageWriter& image, uint64_t base, const std::vector<File>& files,
                       const Traces& traces) {
  if (base % kBlock != 0) throw BuildError("offset must be a multiple of 512");
  checkFiles(files);

  Layout layout;
  const uint64_t start = slotOffset(static_cast<uint32_t>(files.size()) + 3);
  const uint64_t dirLength = 16 * (files.size() + 2);
  const uint64_t dirBlock = blocksFor(start);
  uint64_t next = dirBlock + blocksFor(dirLength);
  for (const File& f : files) {
    layout.sblocks.push_back(static_cast<uint32_t>(next));
    next += blocksFor(f.data.size());
    if (next * kBlock > kOffsetLimit) {
      throw BuildError("files too large: a file system reaches at most 4 GiB");
    }
  }
  const uint64_t freeBlock = next;
  next += traces.freeBlocks;
  if (next * kBlock > kOffsetLimit) {
    throw BuildError("files too large: a file system reaches at most 4 GiB");
  }
  layout.start = static_cast<uint32_t>(start);
  layout.end = static_cast<uint32_t>(next * kBlock - 1);

  image.write(base, superblock(layout.start, layout.end));
  Inode root = fileInode(2, static_cast<uint32_t>(dirBlock), dirLength);
  root.type = 2;
  root.mode = 040755;
  root.nlink = 2;
  image.write(base + slotOffset(2), inodeSlot(root));

  std::vector<DirEntry> entries = {{2, "."}, {2, ".."}};
  for (size_t i = 0; i < files.size(); ++i) {
    const uint16_t ino = static_cast<uint16_t>(i + 3);
    const bool keepEntry = traces.clearEntry.count(files[i].name) == 0;
    entries.push_back({keepEntry ? ino : uint16_t{0}, files[i].name});
    Inode inode = fileInode(ino, layout.sblocks[i], files[i].data.size());
    applyAttributes(files[i].attributes, inode);
    if (traces.clearInode.count(files[i].name) != 0) inode.ino = 0;
    image.write(base + slotOffset(ino), inodeSlot(inode));
    image.write(base + layout.sblocks[i] * kBlock, files[i].data);
    const uint64_t slack = blocksFor(files[i].data.size()) * kBlock - files[i].data.size();
    if (!traces.marker.empty() && slack > 0) {
      image.write(base + layout.sblocks[i] * kBlock + files[i].data.size(),
                  traces.marker.substr(0, slack));
    }
  }
  if (!traces.marker.empty() && traces.freeBlocks > 0) {
    image.write(base + freeBlock * kBlock, traces.marker.substr(0, traces.freeBlocks * kBlock));
  }
  image.write(base + dirBlock * kBlock, dirEntries(entries));
  image.extendTo(base + layout.end + 1);
  return layout;
}

}  // namespace mkbfs
