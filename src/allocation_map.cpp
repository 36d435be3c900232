// Walking a container's allocation table for the next data or hole.
#include "allocation_map.h"

#include <cstring>

namespace {

// Units looked at in one call at most; past that the walk stops and the
// place it reached counts as data (the next call goes on from there), so
// that no one call runs long whatever the table holds.
constexpr uint64_t kMaxSteps = 1 << 20;

}  // namespace

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

uint64_t AllocationMap::next(uint64_t pos, bool data) {
  if (pos >= length_) return length_;
  const uint64_t size = table_->unitSize();
  uint64_t unit = pos / size;
  for (uint64_t step = 0; step < kMaxSteps; ++step) {
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
