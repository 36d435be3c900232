#include "inode_table.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "consistency.h"
#include "report.h"

namespace {
constexpr uint64_t kSlotsPerRead = 16384;  // about 1 MiB of slots

std::string slotName(uint64_t slot) { return "inode slot " + std::to_string(slot); }

// Reads up to k slots at pos into buf and returns how many were read whole.
// When a large read fails with an error of the system, the slots are read
// one at a time, so that every slot before the bad one is still delivered;
// the failure is then left in failure.
uint64_t readSlots(const Image& image, uint64_t pos, char* buf, uint64_t k,
                   std::optional<ReadFailure>& failure) {
  try {
    return image.readUpTo(pos, buf, k * BFS_INODESIZE) / BFS_INODESIZE;
  } catch (const ReadFailure&) {
  }
  for (uint64_t n = 0; n < k; ++n) {
    try {
      const uint64_t at = n * BFS_INODESIZE;
      if (image.readUpTo(pos + at, buf + at, BFS_INODESIZE) < BFS_INODESIZE) return n;
    } catch (const ReadFailure& slotFailure) {
      failure = slotFailure;
      return n;
    }
  }
  return k;
}
}  // namespace

const bfsDirent* InodeTable::find(uint64_t ino) const {
  auto it = std::lower_bound(used_.begin(), used_.end(), ino,
                             [](const Entry& e, uint64_t n) { return e.first < n; });
  return it != used_.end() && it->first == ino ? &it->second : nullptr;
}

void InodeTable::add(uint32_t slot, const bfsDirent& bd) {
  if (slot == BFS_ROOTINO) {
    require(bd.isDirectory(), "bd.isDirectory()");
  } else {
    require(bd.isRegular(), "bd.isRegular()");
    require(bd.d_fattr.va_nlink == 1, "bd.d_fattr.va_nlink == 1");
  }
  used_.emplace_back(slot, bd);
}

InodeTable InodeTable::load(const Image& image, int64_t base, const bfsSuperBlock& bsb) {
  report() << "Scanning inodes..." << std::endl;
  InodeTable table(bsb.numInodes());
  // The slots lie back to back from 512 up to bdsup_start, which is below
  // 2^32, so a slot number fits in 32 bits and its offset does not wrap.
  const uint64_t count = table.size_;
  std::unique_ptr<char[]> buf;
  for (uint64_t i = BFS_ROOTINO; i < count;) {
    const uint64_t k = std::min(count - i, kSlotsPerRead);
    if (!buf) buf.reset(new char[k * BFS_INODESIZE]);
    const uint64_t pos = imageOffset(base, bfsDirent::bfsINO2OFF(static_cast<uint32_t>(i)));
    std::optional<ReadFailure> failure;
    const uint64_t whole = readSlots(image, pos, buf.get(), k, failure);
    for (uint64_t j = 0; j < whole; ++j) {
      bfsDirent bd(buf.get() + j * BFS_INODESIZE,
                   static_cast<bfs_pos_t>(pos + (j + 1) * BFS_INODESIZE));
      if (!bd.undefined()) table.add(static_cast<uint32_t>(i + j), bd);
    }
    if (whole < k) {
      ReadFailure end = failure ? *failure : ReadFailure(ReadFailure::kEndOfImage);
      end.setItem(slotName(i + whole));
      throw end;
    }
    i += k;
  }
  return table;
}
