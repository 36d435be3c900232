// The allocation table of a QCOW disk (version 2 or 3): an L1 table whose
// entries name L2 tables, whose entries name the clusters that hold data.
// A zero entry at either level is a cluster (or a whole L2 span) that reads
// as zeros. Version 1 disks are read without a table (all data).
#include "allocation_map.h"

namespace {

constexpr uint64_t kOffsetMask = 0x00fffffffffffe00ull;  // bits 9-55
constexpr uint64_t kL2Used = 0x7ffffffffffffffeull;      // all but "copied" and "zero"

class QcowTable : public AllocationTable {
 public:
  QcowTable(const FileReader& read, unsigned clusterBits, uint64_t l1Offset, uint64_t l1Entries)
      : top_(read),
        leaves_(read, 8, uint64_t{1} << (clusterBits - 3),
                [](const unsigned char* e) { return (bigEndian(e, 8) & kL2Used) != 0; }),
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
    if (l2 == 0) return {false, toEnd};
    return leaves_.run(l2, unit % perL2_);
  }

 private:
  TablePieces top_;
  LeafTables leaves_;
  unsigned clusterBits_;
  uint64_t perL2_;
  uint64_t l1Offset_, l1Entries_;
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
