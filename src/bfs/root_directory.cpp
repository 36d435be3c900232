#include "root_directory.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "aligned_buffer.h"
#include "consistency.h"
#include "record_events.h"
#include "stop.h"

namespace {
// A multiple of the entry size, so that no entry straddles two pieces.
constexpr uint64_t kPiece = 1 << 20;
static_assert(kPiece % BFS_DIRENTSIZE == 0, "entries must not straddle pieces");
}  // namespace

std::string NameTable::lookup(uint64_t ino) const {
  if (ino / kPageSize >= pages_.size()) return std::string();
  const std::unique_ptr<Page>& page = pages_[ino / kPageSize];
  if (!page) return std::string();
  const Name& n = page->names[ino % kPageSize];
  return std::string(n.bytes, n.length);
}

void NameTable::set(uint16_t ino, const std::string& name) {
  if (ino / kPageSize >= pages_.size()) pages_.resize(ino / kPageSize + 1);
  std::unique_ptr<Page>& page = pages_[ino / kPageSize];
  if (!page) page.reset(new Page());
  Name& n = page->names[ino % kPageSize];
  n.length = static_cast<uint8_t>(std::min<size_t>(name.size(), BFS_DIRNAMELEN));
  std::memcpy(n.bytes, name.data(), n.length);
}

namespace {

bool entryFree(const char* entry) { return entry[0] == 0 && entry[1] == 0; }

uint64_t roundUp(uint64_t n, uint64_t to) { return (n + to - 1) / to * to; }

// The condition the entry in use bld breaks, or null.
const char* entryViolation(const bfsLDirs& bld, const InodeTable& inodes) {
  if (!(bld.l_ino < inodes.slotCount())) return "bld.l_ino < bsb.numInodes()";
  if (!inodes.inUse(bld.l_ino)) return "!bfsInodes[bld.l_ino].undefined()";
  return nullptr;
}

// Whether the entry at image offset at begins a block holding the magic.
bool startsSuperblock(const char* entry, uint64_t at) {
  static const unsigned char kMagic[4] = {0x1B, 0xAD, 0xFA, 0xCE};
  return at % BFS_BSIZE == 0 && std::memcmp(entry, kMagic, sizeof kMagic) == 0;
}

std::string hexNumber(uint32_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[n % 16]);
    n /= 16;
  } while (n != 0);
  return "0x" + out;
}

// Notes the runs of free entries among the whole entries of a piece read at
// at (a multiple of 16).
void noteFreeEntries(uint64_t at, const char* piece, size_t n, OffsetRuns& freeEntries) {
  uint64_t runStart = at;
  size_t k = 0;
  for (; k + BFS_DIRENTSIZE <= n; k += BFS_DIRENTSIZE) {
    if (entryFree(piece + k)) continue;
    freeEntries.add(runStart, at + k);
    runStart = at + k + BFS_DIRENTSIZE;
  }
  freeEntries.add(runStart, at + k);
}

}  // namespace

NameTable readRootDirectory(const Image& image, int64_t base, const bfsDirent& root,
                            const InodeTable& inodes, DirectoryMemo& memo, ScanSink& sink,
                            const StopToken* stop, BrokenRuns* salvage) {
  const uint32_t first = root.d_sblock * BFS_BSIZE;
  const uint32_t length = root.d_eoffset - first + 1;
  const uint64_t pos = imageOffset(base, first);
  const uint64_t end = pos + length;
  const uint64_t wholeEnd = pos + length / BFS_DIRENTSIZE * BFS_DIRENTSIZE;
  const uint64_t imageLength = static_cast<uint64_t>(image.length());
  std::unique_ptr<AlignedBuffer> buf;
  auto read = [&](uint64_t at, uint64_t n) -> const char* {
    size_t inMemory = static_cast<size_t>(n);
    if (const char* bytes = image.inPlace(at, inMemory)) {  // no buffer, no copy
      if (inMemory < n) throw ReadFailure(ReadFailure::kEndOfImage);
      return bytes;
    }
    if (!buf) buf = std::make_unique<AlignedBuffer>(std::min<uint64_t>(kPiece, length));
    image.readExact(at, buf->data(), static_cast<size_t>(n));
    return buf->data();
  };

  // First every byte is read, reporting nothing, unless it was read before
  // or lies in a hole (bytes past the end of the image are always tried, so
  // that a directory that runs past it fails as it always did).
  for (uint64_t p = pos; p < end;) {
    checkStop(stop);
    uint64_t skip = memo.read.skipFrom(p);
    if (skip == p) skip = std::min(image.nextData(p), imageLength);
    if (skip > p) {
      p = std::min(skip, end);
      continue;
    }
    const uint64_t n = std::min({kPiece, end - p, memo.read.nextStart(p) - p});
    const char* piece = read(p, n);
    noteFreeEntries(p, piece, static_cast<size_t>(n), memo.freeEntries);
    memo.read.add(p, p + n);
    p += n;
  }

  // Then the entries in use are walked, in order, passing over runs of free
  // entries and holes.
  NameTable names;
  try {
    for (uint64_t p = pos; p < wholeEnd;) {
      checkStop(stop);
      uint64_t skip = memo.freeEntries.skipFrom(p);
      if (skip == p) {
        const uint64_t data = image.nextData(p);
        if (data >= p + 2) skip = p + roundUp(data - p - 1, BFS_DIRENTSIZE);
      }
      if (skip > p) {
        p = std::min(skip, wholeEnd);
        continue;
      }
      uint64_t n = std::min<uint64_t>(kPiece, wholeEnd - p);
      n = std::min(n, roundUp(memo.freeEntries.nextStart(p) - p, BFS_DIRENTSIZE));
      const uint64_t hole = image.nextHole(p);
      if (hole > p) n = std::min(n, roundUp(hole - p, BFS_DIRENTSIZE));
      const char* piece = read(p, n);
      for (size_t k = 0; k + BFS_DIRENTSIZE <= n; k += BFS_DIRENTSIZE) {
        const bfsLDirs bld = decodeAndReportEntry(piece + k, base, sink);
        if (bld.undefined()) continue;
        const char* violated = bld.l_ino == BFS_ROOTINO ? nullptr : entryViolation(bld, inodes);
        if (violated != nullptr) {
          if (salvage == nullptr) require(false, violated);
          const uint64_t at = p + k;
          salvage->broken((at - pos) / BFS_DIRENTSIZE, at, violated,
                          "for inode " + hexNumber(bld.l_ino));
          if (startsSuperblock(piece + k, at)) {
            salvage->finish("; the directory runs into the superblock at " + std::to_string(at) +
                            ": the rest of it is left out");
            return names;
          }
          continue;
        }
        if (salvage != nullptr) salvage->sound();
        if (bld.l_ino != BFS_ROOTINO) names.set(bld.l_ino, bld.toString());
      }
      p += n;
    }
  } catch (...) {
    if (salvage != nullptr) salvage->finish();  // what was met before is told
    throw;
  }
  if (salvage != nullptr) salvage->finish();
  return names;
}
