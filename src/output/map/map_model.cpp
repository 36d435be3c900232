#include "map_model.h"
#include "sys/fs/bfs.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint8_t kNoGroup = 0xFF;
constexpr size_t kNamedSlots = 65536;  // names refer to 16-bit inode numbers

std::string clip(const std::string& text) {
  return text.size() <= MapModel::kMaxText ? text : text.substr(0, MapModel::kMaxText);
}

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

Outcome outcomeOf(FileEvent::Status status) {
  switch (status) {
    case FileEvent::kPending: return Outcome::kPending;
    case FileEvent::kExtracted: return Outcome::kExtracted;
    case FileEvent::kListed: return Outcome::kListed;
    case FileEvent::kSkipped: return Outcome::kSkipped;
    case FileEvent::kFailed: return Outcome::kFailed;
    case FileEvent::kDirectory: break;
  }
  return Outcome::kFound;
}

std::vector<MapFile>::iterator findSlot(std::vector<MapFile>& files, uint32_t slot) {
  return std::lower_bound(files.begin(), files.end(), slot,
                          [](const MapFile& f, uint32_t s) { return f.slot < s; });
}

}  // namespace

uint64_t MapGroup::total() const {
  uint64_t sum = 0;
  for (uint64_t c : count) sum += c;
  return sum;
}

void MapGroup::add(Outcome to) { ++count[static_cast<int>(to)]; }

void MapGroup::move(Outcome from, Outcome to) {
  if (count[static_cast<int>(from)] > 0) --count[static_cast<int>(from)];
  ++count[static_cast<int>(to)];
}

uint64_t MapLane::groupWidth() const {
  const uint64_t bytes = static_cast<uint64_t>(end) + 1;
  return (bytes + MapModel::kLaneGroups - 1) / MapModel::kLaneGroups;
}

unsigned MapLane::groupOf(uint64_t first) const {
  return static_cast<unsigned>(std::min<uint64_t>(first / groupWidth(), MapModel::kLaneGroups - 1));
}

MapModel::MapModel() : regions_(kRegions) {}

unsigned MapModel::regionOf(uint64_t offset) const {
  if (image_.length <= 0) return 0;
  const double at = static_cast<double>(offset) / static_cast<double>(image_.length) * kRegions;
  return at >= kRegions - 1 ? kRegions - 1 : static_cast<unsigned>(at);
}

void MapModel::start(const std::string& path) { path_ = clip(path); }

void MapModel::image(const ImageEvent& e) {
  image_ = e;
  image_.path = clip(e.name.empty() ? e.path : e.name + " (" + e.path + ")");
  hasImage_ = true;
}

void MapModel::hit(const HitEvent& e) {
  if (e.verdict != HitEvent::kDiscarded) return;
  addBandMark(MapMark::kDiscarded, static_cast<uint64_t>(e.offset),
              "magic at " + hex(e.offset) + " discarded: start " + hex(e.start) +
                  " is not below end " + hex(e.end));
}

void MapModel::fileSystem(const FileSystemEvent& e) {
  ++fileSystems_;
  currentBase_ = e.base;
  slotGroup_.clear();
  slotGroup_.shrink_to_fit();
  if (lanes_.size() >= kMaxLanes || e.base < 0) {
    currentHasLane_ = false;
    ++regions_[regionOf(static_cast<uint64_t>(std::max<int64_t>(e.base, 0)))].fileSystems;
    return;
  }
  MapLane lane;
  lane.base = e.base;
  lane.start = e.start;
  lane.end = e.end;
  lane.slots = e.slotCount;
  lane.span = static_cast<uint64_t>(lane.end) + 1;
  placeInLanes(lane);
  lanes_.push_back(std::move(lane));
  currentHasLane_ = true;
}

// The innermost kept file of an earlier file system whose data holds this
// one's base; failing that, an earlier file system whose counted files
// cover it.
void MapModel::placeInLanes(MapLane& lane) {
  const uint64_t b = static_cast<uint64_t>(lane.base);
  uint64_t best = UINT64_MAX;
  for (size_t i = 0; i < lanes_.size(); ++i) {
    const MapLane& l = lanes_[i];
    const uint64_t lb = static_cast<uint64_t>(l.base);
    if (b < lb || b - lb >= l.span) continue;
    for (const MapFile& f : l.files) {
      const uint64_t at = lb + f.first;
      if (b >= at && b - at < f.length && f.length < best) {
        best = f.length;
        lane.parent = static_cast<int>(i);
        lane.holderOffset = at;
        lane.holderLength = f.length;
        lane.holderName = f.name;
      }
    }
  }
  if (lane.parent < 0) {
    for (size_t i = 0; i < lanes_.size(); ++i) {
      const MapLane& l = lanes_[i];
      const uint64_t lb = static_cast<uint64_t>(l.base);
      if (b < lb || b - lb >= l.span || l.groups.empty() || l.span >= best) continue;
      if (l.groups[l.groupOf(b - lb)].total() == 0) continue;
      best = l.span;
      lane.parent = static_cast<int>(i);
      lane.holderOffset = b;
      lane.holderLength = std::max<uint64_t>(lane.span, 1);
      lane.holderName.clear();
    }
  }
  if (lane.parent >= 0) lane.depth = lanes_[lane.parent].depth + 1;
}

