// Fuzzing target: the allocation tables of the sparse containers (QCOW,
// dynamic VHD, VHDX, sparse VMDK and a chain of VMDK extents). The input is
// a format byte, a claimed media length and container file size (8 bytes
// each, little-endian), then pieces of the container file: a sector number
// (4 bytes), a length (2 bytes) and the bytes; the rest of the file reads as
// zeros up to the claimed size. Checked: nextData and nextHole answer within
// [pos, length]; nextData is monotone; each answer is the one a naive walk
// of the table unit by unit gives, where that walk ends within a few
// hundred units; a run the table claims has one state throughout; no call
// reads more than a bounded number of bytes of the file, however large the
// claimed sizes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "allocation_map.h"
#include "fuzz_check.h"

namespace {

// Bytes one nextData or nextHole call may read: a few of the largest
// second-level tables (QCOW L2 of 2 MiB clusters) and pieces of the first.
constexpr uint64_t kMaxReadPerCall = uint64_t{64} << 20;
constexpr uint64_t kNaiveUnits = 256;
// The map's walk is cut short sooner than the program's (a million units)
// so that an input costs milliseconds; the early stop is then reached often.
constexpr uint64_t kMapSteps = 4096;

struct Piece {
  uint64_t offset;
  const uint8_t* bytes;
  size_t length;
};

uint64_t le(const uint8_t* p, size_t width) {
  uint64_t v = 0;
  for (size_t i = width; i > 0; --i) v = v << 8 | p[i - 1];
  return v;
}

// The container file: zeros up to the claimed size, with the pieces over
// them; counts the bytes handed out.
class SparseFile {
 public:
  SparseFile(uint64_t size, std::vector<Piece> pieces) : size_(size), pieces_(std::move(pieces)) {}

  size_t read(uint64_t off, unsigned char* buf, size_t n) {
    if (off >= size_) return 0;
    const size_t m = static_cast<size_t>(std::min<uint64_t>(n, size_ - off));
    read_ += m;
    FUZZ_CHECK(read_ <= kMaxReadPerCall);
    std::memset(buf, 0, m);
    for (const Piece& p : pieces_) {
      const uint64_t from = std::max(off, p.offset);
      const uint64_t to = std::min(off + m, p.offset + p.length);
      if (from < to) std::memcpy(buf + (from - off), p.bytes + (from - p.offset), to - from);
    }
    return m;
  }
  void resetCount() { read_ = 0; }
  FileReader reader() {
    return [this](uint64_t off, unsigned char* buf, size_t n) { return read(off, buf, n); };
  }

 private:
  uint64_t size_;
  std::vector<Piece> pieces_;
  uint64_t read_ = 0;
};

std::unique_ptr<AllocationTable> makeTable(unsigned format, SparseFile& file, uint64_t fileSize,
                                           uint64_t length) {
  const FileReader read = file.reader();
  switch (format) {
    case 0: return qcowAllocation(read);
    case 1: return vhdAllocation(read, fileSize);
    case 2: return vhdxAllocation(read);
    case 3: return vmdkSparseAllocation(read, fileSize);
    default: {
      // A flat extent, a zero extent, then the sparse extent of the file.
      std::vector<VmdkExtent> extents;
      extents.push_back({VmdkExtent::kData, length / 4, nullptr});
      extents.push_back({VmdkExtent::kZero, length / 4, nullptr});
      extents.push_back({VmdkExtent::kSparse, length - length / 4 * 2,
                         vmdkSparseAllocation(read, fileSize)});
      return vmdkAllocation(std::move(extents));
    }
  }
}

// The first offset at or after pos in a unit of state data, asking the
// table one unit at a time; false when that takes more than kNaiveUnits.
bool naiveNext(AllocationTable& table, uint64_t length, uint64_t pos, bool data, uint64_t* at) {
  if (pos >= length) {
    *at = length;
    return true;
  }
  const uint64_t size = table.unitSize();
  const uint64_t lastUnit = (length - 1) / size;
  for (uint64_t u = pos / size, n = 0; n < kNaiveUnits; ++u, ++n) {
    if (u > lastUnit) {
      *at = length;
      return true;
    }
    if (table.run(u).data == data) {
      *at = std::max(u * size, pos);
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 17) return 0;
  const unsigned format = data[0] % 5;
  const uint64_t length = le(data + 1, 8);
  const uint64_t fileSize = le(data + 9, 8);
  std::vector<Piece> pieces;
  for (size_t at = 17; at + 6 <= size;) {
    const uint64_t sector = le(data + at, 4);
    const size_t n = std::min<size_t>(le(data + at + 4, 2), size - at - 6);
    pieces.push_back({sector * 512, data + at + 6, n});
    at += 6 + n;
  }
  SparseFile file(fileSize, pieces);
  std::unique_ptr<AllocationTable> table = makeTable(format, file, fileSize, length);
  file.resetCount();
  if (!table) return 0;
  const uint64_t unit = table->unitSize();
  FUZZ_CHECK(unit > 0);

  // A second table of the same file, asked one unit at a time.
  SparseFile naiveFile(fileSize, pieces);
  std::unique_ptr<AllocationTable> naive = makeTable(format, naiveFile, fileSize, length);
  FUZZ_CHECK(naive != nullptr);

  // Probes: the start, unit boundaries and their neighbours, the end.
  std::vector<uint64_t> probes = {0, unit + 1, length / 2, length - 1};
  for (size_t i = 17; i + 8 <= size && probes.size() < 8; i += 97) probes.push_back(le(data + i, 8));
  std::sort(probes.begin(), probes.end());

  AllocationMap map(std::move(table), length, kMapSteps);
  uint64_t lastData = 0;
  for (const uint64_t p : probes) {
    file.resetCount();
    const uint64_t d = map.nextData(p);
    file.resetCount();
    const uint64_t h = map.nextHole(p);
    const uint64_t floor = std::min(p, length);
    FUZZ_CHECK(d >= floor && d <= length);
    FUZZ_CHECK(h >= floor && h <= length);
    FUZZ_CHECK(d >= lastData);
    lastData = d;
    file.resetCount();
    FUZZ_CHECK(map.nextHole(d) >= d);
    file.resetCount();
    if (h < length) FUZZ_CHECK(map.nextData(h) > h);  // a hole claimed holds no data

    naiveFile.resetCount();
    uint64_t expect;
    if (naiveNext(*naive, length, p, true, &expect)) FUZZ_CHECK(d == expect);
    naiveFile.resetCount();
    if (naiveNext(*naive, length, p, false, &expect)) FUZZ_CHECK(h == expect);

    // The run the table claims at p's unit has one state throughout.
    if (p < length) {
      naiveFile.resetCount();
      const UnitRun r = naive->run(p / unit);
      FUZZ_CHECK(r.units >= 1);
      const uint64_t last = (length - 1) / unit;
      for (uint64_t i = 1; i < r.units && i < 64 && p / unit + i <= last; ++i) {
        FUZZ_CHECK(naive->run(p / unit + i).data == r.data);
      }
    }
  }
  return 0;
}
