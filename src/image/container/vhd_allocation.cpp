// The block allocation table of a dynamic VHD disk: one big-endian sector
// number per block of the media, all ones for a block that is not stored
// (it reads as zeros). A fixed disk has no table.
#include "allocation_map.h"

namespace {

class VhdTable : public AllocationTable {
 public:
  VhdTable(const FileReader& read, uint64_t blockSize, uint64_t batOffset, uint64_t entries)
      : bat_(read), blockSize_(blockSize), batOffset_(batOffset), entries_(entries) {}

  uint64_t unitSize() const override { return blockSize_; }

  UnitRun run(uint64_t unit) override {
    if (unit >= entries_) return {false, UINT64_MAX / 2};
    unsigned char e[4];
    if (!bat_.at(batOffset_ + unit * 4, 4, e)) return {true, 1};
    return {bigEndian(e, 4) != 0xffffffffu, 1};
  }

 private:
  TablePieces bat_;
  uint64_t blockSize_, batOffset_, entries_;
};

bool isFooter(const unsigned char* f) { return bigEndian(f, 8) == 0x636f6e6563746978ull; }

}  // namespace

std::unique_ptr<AllocationTable> vhdAllocation(const FileReader& read, uint64_t fileSize) {
  // The copy of the footer at the start, else the footer at the end.
  unsigned char f[512];
  if (read(0, f, sizeof f) != sizeof f || !isFooter(f)) {
    if (fileSize < 512 || read(fileSize - 512, f, sizeof f) != sizeof f || !isFooter(f)) {
      return nullptr;
    }
  }
  if (bigEndian(f + 60, 4) != 3) return nullptr;  // not a dynamic disk
  unsigned char h[36];
  if (read(bigEndian(f + 16, 8), h, sizeof h) != sizeof h ||
      bigEndian(h, 8) != 0x6378737061727365ull) {  // "cxsparse"
    return nullptr;
  }
  const uint64_t batOffset = bigEndian(h + 16, 8);
  const uint64_t entries = bigEndian(h + 28, 4);
  const uint64_t blockSize = bigEndian(h + 32, 4);
  if (blockSize < 512 || (blockSize & (blockSize - 1)) != 0) return nullptr;
  // Blocks past the table are not stored, whatever size the footer gives.
  return std::make_unique<VhdTable>(read, blockSize, batOffset, entries);
}
