// What no live file of a file system owns, written out: its free runs and
// the slack of its files (--unallocated) into STEM-OFFSET/.bfsscan-unallocated/,
// its deleted candidates (--deleted) into STEM-OFFSET/.bfsscan-deleted/.
// Both names are longer than 14 bytes, so no file of the format can take
// them. Runs of zeros are listed, not written. Everything goes through the
// output tree, so that a dry run writes nothing and the budget counts it.
#include <algorithm>
#include <vector>

#include "deleted.h"
#include "escape.h"
#include "extract.h"
#include "free_space.h"
#include "stop.h"

namespace {

constexpr size_t kPiece = 1 << 20;
const char kUnallocatedDir[] = ".bfsscan-unallocated";
const char kDeletedDir[] = ".bfsscan-deleted";

}  // namespace

bool Extractor::holdsNonZero(uint64_t pos, uint64_t length) const {
  std::vector<char> buf;
  const uint64_t end = pos + length;
  while (pos < end) {
    checkStop(stop_);
    const uint64_t data = image_.nextData(pos);  // holes hold zeros
    if (data > pos) {
      pos = data;
      continue;
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, end - pos));
    if (buf.size() < n) buf.resize(n);
    image_.readExact(pos, buf.data(), n);
    if (std::any_of(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n),
                    [](char c) { return c != 0; })) {
      return true;
    }
    pos += n;
  }
  return false;
}

std::string Extractor::writeRun(int64_t base, const std::string& sub, const std::string& name,
                                uint64_t pos, uint64_t length, const std::string& what,
                                FileHasher* hasher) {
  if (overBudget(length, base, -1)) return "";
  const std::string dirName = directoryName(base) + "/" + sub;
  const std::string display = dirName + "/" + name;
  auto& dir = subdirs_[sub];
  if (!dir) {
    bool existed = false;
    dir = tree_->directory(dirName, existed);
  }
  try {
    std::unique_ptr<OutputFile> out = dir->create(name, display);
    FileHasher none(std::vector<std::string>{});
    copy(pos, length, *out, hasher ? *hasher : none);
    checkStop(stop_);
    out->commit();
  } catch (const ReadFailure& failure) {
    if (failure.kind() == ReadFailure::kShrunk) throw;
    tally_.incomplete = true;
    ++tally_.unreadable;
    problem(ProblemEvent::kUnreadable, base, -1,
            "error reading " + escapeForDiag(imagePath_) + ": " + failure.description() + " (" +
                what + " of the file system at " + std::to_string(base) + ")");
    return "";
  }
  tally_.bytesWritten += length;
  tally_.diskSpent += diskCost(length);
  return display;
}

void Extractor::emitRun(int64_t base, UnallocatedEvent& ev) {
  const uint64_t imageLength = static_cast<uint64_t>(image_.length());
  // Only what lies inside the image is read: a file system may run past its end.
  const uint64_t n = ev.imageOffset >= imageLength
                         ? 0
                         : std::min(ev.length, imageLength - ev.imageOffset);
  const std::string kind = ev.kind == UnallocatedEvent::kFree ? "free" : "slack";
  const std::string what = kind + " space at " + std::to_string(ev.imageOffset);
  try {
    ev.nonZero = n > 0 && holdsNonZero(ev.imageOffset, n);
  } catch (const ReadFailure& failure) {
    if (failure.kind() == ReadFailure::kShrunk) throw;
    tally_.incomplete = true;
    ++tally_.unreadable;
    problem(ProblemEvent::kUnreadable, base, ev.slot,
            "error reading " + escapeForDiag(imagePath_) + ": " + failure.description() + " (" +
                what + " of the file system at " + std::to_string(base) + ")");
  }
  if (ev.nonZero) {
    FileHasher hasher(options_.hashes);
    ev.path = writeRun(base, kUnallocatedDir, kind + "-" + std::to_string(ev.imageOffset),
                       ev.imageOffset, n, what, &hasher);
    ev.digests = hasher.finish();
    if (ev.path.empty()) {
      ev.digests.clear();
    } else {
      ++tally_.unallocatedWritten;
      tally_.unallocatedBytes += n;
    }
  }
  sink_.unallocated(ev);
}

