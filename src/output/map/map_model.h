// What the map of a scan keeps while the scan runs: the image, every file
// system found with its regions and files, and the marks of damage, in
// bounded memory. The first file systems get a lane each and the first
// files of a lane are kept one by one; past those limits the rest are only
// counted, per region of the image or of their file system. The picture is
// laid out from this by map_layout and drawn by map_drawing.
#ifndef BFSSCAN_MAP_MODEL_H
#define BFSSCAN_MAP_MODEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "scan_sink.h"

// Where a file ended up. kFound: an inode in use whose extraction was not
// reached; kPending: being copied when the scan ended.
enum class Outcome : uint8_t { kFound, kPending, kExtracted, kListed, kSkipped, kLost, kFailed };
constexpr int kOutcomeCount = 7;

// Files counted rather than kept, by outcome.
struct MapGroup {
  uint64_t count[kOutcomeCount] = {};
  uint64_t total() const;
  void add(Outcome to);
  // One file goes from one outcome to another (from nothing when none is counted).
  void move(Outcome from, Outcome to);
};

// A file kept one by one.
struct MapFile {
  uint32_t slot = 0;
  uint32_t first = 0;   // offset of its first byte in its file system
  uint64_t length = 0;  // bytes
  Outcome outcome = Outcome::kFound;
  std::string name;     // raw bytes from the root directory; empty when none
};

// A point of damage, or a block whose magic was discarded.
struct MapMark {
  enum Kind { kDiscarded, kTruncated, kUnreadable, kInconsistent };
  Kind kind = kDiscarded;
  uint64_t offset = 0;  // in the image
  std::string text;     // the standard-error line, or what the hit said
};

// Bytes no live file owns (--unallocated): a free run that holds data, or
// a file's slack.
struct MapShade {
  bool slack = false;
  uint32_t first = 0;   // offset in its file system
  uint64_t length = 0;
};

// A file system with a lane of its own.
struct MapLane {
  int64_t base = 0;
  uint32_t start = 0;  // end of the inode table
  uint32_t end = 0;    // last byte
  uint64_t slots = 0;
  std::string dir;     // extraction directory, once known

  // Nesting: the lane whose file holds this file system, and that file's
  // image range (or this file system's own when the file was not kept).
  int parent = -1;
  int depth = 0;
  uint64_t holderOffset = 0;
  uint64_t holderLength = 0;
  std::string holderName;

  bool hasRoot = false;
  uint32_t rootFirst = 0;
  uint64_t rootLength = 0;

  uint64_t span = 0;  // bytes drawn from the base: end + 1, grown to cover every file
  std::vector<MapFile> files;    // by slot
  std::vector<MapGroup> groups;  // empty until files are counted here
  MapGroup totals;
  std::vector<MapMark> marks;
  uint64_t moreMarks = 0;
  std::vector<MapShade> shades;  // the first kMaxLaneShades
  bool hasFreeShade = false, hasSlackShade = false;

  // The bytes of the file system each group covers (the last takes the rest).
  uint64_t groupWidth() const;
  unsigned groupOf(uint64_t first) const;
};

// A stretch of the image: the file systems past the lane limit and the
// marks past the mark limit that fall into it, counted.
struct MapRegion {
  uint64_t fileSystems = 0;
  MapGroup files;
  uint64_t discarded = 0;
  uint64_t unreadable = 0;
};

class MapModel {
 public:
  static constexpr size_t kMaxLanes = 200;
  static constexpr size_t kMaxLaneFiles = 300;  // files kept in one lane
  static constexpr size_t kMaxFiles = 2000;     // files kept in all lanes
  static constexpr unsigned kLaneGroups = 16;
  static constexpr unsigned kRegions = 64;
  static constexpr size_t kMaxBandMarks = 200;
  static constexpr size_t kMaxLaneMarks = 8;
  static constexpr size_t kMaxProblems = 8;
  static constexpr size_t kMaxText = 300;  // bytes kept of a text
  static constexpr size_t kMaxLaneShades = 300;

  MapModel();

  void start(const std::string& path);
  void image(const ImageEvent& e);
  void hit(const HitEvent& e);
  void fileSystem(const FileSystemEvent& e);
  void inode(const InodeEvent& e);
  void directory(const DirectoryEvent& e);
  void file(const FileEvent& e);
  void problem(const ProblemEvent& e);
  void unallocated(const UnallocatedEvent& e);
  void end(const EndEvent& e);
  // A file no entry names, copied among the orphans (keep-going).
  void orphan(const OrphanEvent& e);

  // What was gathered.
  const std::string& path() const { return path_; }
  bool hasImage() const { return hasImage_; }
  const ImageEvent& imageInfo() const { return image_; }
  const std::vector<MapLane>& lanes() const { return lanes_; }
  const std::vector<MapRegion>& regions() const { return regions_; }
  const std::vector<MapMark>& bandMarks() const { return bandMarks_; }
  uint64_t moreBandMarks() const { return moreBandMarks_; }
  uint64_t fileSystems() const { return fileSystems_; }
  const MapGroup& totals() const { return totals_; }
  const std::vector<std::string>& problems() const { return problems_; }
  uint64_t moreProblems() const { return moreProblems_; }
  bool ended() const { return ended_; }
  // Where an interruption stopped the scan, when one did.
  bool interrupted() const { return interrupted_; }
  uint64_t stoppedAt() const { return stoppedAt_; }
  const EndEvent& endInfo() const { return end_; }
  // The region of the image an offset falls into.
  unsigned regionOf(uint64_t offset) const;

 private:
  MapLane* laneAt(int64_t base);
  void placeInLanes(MapLane& lane);
  void addBandMark(MapMark::Kind kind, uint64_t offset, const std::string& text);
  void addLaneMark(MapLane& lane, MapMark::Kind kind, uint64_t offset, const std::string& text);
  void setOutcome(int64_t fs, uint32_t slot, uint32_t first, uint64_t length,
                  const std::string* name, Outcome outcome);

  std::string path_;
  bool hasImage_ = false;
  ImageEvent image_;
  std::vector<MapLane> lanes_;
  std::vector<MapRegion> regions_;
  std::vector<MapMark> bandMarks_;
  uint64_t moreBandMarks_ = 0;
  uint64_t fileSystems_ = 0;
  size_t keptFiles_ = 0;
  MapGroup totals_;
  std::vector<std::string> problems_;
  uint64_t moreProblems_ = 0;
  bool ended_ = false;
  EndEvent end_;
  bool interrupted_ = false;
  uint64_t stoppedAt_ = 0;

  // The file system being read: its base, and whether it has a lane.
  int64_t currentBase_ = -1;
  bool currentHasLane_ = false;
  // The group of each counted file of the current lane, by slot, so that a
  // file lost later is found again (names reach slots below 65,536 only).
  std::vector<uint8_t> slotGroup_;
};

#endif  // BFSSCAN_MAP_MODEL_H
