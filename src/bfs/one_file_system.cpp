#include "one_file_system.h"

#include <algorithm>
#include <memory>

#include "consistency.h"
#include "deleted.h"
#include "record_events.h"

namespace {

constexpr size_t kPiece = 1 << 20;
constexpr uint64_t kDirectoryPiece = 64 * 1024;  // a multiple of the entry size

std::string at(int64_t base) { return "no file system at " + std::to_string(base); }

}  // namespace

OneFileSystem::OneFileSystem(const Image& image, int64_t base) : image_(image), base_(base) {
  const uint64_t length = static_cast<uint64_t>(image.length());
  if (base < 0 || base % BFS_BSIZE != 0 || static_cast<uint64_t>(base) + BFS_BSIZE > length) {
    throw FileSystemError(
        FileSystemError::kNoFileSystem,
        at(base) + (base >= 0 && base % BFS_BSIZE != 0 ? ": not a multiple of 512"
                                                       : ": past the end of the image"));
  }
  char block[BFS_BSIZE];
  image.readExact(static_cast<uint64_t>(base), block, BFS_BSIZE);
  BfsHit hit;
  if (!examine_bfs(block, base, &hit)) {
    throw FileSystemError(FileSystemError::kNoFileSystem, at(base) + ": no superblock magic");
  }
  if (hit.verdict != BfsHit::kAccepted) {
    throw FileSystemError(FileSystemError::kNoFileSystem,
                          at(base) + ": the superblock's start and end do not describe a table");
  }
  const bfsSuperBlock bsb(block, base);
  start_ = bsb.bdsup_start;
  end_ = bsb.bdsup_end;
  slotCount_ = bsb.numInodes();
}

void OneFileSystem::readSlot(uint32_t slot, char* raw, const char* what) const {
  if (slot < BFS_ROOTINO || slot >= slotCount_) {
    throw FileSystemError(FileSystemError::kNoInode,
                          "file system at " + std::to_string(base_) + ": no " + what + " " +
                              std::to_string(slot) + " (the table has slots 2 to " +
                              std::to_string(slotCount_ - 1) + ")");
  }
  image_.readExact(imageOffset(base_, bfsDirent::bfsINO2OFF(slot)), raw, BFS_INODESIZE);
}

SlotRecord OneFileSystem::inode(uint32_t ino) const {
  char raw[BFS_INODESIZE];
  readSlot(ino, raw, "inode");
  SlotRecord r;
  r.slot = ino;
  bfsDirent d;
  const char* violated = bfsDirent::decode(raw, &d, &r.stage);
  if (d.undefined()) {
    throw FileSystemError(FileSystemError::kNoInode, "file system at " + std::to_string(base_) +
                                                         ": inode " + std::to_string(ino) +
                                                         " is not in use");
  }
  r.inode = inodeFields(d, r.stage);
  if (violated != nullptr) r.broken.push_back(violated);
  if (r.stage == bfsDirent::kDecoded) {  // the checks of the table
    if (ino == BFS_ROOTINO && !d.isDirectory()) r.broken.push_back("bd.isDirectory()");
    if (ino != BFS_ROOTINO && !d.isRegular()) r.broken.push_back("bd.isRegular()");
    if (ino != BFS_ROOTINO && d.d_fattr.va_nlink != 1) {
      r.broken.push_back("bd.d_fattr.va_nlink == 1");
    }
  }
  r.imageOffset = imageOffset(base_, r.inode.firstByte());
  r.length = r.stage == bfsDirent::kBadExtent ? 0 : r.inode.length();
  return r;
}

SlotRecord OneFileSystem::deleted(uint32_t slot) const {
  char raw[BFS_INODESIZE];
  readSlot(slot, raw, "slot");
  const std::optional<DeletedInode> d = deletedCandidate(raw, slot, start_, end_);
  if (!d) {
    throw FileSystemError(FileSystemError::kNoInode, "file system at " + std::to_string(base_) +
                                                         ": slot " + std::to_string(slot) +
                                                         " holds no deleted candidate");
  }
  SlotRecord r;
  r.slot = slot;
  r.state = SlotRecord::kDeleted;
  bfsscan::Inode& in = r.inode;
  in.firstBlock = d->firstBlock;
  in.lastBlock = d->lastBlock;
  in.lastByte = d->lastByte;
  in.type = BFS_VREG;
  in.mode = d->mode;
  in.uid = d->uid;
  in.gid = d->gid;
  in.nlink = d->nlink;
  in.atime = d->atime;
  in.mtime = d->mtime;
  in.ctime = d->ctime;
  r.imageOffset = imageOffset(base_, d->first());
  r.length = d->length();
  return r;
}