void MapModel::unallocated(const UnallocatedEvent& e) {
  const bool slack = e.kind == UnallocatedEvent::kSlack;
  if (!slack && !e.nonZero) return;  // free space of zeros is not shaded
  MapLane* lane = laneAt(e.fs);
  if (!lane || e.imageOffset < static_cast<uint64_t>(lane->base)) return;
  (slack ? lane->hasSlackShade : lane->hasFreeShade) = true;
  if (lane->shades.size() >= kMaxLaneShades) return;
  const uint64_t first = e.imageOffset - static_cast<uint64_t>(lane->base);
  lane->shades.push_back({slack, static_cast<uint32_t>(first), e.length});
}

MapLane* MapModel::laneAt(int64_t base) {
  if (base == currentBase_) return currentHasLane_ ? &lanes_.back() : nullptr;
  for (auto it = lanes_.rbegin(); it != lanes_.rend(); ++it) {
    if (it->base == base) return &*it;
  }
  return nullptr;
}

void MapModel::inode(const InodeEvent& e) {
  // A slot left out (keep-going) is no file: its problem marks it.
  if (e.stage == InodeEvent::kBadExtent || !e.broken.empty()) return;
  const uint32_t first = e.inode.firstByte();
  const uint64_t length = e.inode.length();
  MapLane* lane = laneAt(e.fs);
  if (e.slot == BFS_ROOTINO && e.stage == InodeEvent::kDecoded) {  // not a file
    if (lane) {
      lane->span = std::max(lane->span, first + length);
      lane->hasRoot = true;
      lane->rootFirst = first;
      lane->rootLength = length;
    }
    return;
  }
  if (!lane) {
    regions_[regionOf(static_cast<uint64_t>(std::max<int64_t>(e.fs, 0)))].files.add(Outcome::kFound);
    totals_.add(Outcome::kFound);
    return;
  }
  setOutcome(e.fs, e.slot, first, length, nullptr, Outcome::kFound);
}

void MapModel::orphan(const OrphanEvent& e) {
  setOutcome(e.fs, e.slot, e.first, e.length, nullptr, outcomeOf(e.status));
}

void MapModel::directory(const DirectoryEvent& e) {
  if (MapLane* lane = laneAt(e.fs)) lane->dir = clip(e.path);
}

void MapModel::file(const FileEvent& e) {
  if (e.status == FileEvent::kDirectory) {
    MapLane* lane = laneAt(e.fs);
    if (lane && !lane->hasRoot) {
      lane->hasRoot = true;
      lane->rootFirst = e.first;
      lane->rootLength = e.length;
    }
    return;
  }
  setOutcome(e.fs, e.slot, e.first, e.length, &e.name, outcomeOf(e.status));
}

// Records a file's outcome; an inode met for the first time comes in as kFound.
void MapModel::setOutcome(int64_t fs, uint32_t slot, uint32_t first, uint64_t length,
                          const std::string* name, Outcome outcome) {
  MapLane* lane = laneAt(fs);
  if (!lane) {  // a file system past the lane limit: counted in its region
    if (outcome == Outcome::kPending) return;
    MapGroup& files = regions_[regionOf(static_cast<uint64_t>(std::max<int64_t>(fs, 0)))].files;
    files.move(Outcome::kFound, outcome);
    totals_.move(Outcome::kFound, outcome);
    return;
  }
  lane->span = std::max(lane->span, first + length);
  auto it = findSlot(lane->files, slot);
  if (it != lane->files.end() && it->slot == slot) {
    lane->totals.move(it->outcome, outcome);
    totals_.move(it->outcome, outcome);
    it->outcome = outcome;
    if (name && !name->empty()) it->name = clip(*name);
    return;
  }
  if (lane->files.size() < kMaxLaneFiles && keptFiles_ < kMaxFiles) {
    MapFile f;
    f.slot = slot;
    f.first = first;
    f.length = length;
    f.outcome = outcome;
    if (name) f.name = clip(*name);
    lane->files.insert(it, std::move(f));
    ++keptFiles_;
    lane->totals.add(outcome);
    totals_.add(outcome);
    return;
  }
  if (outcome == Outcome::kPending) return;
  if (lane->groups.empty()) lane->groups.resize(kLaneGroups);
  const unsigned g = lane->groupOf(first);
  if (outcome == Outcome::kFound) {
    lane->groups[g].add(outcome);
    lane->totals.add(outcome);
    totals_.add(outcome);
  } else {
    lane->groups[g].move(Outcome::kFound, outcome);
    lane->totals.move(Outcome::kFound, outcome);
    totals_.move(Outcome::kFound, outcome);
  }
  if (lane == &lanes_.back() && fs == currentBase_ && slot < kNamedSlots) {
    if (slotGroup_.empty()) slotGroup_.assign(kNamedSlots, kNoGroup);
    slotGroup_[slot] = static_cast<uint8_t>(g);
  }
}