void Extractor::extractUnowned(int64_t base, const InodeTable& inodes, uint32_t start,
                               uint32_t end) {
  subdirs_.clear();
  if (options_.deleted) {
    if (const bfsDirent* root = inodes.root()) {
      forEachDeletedName(image_, base, *root, [&](uint64_t index, const std::string& name) {
        DeletedNameEvent ev;
        ev.fs = base;
        ev.entry = index;
        ev.name = name;
        ev.dir = directoryName(base);
        ++tally_.deletedNames;
        sink_.deletedName(ev);
      }, stop_);
    }
  }

  SpaceMap space(start, end);
  inodes.forEachInUse([&](const InodeTable::Entry& e) {
    space.addExtent(e.inode.d_sblock, e.inode.d_eblock);
  });

  if (options_.deleted) {
    const uint64_t imageLength = static_cast<uint64_t>(image_.length());
    forEachDeletedCandidate(
        image_, base, inodes.slotCount(), start, end, [&](const DeletedInode& d) {
          DeletedEvent ev;
          ev.fs = base;
          ev.slot = d.slot;
          ev.firstBlock = d.firstBlock;
          ev.lastBlock = d.lastBlock;
          ev.lastByte = d.lastByte;
          ev.mode = d.mode;
          ev.uid = d.uid;
          ev.gid = d.gid;
          ev.nlink = d.nlink;
          ev.atime = d.atime;
          ev.mtime = d.mtime;
          ev.ctime = d.ctime;
          ev.imageOffset = imageOffset(base, d.first());
          ev.length = d.length();
          ev.overlapsLive = space.owned(d.firstBlock, d.lastBlock);
          const uint64_t n = ev.imageOffset >= imageLength
                                 ? 0
                                 : std::min(ev.length, imageLength - ev.imageOffset);
          if (options_.listOnly) {  // listed where it would go, its bytes not read
            ev.path = directoryName(base) + "/" + kDeletedDir + "/slot-" + std::to_string(d.slot);
            sink_.deleted(ev);
            return;
          }
          FileHasher hasher(options_.hashes);
          ev.path = writeRun(base, kDeletedDir, "slot-" + std::to_string(d.slot), ev.imageOffset,
                             n, "deleted candidate in slot " + std::to_string(d.slot), &hasher);
          std::vector<Digest> digests = hasher.finish();
          // A digest is of the whole candidate only.
          for (Digest& digest : digests) {
            if (ev.path.empty() || n != ev.length) digest.hex.clear();
          }
          ev.digests = digests;
          ev.dir = directoryName(base);
          ++tally_.deletedCandidates;
          sink_.deleted(ev);
        }, stop_);
  }

  if (options_.unallocated) {
    DataAreaEvent area;
    area.fs = base;
    area.imageOffset = imageOffset(base, start);
    area.length = static_cast<uint64_t>(end) - start + 1;
    area.overlap = space.overlap();
    area.outside = space.outside();
    sink_.dataArea(area);
    space.forEachFreeRun([&](const ByteRun& run) {
      UnallocatedEvent ev;
      ev.fs = base;
      ev.kind = UnallocatedEvent::kFree;
      ev.imageOffset = static_cast<uint64_t>(base) + run.offset;
      ev.length = run.length;
      emitRun(base, ev);
    });
    inodes.forEachInUse([&](const InodeTable::Entry& e) {
      const ByteRun slack = slackOf(e.inode.d_eoffset, start, end);
      if (slack.length == 0) return;
      UnallocatedEvent ev;
      ev.fs = base;
      ev.kind = UnallocatedEvent::kSlack;
      ev.slot = e.slot;
      ev.imageOffset = static_cast<uint64_t>(base) + slack.offset;
      ev.length = slack.length;
      emitRun(base, ev);
    });
  }
  subdirs_.clear();
}