std::vector<std::string> OneFileSystem::namesOf(uint32_t ino) const {
  std::vector<std::string> names;
  char raw[BFS_INODESIZE];
  readSlot(BFS_ROOTINO, raw, "inode");
  bfsDirent root;
  if (bfsDirent::decode(raw, &root) != nullptr || root.undefined() ||
      root.d_fattr.va_type != BFS_VDIR) {
    return names;
  }
  const uint64_t pos = imageOffset(base_, root.d_sblock * BFS_BSIZE);
  const uint64_t length = static_cast<uint64_t>(root.d_eoffset - root.d_sblock * BFS_BSIZE) + 1;
  // The entries that lie inside the image: a directory may run past its end.
  const uint64_t imageLength = static_cast<uint64_t>(image_.length());
  const uint64_t inside = pos < imageLength ? std::min(length, imageLength - pos) : 0;
  const uint64_t whole = inside / BFS_DIRENTSIZE * BFS_DIRENTSIZE;
  std::vector<char> buf(static_cast<size_t>(std::min(kDirectoryPiece, whole)));
  for (uint64_t done = 0; done < whole;) {
    const uint64_t data = image_.nextData(pos + done);  // holes hold free entries
    if (data >= pos + whole) break;
    if (data > pos + done) {
      done = (data - pos) / BFS_DIRENTSIZE * BFS_DIRENTSIZE;
      continue;
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), whole - done));
    image_.readExact(pos + done, buf.data(), n);
    for (size_t k = 0; k + BFS_DIRENTSIZE <= n; k += BFS_DIRENTSIZE) {
      const bfsLDirs entry(buf.data() + k);
      if (!entry.undefined() && entry.l_ino == ino) names.push_back(entry.toString());
    }
    done += n;
  }
  return names;
}

void OneFileSystem::checkReadable(const SlotRecord& r) const {
  const std::string which = "file system at " + std::to_string(base_) + ": " +
                            (r.state == SlotRecord::kDeleted ? "slot " : "inode ") +
                            std::to_string(r.slot);
  if (r.stage != bfsDirent::kDecoded || r.inode.type != BFS_VREG) {
    throw FileSystemError(
        FileSystemError::kNotRegular,
        which + (r.inode.type == BFS_VDIR ? " is a directory" : " is not a regular file"));
  }
  const uint64_t length = static_cast<uint64_t>(image_.length());
  if (r.imageOffset > length || r.length > length - r.imageOffset) {
    throw FileSystemError(FileSystemError::kOutside,
                          which + ": its bytes " + std::to_string(r.imageOffset) + " to " +
                              std::to_string(r.imageOffset + r.length - 1) +
                              " run past the end of the image (" + std::to_string(length) +
                              " bytes)");
  }
}

void OneFileSystem::unreadable(const SlotRecord& r, uint64_t at, const ReadFailure& f) const {
  throw FileSystemError(FileSystemError::kUnreadable,
                        "file system at " + std::to_string(base_) + ": " +
                            (r.state == SlotRecord::kDeleted ? "slot " : "inode ") +
                            std::to_string(r.slot) + ": cannot read byte " + std::to_string(at) +
                            " of the image: " + f.description());
}

size_t OneFileSystem::read(const SlotRecord& r, uint64_t pos, char* buffer, size_t n) const {
  if (pos >= r.length) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, r.length - pos));
  try {
    image_.readExact(r.imageOffset + pos, buffer, n);
  } catch (const ReadFailure& f) {
    unreadable(r, r.imageOffset + pos, f);
  }
  return n;
}

void OneFileSystem::forEachPiece(const SlotRecord& r,
                                 const std::function<void(const char*, size_t)>& fn) const {
  std::vector<char> buf(static_cast<size_t>(std::min<uint64_t>(kPiece, r.length)));
  for (uint64_t done = 0; done < r.length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), r.length - done));
    try {
      image_.readExact(r.imageOffset + done, buf.data(), n);
    } catch (const ReadFailure&) {
      // Block by block, so that every byte before the bad one goes out.
      for (size_t k = 0; k < n; k += BFS_BSIZE) {
        const size_t m = std::min<size_t>(BFS_BSIZE, n - k);
        try {
          image_.readExact(r.imageOffset + done + k, buf.data(), m);
        } catch (const ReadFailure& f) {
          unreadable(r, r.imageOffset + done + k, f);
        }
        fn(buf.data(), m);
      }
      done += n;
      continue;
    }
    fn(buf.data(), n);
    done += n;
  }
}
