// Deleted candidates and deleted names, decoded from raw records.
#include "deleted.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "stop.h"

namespace {

constexpr size_t kPiece = 1 << 20;

uint32_t be32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return ntohl(v);
}

}  // namespace

std::optional<DeletedInode> deletedCandidate(const char* slot, uint32_t slotNumber,
                                             uint32_t start, uint32_t end) {
  if (slot[0] != 0 || slot[1] != 0) return std::nullopt;
  DeletedInode d;
  d.slot = slotNumber;
  d.firstBlock = be32(slot + 2);
  d.lastBlock = be32(slot + 6);
  d.lastByte = be32(slot + 10);
  // The three conditions of an inode in use, in the file system's 32-bit arithmetic.
  if (!(d.firstBlock <= d.lastBlock && d.first() <= d.lastByte &&
        d.lastByte < d.lastBlock * BFS_BSIZE + BFS_BSIZE)) {
    return std::nullopt;
  }
  // Inside the data area, in 64 bits so that no product wraps.
  const uint64_t from = static_cast<uint64_t>(d.firstBlock) * BFS_BSIZE;
  const uint64_t to = static_cast<uint64_t>(d.lastBlock) * BFS_BSIZE;
  if (from < start || to > end || d.lastByte > end) return std::nullopt;
  if (be32(slot + 14) != BFS_VREG) return std::nullopt;
  d.mode = be32(slot + 18);
  d.uid = be32(slot + 22);
  d.gid = be32(slot + 26);
  d.nlink = be32(slot + 30);
  d.atime = be32(slot + 34);
  d.mtime = be32(slot + 38);
  d.ctime = be32(slot + 42);
  return d;
}

std::optional<std::string> deletedName(const char* entry) {
  if (entry[0] != 0 || entry[1] != 0) return std::nullopt;
  const char* name = entry + 2;
  if (std::all_of(name, name + BFS_DIRNAMELEN, [](char c) { return c == 0; })) return std::nullopt;
  std::string bytes(name, BFS_DIRNAMELEN);
  while (bytes.back() == '\0') bytes.pop_back();  // a byte is not zero: never empties
  return bytes;
}

void forEachDeletedCandidate(const Image& image, int64_t base, uint64_t slotCount, uint32_t start,
                             uint32_t end, const std::function<void(const DeletedInode&)>& fn,
                             const StopToken* stop) {
  const uint64_t first = imageOffset(base, bfsDirent::bfsINO2OFF(BFS_ROOTINO));
  const uint64_t length = static_cast<uint64_t>(image.length());
  if (slotCount <= BFS_ROOTINO || first >= length) return;
  const uint64_t inside = BFS_ROOTINO + (length - first) / BFS_INODESIZE;
  const uint64_t to = std::min(slotCount, inside);
  constexpr uint64_t kSlots = kPiece / BFS_INODESIZE;
  std::vector<char> buf(kSlots * BFS_INODESIZE);
  for (uint64_t i = BFS_ROOTINO; i < to;) {
    checkStop(stop);
    const uint64_t pos = first + (i - BFS_ROOTINO) * BFS_INODESIZE;
    // Holes of a sparse image hold no slot in use and no candidate.
    const uint64_t data = image.nextData(pos);
    if (data > pos + BFS_INODESIZE) {
      i += std::max<uint64_t>(1, (data - pos) / BFS_INODESIZE);
      continue;
    }
    const uint64_t k = std::min(kSlots, to - i);
    image.readExact(pos, buf.data(), static_cast<size_t>(k * BFS_INODESIZE));
    for (uint64_t j = 0; j < k; ++j) {
      if (auto d = deletedCandidate(buf.data() + j * BFS_INODESIZE, static_cast<uint32_t>(i + j),
                                    start, end)) {
        fn(*d);
      }
    }
    i += k;
  }
}

void forEachDeletedName(const Image& image, int64_t base, const bfsDirent& root,
                        const std::function<void(uint64_t, const std::string&)>& fn,
                        const StopToken* stop) {
  const uint32_t first = root.d_sblock * BFS_BSIZE;
  const uint64_t length = static_cast<uint64_t>(root.d_eoffset - first) + 1;
  const uint64_t whole = length / BFS_DIRENTSIZE * BFS_DIRENTSIZE;
  const uint64_t pos = imageOffset(base, first);
  uint64_t index = 0;
  image.forEachChunk(pos, whole, kPiece, [&](const char* piece, size_t n) {
    checkStop(stop);
    for (size_t k = 0; k + BFS_DIRENTSIZE <= n; k += BFS_DIRENTSIZE, ++index) {
      if (auto name = deletedName(piece + k)) fn(index, *name);
    }
  });
}