void MapModel::problem(const ProblemEvent& e) {
  if (problems_.size() < kMaxProblems) {
    problems_.push_back(clip(e.text));
  } else {
    ++moreProblems_;
  }
  uint64_t offset = e.offset;
  if (offset == 0 && e.fs > 0) offset = static_cast<uint64_t>(e.fs);
  MapLane* lane = e.fs >= 0 ? laneAt(e.fs) : nullptr;
  switch (e.what) {
    case ProblemEvent::kLost: {
      if (e.slot < 0) break;
      const uint32_t slot = static_cast<uint32_t>(e.slot);
      if (!lane) {
        if (e.fs < 0) break;
        MapGroup& files = regions_[regionOf(static_cast<uint64_t>(e.fs))].files;
        const Outcome from = files.count[static_cast<int>(Outcome::kExtracted)] ? Outcome::kExtracted
                                                                                 : Outcome::kListed;
        files.move(from, Outcome::kLost);
        totals_.move(from, Outcome::kLost);
        break;
      }
      auto it = findSlot(lane->files, slot);
      if (it != lane->files.end() && it->slot == slot) {
        lane->totals.move(it->outcome, Outcome::kLost);
        totals_.move(it->outcome, Outcome::kLost);
        it->outcome = Outcome::kLost;
      } else if (lane == &lanes_.back() && slot < slotGroup_.size() && slotGroup_[slot] != kNoGroup) {
        MapGroup& group = lane->groups[slotGroup_[slot]];
        const Outcome from = group.count[static_cast<int>(Outcome::kExtracted)] ? Outcome::kExtracted
                                                                                 : Outcome::kListed;
        group.move(from, Outcome::kLost);
        lane->totals.move(from, Outcome::kLost);
        totals_.move(from, Outcome::kLost);
      }
      break;
    }
    case ProblemEvent::kTruncated:
    case ProblemEvent::kUnreadable: {
      const MapMark::Kind kind =
          e.what == ProblemEvent::kTruncated ? MapMark::kTruncated : MapMark::kUnreadable;
      if (kind == MapMark::kTruncated && hasImage_) {
        offset = static_cast<uint64_t>(std::max<int64_t>(image_.length, 0));  // where it is cut
      } else if (e.offset == 0 && e.slot >= 0) {  // a file that could not be read: its start
        if (!lane) break;
        auto it = findSlot(lane->files, static_cast<uint32_t>(e.slot));
        if (it == lane->files.end() || it->slot != static_cast<uint32_t>(e.slot)) break;
        offset = static_cast<uint64_t>(lane->base) + it->first;
      }
      if (lane) {
        addLaneMark(*lane, kind, offset, e.text);
      } else {
        addBandMark(kind, offset, e.text);
      }
      break;
    }
    case ProblemEvent::kInconsistent:
      addBandMark(MapMark::kInconsistent, offset, e.text);
      if (lane) addLaneMark(*lane, MapMark::kInconsistent, offset, e.text);
      break;
    case ProblemEvent::kInterrupted:
      interrupted_ = true;
      stoppedAt_ = e.offset;
      break;
    default:
      break;
  }
}

void MapModel::addBandMark(MapMark::Kind kind, uint64_t offset, const std::string& text) {
  if (bandMarks_.size() < kMaxBandMarks) {
    bandMarks_.push_back({kind, offset, clip(text)});
    return;
  }
  if (kind == MapMark::kDiscarded) {
    ++regions_[regionOf(offset)].discarded;
  } else if (kind == MapMark::kUnreadable) {
    ++regions_[regionOf(offset)].unreadable;
  } else {
    ++moreBandMarks_;
  }
}

void MapModel::addLaneMark(MapLane& lane, MapMark::Kind kind, uint64_t offset,
                           const std::string& text) {
  if (lane.marks.size() < kMaxLaneMarks) {
    lane.marks.push_back({kind, offset, clip(text)});
  } else {
    ++lane.moreMarks;
  }
}

void MapModel::end(const EndEvent& e) {
  ended_ = true;
  end_ = e;
}
