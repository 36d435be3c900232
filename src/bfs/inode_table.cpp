#include "inode_table.h"

#include <algorithm>
#include <optional>
#include <string>

#include "aligned_buffer.h"
#include "consistency.h"
#include "record_events.h"
#include "stop.h"

namespace {
constexpr uint64_t kSlotsPerRead = 16384;  // about 1 MiB of slots

std::string slotName(uint64_t slot) { return "inode slot " + std::to_string(slot); }

bool slotUnused(const char* slot) { return slot[0] == 0 && slot[1] == 0; }

// Decodes the slot raw of slot number slot into d: the condition it breaks
// (its own checks, then the shape of a flat file system), or null.
const char* decodeSlot(const char* raw, uint32_t slot, bfsDirent* d, bfsDirent::Stage* stage) {
  const char* violated = bfsDirent::decode(raw, d, stage);
  if (violated != nullptr || d->undefined()) return violated;
  if (slot == BFS_ROOTINO) return d->isDirectory() ? nullptr : "bd.isDirectory()";
  if (!d->isRegular()) return "bd.isRegular()";
  if (d->d_fattr.va_nlink != 1) return "bd.d_fattr.va_nlink == 1";
  return nullptr;
}

// Reads up to k slots at pos into buf and returns how many were read whole.
// When a large read fails with an error of the system, the slots are read
// one at a time, so that every slot before the bad one is still delivered;
// the failure is then left in failure.
uint64_t readSlots(const Image& image, uint64_t pos, char* buf, uint64_t k,
                   std::optional<ReadFailure>& failure) {
  try {
    return image.readUpTo(pos, buf, k * BFS_INODESIZE) / BFS_INODESIZE;
  } catch (const ReadFailure& whole) {
    if (whole.kind() != ReadFailure::kSystemError) throw;
  }
  for (uint64_t n = 0; n < k; ++n) {
    try {
      const uint64_t at = n * BFS_INODESIZE;
      if (image.readUpTo(pos + at, buf + at, BFS_INODESIZE) < BFS_INODESIZE) return n;
    } catch (const ReadFailure& slotFailure) {
      if (slotFailure.kind() != ReadFailure::kSystemError) throw;
      failure = slotFailure;
      return n;
    }
  }
  return k;
}
}  // namespace

InodeTable::InodeTable(const Image& image, int64_t base, uint64_t slotCount)
    : image_(&image), base_(base), slotCount_(slotCount) {}

void InodeTable::walk(uint64_t to, OffsetRuns* unused,
                      const std::function<void(uint32_t, const char*)>& fn) const {
  // The slots lie back to back from 512 up to bdsup_start, which is below
  // 2^32, so a slot number fits in 32 bits and its offset does not wrap.
  const uint64_t first = imageOffset(base_, bfsDirent::bfsINO2OFF(BFS_ROOTINO));
  const uint64_t length = static_cast<uint64_t>(image_->length());
  // Slots from 2 up to this one lie wholly inside the image.
  const uint64_t inside =
      length < first + BFS_INODESIZE ? BFS_ROOTINO
                                     : BFS_ROOTINO + (length - first) / BFS_INODESIZE;
  auto slotPos = [first](uint64_t i) { return first + (i - BFS_ROOTINO) * BFS_INODESIZE; };
  // Every slot from runStart up to the next one in use is unused.
  uint64_t runStart = first;
  auto used = [&](uint64_t i, const char* raw) {
    const uint64_t pos = slotPos(i);
    if (unused) unused->add(runStart, pos);
    runStart = pos + BFS_INODESIZE;
    fn(static_cast<uint32_t>(i), raw);
  };
  std::unique_ptr<AlignedBuffer> buf;

  for (uint64_t i = BFS_ROOTINO; i < to;) {
    checkStop(stop_);
    const uint64_t pos = slotPos(i);
    // Runs known to be unused, and holes of a sparse image, are passed over.
    uint64_t skipTo = unused ? unused->skipFrom(pos) : pos;
    if (skipTo == pos) {
      const uint64_t data = image_->nextData(pos);
      // A slot is unused when its first two bytes lie in the hole.
      if (data >= pos + 2) skipTo = data - 1;
    }
    if (skipTo > pos) {
      uint64_t n = (skipTo - pos + BFS_INODESIZE - 1) / BFS_INODESIZE;
      n = std::min(n, std::min(to, std::max(inside, i)) - i);
      if (n > 0) {
        i += n;
        continue;
      }
    }

    // A stretch up to the next hole (the slots whose first two bytes lie
    // before it), and no more than one slot past the end of the image, so
    // that a small image needs a small buffer.
    const uint64_t cap = std::min(kSlotsPerRead, std::max(inside, i) - i + 1);
    uint64_t k = std::min(to - i, cap);
    if (unused) {  // up to the next run known to be unused
      const uint64_t next = unused->nextStart(pos);
      if (next != UINT64_MAX) k = std::min(k, (next - pos + BFS_INODESIZE - 1) / BFS_INODESIZE);
    }
    const uint64_t hole = image_->nextHole(pos);
    if (hole < length) k = std::min(k, std::max<uint64_t>(1, (hole - pos) / BFS_INODESIZE));

    std::optional<ReadFailure> failure;
    size_t inMemory = static_cast<size_t>(k * BFS_INODESIZE);
    const char* slots = image_->inPlace(pos, inMemory);
    uint64_t whole = inMemory / BFS_INODESIZE;
    if (slots == nullptr) {
      if (!buf || buf->size() < k * BFS_INODESIZE) {
        buf = std::make_unique<AlignedBuffer>(
            std::min(kSlotsPerRead, std::max(k, inside - std::min(inside, i) + 1)) *
            BFS_INODESIZE);
      }
      slots = buf->data();
      whole = readSlots(*image_, pos, buf->data(), k, failure);
    }
    for (uint64_t j = 0; j < whole; ++j) {
      const char* slot = slots + j * BFS_INODESIZE;
      if (!slotUnused(slot)) used(i + j, slot);
    }
    if (whole < k) {
      // What was read before the failure is known all the same.
      if (unused) unused->add(runStart, pos + whole * BFS_INODESIZE);
      ReadFailure end = failure ? *failure : ReadFailure(ReadFailure::kEndOfImage);
      end.setItem(slotName(i + whole));
      throw end;
    }
    i += k;
  }
  if (unused && to > BFS_ROOTINO) unused->add(runStart, slotPos(to));
}

