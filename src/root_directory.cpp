#include "root_directory.h"

#include "consistency.h"

namespace {
// A multiple of the entry size, so that no entry straddles two pieces.
constexpr size_t kPiece = 1 << 20;
static_assert(kPiece % BFS_DIRENTSIZE == 0, "entries must not straddle pieces");
}  // namespace

std::string NameTable::lookup(uint64_t ino) const {
  auto it = ino <= UINT16_MAX ? names_.find(static_cast<uint16_t>(ino)) : names_.end();
  return it == names_.end() ? std::string() : it->second;
}

NameTable readRootDirectory(const Image& image, int64_t base, const bfsDirent& root,
                            const InodeTable& inodes) {
  const uint32_t first = root.d_sblock * BFS_BSIZE;
  const uint32_t length = root.d_eoffset - first + 1;
  const uint64_t pos = imageOffset(base, first);

  // No entry is reported before the whole directory has been read. A small
  // directory is read once; a large one is read through first, so that a
  // directory running past the end of the image costs no memory and
  // reports nothing, and then read again to walk it.
  if (length > kPiece) {
    image.forEachChunk(pos, length, kPiece, [](const char*, size_t) {});
  }

  NameTable names;
  image.forEachChunk(pos, length, kPiece, [&](const char* piece, size_t n) {
    for (size_t k = 0; k + BFS_DIRENTSIZE <= n; k += BFS_DIRENTSIZE) {
      const bfsLDirs bld(piece + k);
      if (bld.undefined() || bld.l_ino == BFS_ROOTINO) continue;
      require(bld.l_ino < inodes.slotCount(), "bld.l_ino < bsb.numInodes()");
      require(inodes.inUse(bld.l_ino), "!bfsInodes[bld.l_ino].undefined()");
      names.set(bld.l_ino, bld.toString());
    }
  });
  return names;
}
