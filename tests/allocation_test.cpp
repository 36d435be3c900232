// The allocation table readers, fed table bytes from memory: where the
// data and the holes of the media are, and what a hostile header gives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "allocation_map.h"

namespace {

// A container file held in memory, written at offsets.
struct MemoryFile {
  std::string bytes;
  void put(size_t at, const std::string& b) {
    if (bytes.size() < at + b.size()) bytes.resize(at + b.size());
    bytes.replace(at, b.size(), b);
  }
  FileReader reader() const {
    return [this](uint64_t off, unsigned char* buf, size_t n) -> size_t {
      if (off >= bytes.size()) return 0;
      const size_t got = std::min<uint64_t>(n, bytes.size() - off);
      std::memcpy(buf, bytes.data() + off, got);
      return got;
    };
  }
};

std::string be(uint64_t v, int width) {
  std::string s(width, '\0');
  for (int i = 0; i < width; ++i) s[i] = static_cast<char>(v >> (8 * (width - 1 - i)));
  return s;
}

std::string le(uint64_t v, int width) {
  std::string s(width, '\0');
  for (int i = 0; i < width; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// A QCOW2 disk of 64 KiB clusters whose second L1 entry names an L2 table
// at 128 KiB holding one cluster, at index 3.
MemoryFile qcow(unsigned clusterBits) {
  MemoryFile f;
  f.put(0, "QFI\xfb" + be(2, 4));
  f.put(20, be(clusterBits, 4));
  f.put(36, be(2, 4) + be(65536, 8));
  f.put(65536 + 8, be(0x20000, 8));
  f.put(0x20000 + 3 * 8, be(0x8000000000030000ull, 8));
  f.bytes.resize(0x30000);  // the whole L2 table
  return f;
}

// A dynamic VHD of 2 MiB blocks whose second block alone is stored.
MemoryFile vhd() {
  MemoryFile f;
  f.put(0, "conectix" + std::string(8, '\0') + be(512, 8));
  f.put(60, be(3, 4));
  f.put(512, "cxsparse" + std::string(8, '\0') + be(1536, 8));
  f.put(512 + 28, be(4, 4) + be(2 << 20, 4));
  f.put(1536, be(0xffffffff, 4) + be(16, 4) + be(0xffffffff, 4) + be(0xffffffff, 4));
  return f;
}

// A sparse VMDK extent of 64 KiB grains, 512 to a table, whose second
// grain table (at sector 8) holds grain 5 and a grain marked as zeros.
MemoryFile vmdk() {
  MemoryFile f;
  f.put(0, "KDMV" + le(1, 4) + le(4, 4) + le(0, 8) + le(128, 8));
  f.put(44, le(512, 4));
  f.put(56, le(4, 8));
  f.put(4 * 512 + 4, le(8, 4));
  f.put(8 * 512 + 5 * 4, le(100, 4));
  f.put(8 * 512 + 6 * 4, le(1, 4));
  f.bytes.resize(8 * 512 + 512 * 4);  // the whole grain table
  return f;
}

TEST(AllocationTest, DataAndHolesOfEachTable) {
  const uint64_t kMiB = 1 << 20;
  const MemoryFile qcowFile = qcow(16), hostileQcow = qcow(40), vhdFile = vhd(),
                   vmdkFile = vmdk();
  std::vector<VmdkExtent> extents;
  extents.push_back({VmdkExtent::kZero, 8 * kMiB, nullptr});
  extents.push_back({VmdkExtent::kSparse, 64 * kMiB, vmdkSparseAllocation(vmdkFile.reader(),
                                                                      vmdkFile.bytes.size())});
  extents.push_back({VmdkExtent::kData, kMiB, nullptr});
  struct {
    const char* label;
    std::unique_ptr<AllocationTable> table;
    uint64_t length;
    uint64_t data, hole;  // the first data, and the hole after it
  } cases[] = {
      {"qcow2", qcowAllocation(qcowFile.reader()), 1024 * kMiB, 512 * kMiB + 3 * 65536,
       512 * kMiB + 4 * 65536},
      {"qcow2, clusters too large: no table", qcowAllocation(hostileQcow.reader()), 0, 0, 0},
      {"dynamic vhd", vhdAllocation(vhdFile.reader(), vhdFile.bytes.size()), 16 * kMiB,
       2 * kMiB, 4 * kMiB},
      {"vmdk: zero, sparse, flat extents", vmdkAllocation(std::move(extents)), 73 * kMiB,
       8 * kMiB + 32 * kMiB + 5 * 65536, 8 * kMiB + 32 * kMiB + 6 * 65536},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.length == 0) {
      EXPECT_EQ(c.table, nullptr);
      continue;
    }
    ASSERT_NE(c.table, nullptr);
    AllocationMap map(std::move(c.table), c.length);
    EXPECT_EQ(map.nextData(0), c.data);
    EXPECT_EQ(map.nextHole(c.data), c.hole);
    EXPECT_EQ(map.nextHole(0), 0u);
  }
}

}  // namespace
