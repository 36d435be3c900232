// The block allocation table of a VHDX disk: found through the region
// table (at 192 KiB) and the metadata region (block size, logical sector
// size). Its little-endian entries give each payload block's state; after
// every chunk of payload entries comes one entry of a sector bitmap. Only
// a block fully or partly present holds data.
#include <cstring>

#include "allocation_map.h"

namespace {

// Identifiers as stored (little-endian fields).
const unsigned char kBatRegion[16] = {0x66, 0x77, 0xc2, 0x2d, 0x23, 0xf6, 0x00, 0x42,
                                      0x9d, 0x64, 0x11, 0x5e, 0x9b, 0xfd, 0x4a, 0x08};
const unsigned char kMetadataRegion[16] = {0x06, 0xa2, 0x7c, 0x8b, 0x90, 0x47, 0x9a, 0x4b,
                                           0xb8, 0xfe, 0x57, 0x5f, 0x05, 0x0f, 0x88, 0x6e};
const unsigned char kFileParameters[16] = {0x37, 0x67, 0xa1, 0xca, 0x36, 0xfa, 0x43, 0x4d,
                                           0xb3, 0xb6, 0x33, 0xf0, 0xaa, 0x44, 0xe7, 0x6b};
const unsigned char kSectorSize[16] = {0x1d, 0xbf, 0x41, 0x81, 0x6f, 0xa9, 0x09, 0x47,
                                       0xba, 0x47, 0xf2, 0x33, 0xa8, 0xfa, 0xab, 0x5f};
constexpr uint64_t kMaxEntries = 2047;

class VhdxTable : public AllocationTable {
 public:
  VhdxTable(const FileReader& read, uint64_t blockSize, uint64_t chunk, uint64_t batOffset,
            uint64_t batLength)
      : bat_(read), blockSize_(blockSize), chunk_(chunk), batOffset_(batOffset),
        entries_(batLength / 8) {}

  uint64_t unitSize() const override { return blockSize_; }

  UnitRun run(uint64_t unit) override {
    const uint64_t index = unit + unit / chunk_;
    if (index >= entries_) return {true, 1};  // the library tells what is there
    unsigned char e[8];
    if (!bat_.at(batOffset_ + index * 8, 8, e)) return {true, 1};
    const unsigned state = e[0] & 7;
    return {state == 6 || state == 7, 1};
  }

 private:
  TablePieces bat_;
  uint64_t blockSize_, chunk_, batOffset_, entries_;
};

// The offset and length of the entry with identifier id in a table of
// count entries of 32 bytes at table (offset field at 16, then length).
bool findEntry(const unsigned char* table, uint64_t count, const unsigned char* id,
               size_t offsetWidth, uint64_t* off, uint64_t* len) {
  for (uint64_t i = 0; i < count; ++i) {
    const unsigned char* e = table + 32 * i;
    if (std::memcmp(e, id, 16) != 0) continue;
    *off = littleEndian(e + 16, offsetWidth);
    *len = littleEndian(e + 16 + offsetWidth, 4);
    return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<AllocationTable> vhdxAllocation(const FileReader& read) {
  static constexpr size_t kTable = 32 + 32 * kMaxEntries;
  std::unique_ptr<unsigned char[]> t(new unsigned char[kTable]);
  if (read(192 << 10, t.get(), kTable) != kTable || littleEndian(t.get(), 4) != 0x69676572u) {
    return nullptr;  // "regi"
  }
  const uint64_t regions = littleEndian(t.get() + 8, 4);
  uint64_t batOffset, batLength, metaOffset, metaLength;
  if (regions > kMaxEntries ||
      !findEntry(t.get() + 16, regions, kBatRegion, 8, &batOffset, &batLength) ||
      !findEntry(t.get() + 16, regions, kMetadataRegion, 8, &metaOffset, &metaLength)) {
    return nullptr;
  }
  if (read(metaOffset, t.get(), 32 + 32 * kMaxEntries) != 32 + 32 * kMaxEntries ||
      std::memcmp(t.get(), "metadata", 8) != 0) {
    return nullptr;
  }
  const uint64_t items = littleEndian(t.get() + 10, 2);
  uint64_t paramsAt, paramsLen, sectorAt, sectorLen;
  if (items > kMaxEntries ||
      !findEntry(t.get() + 32, items, kFileParameters, 4, &paramsAt, &paramsLen) ||
      !findEntry(t.get() + 32, items, kSectorSize, 4, &sectorAt, &sectorLen)) {
    return nullptr;
  }
  unsigned char p[8], s[4];
  if (read(metaOffset + paramsAt, p, 8) != 8 || read(metaOffset + sectorAt, s, 4) != 4) {
    return nullptr;
  }
  const uint64_t blockSize = littleEndian(p, 4);
  const uint64_t sectorSize = littleEndian(s, 4);
  if (blockSize < (1 << 20) || blockSize > (256 << 20) || (blockSize & (blockSize - 1)) != 0 ||
      (sectorSize != 512 && sectorSize != 4096) || (p[4] & 2) != 0) {  // a differencing disk
    return nullptr;
  }
  const uint64_t chunk = (uint64_t{1} << 23) * sectorSize / blockSize;
  return std::make_unique<VhdxTable>(read, blockSize, chunk, batOffset, batLength);
}
