// The allocation of a VMware disk: its extents in order, each flat (all
// data), zero (no data) or sparse. A sparse extent ("KDMV") has a grain
// directory whose little-endian entries name grain tables, whose entries
// name the grains that hold data; a zero entry at either level (or 1, for
// a grain marked as zeros) holds none. A stream-optimized extent keeps the
// directory's place in a copy of its header at the end of the file.
#include <vector>

#include "allocation_map.h"

namespace {

constexpr uint64_t kSector = 512;

class SparseExtent : public AllocationTable {
 public:
  SparseExtent(const FileReader& read, uint64_t grain, uint64_t perTable, uint64_t gd,
               bool zeroGrains)
      : top_(read),
        leaves_(read, 4, perTable,
                [zeroGrains](const unsigned char* e) {
                  return littleEndian(e, 4) > (zeroGrains ? 1u : 0u);
                }),
        grain_(grain), perTable_(perTable), gd_(gd) {}

  uint64_t unitSize() const override { return grain_ * kSector; }

  UnitRun run(uint64_t unit) override {
    const uint64_t toEnd = perTable_ - unit % perTable_;
    const uint64_t index = unit / perTable_;
    unsigned char e[4];
    if (index > (UINT64_MAX - gd_ * kSector) / 4 || !top_.at(gd_ * kSector + index * 4, 4, e)) {
      return {true, toEnd};
    }
    const uint64_t table = littleEndian(e, 4) * kSector;
    if (table == 0) return {false, toEnd};
    return leaves_.run(table, unit % perTable_);
  }

 private:
  TablePieces top_;
  LeafTables leaves_;
  uint64_t grain_, perTable_, gd_;
};

// The extents one after another, in sectors.
class ExtentChain : public AllocationTable {
 public:
  explicit ExtentChain(std::vector<VmdkExtent> extents) : extents_(std::move(extents)) {}

  uint64_t unitSize() const override { return kSector; }

  UnitRun run(uint64_t unit) override {
    uint64_t start = 0;
    for (VmdkExtent& e : extents_) {
      const uint64_t sectors = e.size / kSector;
      if (unit - start >= sectors) {
        start += sectors;
        continue;
      }
      const uint64_t at = unit - start, left = sectors - at;
      if (e.kind == VmdkExtent::kZero) return {false, left};
      if (e.kind != VmdkExtent::kSparse || !e.table) return {true, left};
      const uint64_t grain = e.table->unitSize() / kSector;
      const UnitRun r = e.table->run(at / grain);
      const uint64_t n = r.units > left / grain + 1 ? left : r.units * grain - at % grain;
      return {r.data, n < left ? n : left};
    }
    return {true, UINT64_MAX / 2};  // past the extents: the library tells
  }

 private:
  std::vector<VmdkExtent> extents_;
};

}  // namespace

std::unique_ptr<AllocationTable> vmdkSparseAllocation(const FileReader& read,
                                                      uint64_t fileSize) {
  unsigned char h[64];
  if (read(0, h, sizeof h) != sizeof h || littleEndian(h, 4) != 0x564d444bu) return nullptr;
  const uint64_t flags = littleEndian(h + 8, 4);
  uint64_t gd = littleEndian(h + 56, 8);
  if (gd == UINT64_MAX) {  // in the copy of the header at the end
    if (fileSize < 1024 || read(fileSize - 1024, h, sizeof h) != sizeof h ||
        littleEndian(h, 4) != 0x564d444bu) {
      return nullptr;
    }
    gd = littleEndian(h + 56, 8);
  }
  const uint64_t grain = littleEndian(h + 20, 8);
  const uint64_t perTable = littleEndian(h + 44, 4);
  if (grain == 0 || grain > (1 << 16) || (grain & (grain - 1)) != 0 || perTable == 0 ||
      perTable > (1 << 16) || gd > UINT64_MAX / kSector) {
    return nullptr;
  }
  return std::make_unique<SparseExtent>(read, grain, perTable, gd, (flags & 4) != 0);
}

std::unique_ptr<AllocationTable> vmdkAllocation(std::vector<VmdkExtent> extents) {
  return std::make_unique<ExtentChain>(std::move(extents));
}
