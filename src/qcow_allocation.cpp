// The allocation table of a QCOW disk (version 2 or 3): an L1 table whose
// entries name L2 tables, whose entries name the clusters that hold data.
// A zero entry at either level is a cluster (or a whole L2 span) that reads
// as zeros. Version 1 disks are read without a table (all data).
#include <set>

#include "allocation_map.h"

namespace {

constexpr uint64_t kOffsetMask = 0x00fffffffffffe00ull;  // bits 9-55
constexpr uint64_t kL2Used = 0x7ffffffffffffffeull;      // all but "copied" and "zero"
constexpr size_t kMaxEmptyTables = 4096;                 // L2 tables remembered empty

class QcowTable : public AllocationTable {
 public:
  QcowTable(const FileReader& read, unsigned clusterBits, uint64_t l1Offset, uint64_t l1Entries)
      : top_(read),
        leaf_(read),
        read_(read),
        clusterBits_(clusterBits),
        perL2_(uint64_t{1} << (clusterBits - 3)),
        l1Offset_(l1Offset),
        l1Entries_(l1Entries) {}

  uint64_t unitSize() const override { return uint64_t{1} << clusterBits_; }

  UnitRun run(uint64_t unit) override {
    const uint64_t l1 = unit / perL2_;
    const uint64_t toEnd = perL2_ - unit % perL2_;  // units left in this L2 span
    if (l1 >= l1Entries_) return {false, UINT64_MAX / 2};
    unsigned char e[8];
    if (!top_.at(l1Offset_ + l1 * 8, 8, e)) return {true, toEnd};
    const uint64_t l2 = bigEndian(e, 8) & kOffsetMask;
    if (l2 == 0 || isEmpty(l2)) return {false, toEnd};
    if (!leaf_.at(l2 + (unit % perL2_) * 8, 8, e)) return {true, 1};
    return {(bigEndian(e, 8) & kL2Used) != 0, 1};
  }

 private:
  // Whether the L2 table at off holds only zero entries; remembered for a
  // bounded number of tables, so that a table named by many L1 entries is
  // read once.
  bool isEmpty(uint64_t off) {
    if (empty_.count(off) != 0) return true;
    if (off == lastFull_) return false;
    unsigned char piece[4096];
    const uint64_t bytes = perL2_ * 8;
    for (uint64_t done = 0; done < bytes; done += sizeof piece) {
      const size_t n = bytes - done < sizeof piece ? bytes - done : sizeof piece;
      if (read_(off + done, piece, n) != n) {
        lastFull_ = off;
        return false;
      }
      for (size_t i = 0; i < n; i += 8) {
        if ((bigEndian(piece + i, 8) & kL2Used) != 0) {
          lastFull_ = off;
          return false;
        }
      }
    }
    if (empty_.size() < kMaxEmptyTables) empty_.insert(off);
    return true;
  }

  TablePieces top_, leaf_;
  FileReader read_;
  unsigned clusterBits_;
  uint64_t perL2_;
  uint64_t l1Offset_, l1Entries_;
  std::set<uint64_t> empty_;
  uint64_t lastFull_ = UINT64_MAX;
};

}  // namespace

std::unique_ptr<AllocationTable> qcowAllocation(const FileReader& read) {
  unsigned char h[48];
  if (read(0, h, sizeof h) != sizeof h) return nullptr;
  if (bigEndian(h, 4) != 0x514649fbu) return nullptr;
  const uint64_t version = bigEndian(h + 4, 4);
  const uint64_t clusterBits = bigEndian(h + 20, 4);
  if ((version != 2 && version != 3) || clusterBits < 9 || clusterBits > 21) return nullptr;
  const uint64_t l1Entries = bigEndian(h + 36, 4);
  const uint64_t l1Offset = bigEndian(h + 40, 8);
  // Clusters past the L1 table read as zeros, whatever size the header gives.
  return std::make_unique<QcowTable>(read, static_cast<unsigned>(clusterBits), l1Offset,
                                     l1Entries);
}
