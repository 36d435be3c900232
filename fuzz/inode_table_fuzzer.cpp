// Fuzzing target: the walk of an inode table and its memo of unused slots.
// The input is an image with a file system at 0 whose superblock (start and
// end at bytes 4 and 8; the magic is not needed) is taken as it is. The
// table is loaded three times: with a fresh memo, with the memo the first
// load filled, and with a memo filled by a table at another block of the
// same bytes. What the memo knows must never change what a load reports:
// the same inode events, the same inodes in use, the same end (a violated
// condition, or a read that ran past the image at the same slot). Salvaged
// (keep-going), a load never stops on a condition, reports every slot in
// use, keeps only sound ones, and the broken ones it left out are exactly
// those that stopped the plain load or came after it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "consistency.h"
#include "fuzz_check.h"
#include "inode_table.h"
#include "memory_image.h"
#include "sys/fs/bfs.h"

namespace {

struct Events : ScanSink {
  void inode(const InodeEvent& e) override {
    log.push_back(std::to_string(e.slot) + " " + std::to_string(e.stage) + " " +
                  std::to_string(e.inode.ino) + " " + std::to_string(e.inode.firstBlock) + " " +
                  std::to_string(e.inode.lastByte) + " " + std::to_string(e.inode.type));
  }
  std::vector<std::string> log;
};

// What one load reported, and how it ended.
struct Load {
  std::vector<std::string> events;
  std::vector<std::string> inUse;
  std::string end = "complete";
};

Load load(const Image& image, int64_t base, const bfsSuperBlock& bsb, OffsetRuns& memo,
          bool salvage = false) {
  Load result;
  Events sink;
  BrokenRuns broken(sink, base, BrokenRuns::kSlots);
  try {
    const InodeTable table =
        InodeTable::load(image, base, bsb, memo, sink, nullptr, salvage ? &broken : nullptr);
    FUZZ_CHECK(table.slotCount() == bsb.numInodes());
    table.forEachInUse([&](const InodeTable::Entry& e) {
      FUZZ_CHECK(e.slot >= BFS_ROOTINO && e.slot < table.slotCount());
      FUZZ_CHECK(e.slot > UINT16_MAX || table.inUse(static_cast<uint16_t>(e.slot)));
      result.inUse.push_back(std::to_string(e.slot) + " " + std::to_string(e.inode.d_ino));
    });
    if (const bfsDirent* root = table.root()) FUZZ_CHECK(root->isDirectory());
    if (salvage) FUZZ_CHECK(broken.total() + result.inUse.size() == sink.log.size());
  } catch (const InconsistentFileSystem& v) {
    FUZZ_CHECK(!salvage);
    result.end = "violated " + v.condition();
  } catch (const ReadFailure& f) {
    FUZZ_CHECK(f.kind() == ReadFailure::kEndOfImage);
    result.end = "read " + f.item();
  }
  result.events = std::move(sink.log);
  return result;
}

bool same(const Load& a, const Load& b) {
  return a.events == b.events && a.inUse == b.inUse && a.end == b.end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> block(BFS_BSIZE, 0);
  std::memcpy(block.data(), data, std::min<size_t>(size, BFS_BSIZE));
  const MemoryImage image(data, size);
  try {
    const bfsSuperBlock bsb(block.data(), 0);
    OffsetRuns memo(BFS_INODESIZE);
    const Load fresh = load(image, 0, bsb, memo);
    FUZZ_CHECK(fresh.events.size() >= fresh.inUse.size());
    FUZZ_CHECK(same(fresh, load(image, 0, bsb, memo)));

    // A table that starts some blocks further on covers the same bytes at
    // another alignment of its slots.
    OffsetRuns shifted(BFS_INODESIZE);
    const int64_t other = 512 * (1 + (size > 12 ? data[12] % 15 : 0));
    load(image, other, bsb, shifted);
    FUZZ_CHECK(same(fresh, load(image, 0, bsb, shifted)));

    // Salvaged: the same slots reported up to where the plain load stopped.
    OffsetRuns salvageMemo(BFS_INODESIZE);
    const Load salvaged = load(image, 0, bsb, salvageMemo, true);
    FUZZ_CHECK(salvaged.events.size() >= fresh.events.size());
    FUZZ_CHECK(std::equal(fresh.events.begin(), fresh.events.end(), salvaged.events.begin()));
    if (fresh.end == "complete") FUZZ_CHECK(same(fresh, salvaged));
  } catch (const InconsistentFileSystem&) {
    // start >= end: not a superblock
  }
  return 0;
}
