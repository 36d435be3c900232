// Which parts of a sparse container's media hold data, told by the
// container's own allocation tables, so that the scan passes over the rest
// as it passes over the holes of a sparse file. A table answers for fixed
// units of the media (a cluster, a block, a sector); its entries are read
// from the container file in small pieces, on demand, so memory stays
// bounded whatever size the header claims. What cannot be told (an entry
// that cannot be read) counts as data: the container's library then reads
// it and says what is wrong.
#ifndef BFSSCAN_ALLOCATION_MAP_H
#define BFSSCAN_ALLOCATION_MAP_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

// Reads up to n bytes of the container file at off into buf; returns how
// many it read (fewer at the end of the file, 0 on any failure).
using FileReader = std::function<size_t(uint64_t off, unsigned char* buf, size_t n)>;

// A run of units that share one state, from the unit asked about on.
struct UnitRun {
  bool data;
  uint64_t units;  // at least 1
};

// One format's table.
class AllocationTable {
 public:
  virtual ~AllocationTable() = default;
  virtual uint64_t unitSize() const = 0;
  // The state of unit i and how many units from i on share it.
  virtual UnitRun run(uint64_t unit) = 0;
};

// Entries of a table in the container file, read a piece at a time.
class TablePieces {
 public:
  static constexpr size_t kPiece = 1 << 16;
  explicit TablePieces(FileReader read) : read_(std::move(read)) {}
  // The width bytes (at most 8) at file offset off; false when the file
  // does not hold them.
  bool at(uint64_t off, size_t width, unsigned char* out);

 private:
  FileReader read_;
  std::unique_ptr<unsigned char[]> piece_;
  uint64_t pieceAt_ = UINT64_MAX;
  size_t pieceLen_ = 0;
};

// The second-level tables of a two-level table (QCOW L2 tables, VMDK
// grain tables): each one named is read whole once and summarized as the
// few entries that hold data, or none; the empty ones are remembered (a
// bounded number), so that a table named by many first-level entries is
// not walked entry by entry each time.
class LeafTables {
 public:
  // Tables of entries entries of width bytes; holdsData tells an entry.
  LeafTables(FileReader read, size_t width, uint64_t entries,
             std::function<bool(const unsigned char*)> holdsData);
  // Entry index of the table at file offset off and how many entries from
  // it on share its state (up to the end of the table).
  UnitRun run(uint64_t off, uint64_t index);

 private:
  void summarize(uint64_t off);

  FileReader read_;
  TablePieces pieces_;
  size_t width_;
  uint64_t entries_;
  std::function<bool(const unsigned char*)> holdsData_;
  std::set<uint64_t> empty_;
  uint64_t summarized_ = UINT64_MAX;  // the table summarized last
  std::vector<uint64_t> data_;        // its entries that hold data, in order
  bool whole_ = false;                // whether data_ lists them all
  bool readable_ = false;
};

// Big- and little-endian numbers of table bytes.
uint64_t bigEndian(const unsigned char* p, size_t width);
uint64_t littleEndian(const unsigned char* p, size_t width);

// nextData / nextHole of a media of length bytes from its table.
class AllocationMap {
 public:
  // Units looked at in one call at most; past that the walk stops and the
  // place it reached counts as data (the next call goes on from there), so
  // that no one call runs long whatever the table holds.
  static constexpr uint64_t kMaxSteps = 1 << 20;

  AllocationMap(std::unique_ptr<AllocationTable> table, uint64_t length,
                uint64_t maxSteps = kMaxSteps)
      : table_(std::move(table)), length_(length), maxSteps_(maxSteps) {}
  uint64_t nextData(uint64_t pos);
  uint64_t nextHole(uint64_t pos);

 private:
  // The first offset at or after pos in a unit whose state is data.
  uint64_t next(uint64_t pos, bool data);

  std::unique_ptr<AllocationTable> table_;
  uint64_t length_;
  uint64_t maxSteps_;
};

// The tables of each format (each in its own unit), or null where the
// file holds none this program can read (then everything counts as data).
// fileSize is the container file's size.
std::unique_ptr<AllocationTable> qcowAllocation(const FileReader& read);
std::unique_ptr<AllocationTable> vhdAllocation(const FileReader& read, uint64_t fileSize);
std::unique_ptr<AllocationTable> vhdxAllocation(const FileReader& read);
// One sparse VMDK extent file, in units of its grains.
std::unique_ptr<AllocationTable> vmdkSparseAllocation(const FileReader& read, uint64_t fileSize);

// One extent of a VMware disk, in the order of the descriptor.
struct VmdkExtent {
  enum Kind { kData, kZero, kSparse } kind;
  uint64_t size;                          // bytes of media
  std::unique_ptr<AllocationTable> table;  // of a sparse one; null: all data
};
std::unique_ptr<AllocationTable> vmdkAllocation(std::vector<VmdkExtent> extents);

#endif  // BFSSCAN_ALLOCATION_MAP_H