void InodeTable::add(uint32_t slot, const bfsDirent& bd) {
  if (slot == BFS_ROOTINO) {
    root_ = bd;
    hasRoot_ = true;
  }
  if (slot <= UINT16_MAX) used16_[slot] = true;
  if (kept_.size() < kMaxKept) {
    kept_.push_back({slot, bd});
  } else {
    dropped_ = true;
  }
}

InodeTable InodeTable::load(const Image& image, int64_t base, const bfsSuperBlock& bsb,
                            OffsetRuns& unused, ScanSink& sink, const StopToken* stop,
                            BrokenRuns* salvage) {
  InodeTable table(image, base, bsb.numInodes());
  table.unused_ = &unused;
  table.stop_ = stop;
  const uint64_t first = imageOffset(base, bfsDirent::bfsINO2OFF(BFS_ROOTINO));
  try {
    table.walk(table.slotCount_, &unused, [&](uint32_t slot, const char* raw) {
      bfsDirent bd;
      bfsDirent::Stage stage;
      const char* violated = decodeSlot(raw, slot, &bd, &stage);
      InodeEvent ev{base, slot, inodeFields(bd, stage), static_cast<InodeEvent::Stage>(stage), {}};
      if (violated != nullptr && salvage != nullptr) ev.broken = violated;
      sink.inode(ev);
      if (violated == nullptr) {
        if (salvage != nullptr) salvage->sound();
        table.add(slot, bd);
        return;
      }
      if (salvage == nullptr) require(false, violated);
      if (slot == BFS_ROOTINO) table.rootBroken_ = true;
      salvage->broken(slot, first + (slot - BFS_ROOTINO) * uint64_t{BFS_INODESIZE}, violated);
    });
  } catch (...) {
    if (salvage != nullptr) salvage->finish();  // what was met before is told
    throw;
  }
  if (salvage != nullptr) salvage->finish();
  if (table.dropped_) {
    table.kept_ = std::deque<Entry>();
  }
  return table;
}

void InodeTable::forEachInUse(const std::function<void(const Entry&)>& fn) const {
  if (!dropped_) {
    for (const Entry& e : kept_) fn(e);
    return;
  }
  // Decoded, reported and checked once already: this pass only hands them out.
  walk(slotCount_, unused_, [&](uint32_t slot, const char* raw) {
    Entry e{slot, bfsDirent()};
    bfsDirent::Stage stage;
    if (decodeSlot(raw, slot, &e.inode, &stage) == nullptr) fn(e);  // broken ones were left out
  });
}
