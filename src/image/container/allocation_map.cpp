// Walking a container's allocation table for the next data or hole.
#include "allocation_map.h"

#include <algorithm>
#include <cstring>

uint64_t bigEndian(const unsigned char* p, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v = v << 8 | p[i];
  return v;
}

uint64_t littleEndian(const unsigned char* p, size_t width) {
  uint64_t v = 0;
  for (size_t i = width; i > 0; --i) v = v << 8 | p[i - 1];
  return v;
}

bool TablePieces::at(uint64_t off, size_t width, unsigned char* out) {
  if (off > UINT64_MAX - width) return false;
  if (off % kPiece + width > kPiece) return read_(off, out, width) == width;
  const uint64_t start = off - off % kPiece;
  if (start != pieceAt_) {
    if (!piece_) piece_.reset(new unsigned char[kPiece]);
    pieceAt_ = start;
    pieceLen_ = read_(start, piece_.get(), kPiece);
  }
  if (off - start + width > pieceLen_) return false;
  std::memcpy(out, piece_.get() + (off - start), width);
  return true;
}

namespace {

constexpr size_t kMaxEmptyTables = 4096;  // second-level tables remembered empty
constexpr size_t kMaxListed = 4096;       // entries with data listed of one table

}  // namespace

LeafTables::LeafTables(FileReader read, size_t width, uint64_t entries,
                       std::function<bool(const unsigned char*)> holdsData)
    : read_(read), pieces_(read), width_(width), entries_(entries),
      holdsData_(std::move(holdsData)) {}

void LeafTables::summarize(uint64_t off) {
  summarized_ = off;
  data_.clear();
  whole_ = true;
  readable_ = true;
  unsigned char piece[4096];
  const uint64_t bytes = entries_ * width_;
  for (uint64_t done = 0; done < bytes; done += sizeof piece) {
    const size_t n = bytes - done < sizeof piece ? bytes - done : sizeof piece;
    if (off > UINT64_MAX - done || read_(off + done, piece, n) != n) {
      readable_ = false;
      return;
    }
    for (size_t i = 0; i < n && whole_; i += width_) {
      if (!holdsData_(piece + i)) continue;
      if (data_.size() == kMaxListed) {
        whole_ = false;
      } else {
        data_.push_back((done + i) / width_);
      }
    }
  }
  if (whole_ && data_.empty() && empty_.size() < kMaxEmptyTables) empty_.insert(off);
}

UnitRun LeafTables::run(uint64_t off, uint64_t index) {
  const uint64_t toEnd = entries_ - index;
  if (empty_.count(off) != 0) return {false, toEnd};
  if (off != summarized_) summarize(off);
  if (!readable_) return {true, toEnd};  // the library tells what is there
  if (!whole_) {
    unsigned char e[8];
    if (off > UINT64_MAX - index * width_ || !pieces_.at(off + index * width_, width_, e)) {
      return {true, 1};
    }
    return {holdsData_(e), 1};
  }
  const auto next = std::lower_bound(data_.begin(), data_.end(), index);
  if (next != data_.end() && *next == index) return {true, 1};
  return {false, (next == data_.end() ? entries_ : *next) - index};
}

uint64_t AllocationMap::next(uint64_t pos, bool data) {
  if (pos >= length_) return length_;
  const uint64_t size = table_->unitSize();
  uint64_t unit = pos / size;
  for (uint64_t step = 0; step < maxSteps_; ++step) {
    const UnitRun r = table_->run(unit);
    if (r.data == data) {
      const uint64_t at = unit * size > pos ? unit * size : pos;
      return at < length_ ? at : length_;
    }
    if (r.units >= length_ / size - unit + 1) return length_;
    unit += r.units;
  }
  // Stopped early: for data the place reached may be read; a hole is not
  // claimed where the table was not read to its end.
  return data && unit * size < length_ ? unit * size : length_;
}

uint64_t AllocationMap::nextData(uint64_t pos) { return next(pos, true); }

uint64_t AllocationMap::nextHole(uint64_t pos) { return next(pos, false); }
