// The places and scales of the map's band, lanes and legend.
#include "map_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kWidth = MapLayout::kWidth;
constexpr double kMargin = MapLayout::kMargin;
constexpr double kCharWidth = MapLayout::kCharWidth;

}  // namespace

double MapScale::at(double offset) const {
  offset = std::min(std::max(offset, 0.0), span);
  return x0 + offset / span * width;
}

std::vector<MapTick> scaleTicks(double span, int maxTicks) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  static const double kSteps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};
  int unit = 0;
  double unitBytes = 1;
  while (unit < 6 && span >= unitBytes * 1024) {
    unitBytes *= 1024;
    ++unit;
  }
  const double inUnits = span / unitBytes;
  double step = 1000;
  for (double s : kSteps) {
    if (unit == 0 && s < 1) continue;
    if (inUnits / s <= maxTicks) {
      step = s;
      break;
    }
  }
  std::vector<MapTick> marks;
  for (int i = 0; i * step <= inUnits + 1e-9 && i <= maxTicks; ++i) {
    char label[32];
    if (i == 0) {
      std::snprintf(label, sizeof label, "0");
    } else {
      std::snprintf(label, sizeof label, "%g %s", i * step, kUnits[unit]);
    }
    marks.push_back({i * step * unitBytes, label});
  }
  return marks;
}

std::string fitText(const std::string& text, double width) {
  const size_t room = width > kCharWidth ? static_cast<size_t>(width / kCharWidth) : 0;
  if (text.size() <= room) return text;
  return room > 3 ? text.substr(0, room - 3) + "..." : std::string();
}

MapLayout layOutMap(const MapModel& m) {
  MapLayout l;
  l.band = {kMargin, kWidth - 2 * kMargin,
            m.hasImage() && m.imageInfo().length > 0 ? static_cast<double>(m.imageInfo().length) : 1};
  double y = MapLayout::kLanesY;
  for (const MapLane& lane : m.lanes()) {
    l.laneY.push_back(y);
    const double x0 = kMargin + std::min(lane.depth, MapLayout::kMaxDepth) * MapLayout::kIndent;
    l.laneScale.push_back({x0, kWidth - kMargin - x0, static_cast<double>(std::max<uint64_t>(lane.span, 1))});
    y += lane.groups.empty() ? MapLayout::kLaneH : MapLayout::kGroupedLaneH;
  }
  l.lanesEnd = y;

  const MapGroup& t = m.totals();
  auto has = [&t](Outcome o) { return t.count[static_cast<int>(o)] > 0; };
  std::vector<MapLegendKey> keys = {
      {'r', "sb", "superblock", 0, 0},
      {'r', "it", "inode table", 0, 0},
      {'r', "rd", "root directory", 0, 0},
      {'r', "o2", "extracted", 0, 0}};
  if (has(Outcome::kListed)) keys.push_back({'r', "o3", "listed (dry run)", 0, 0});
  keys.push_back({'r', "o4", "skipped (unsafe or missing name)", 0, 0});
  keys.push_back({'r', "o5", "lost (overwritten by a duplicate)", 0, 0});
  keys.push_back({'r', "o6", "truncated or unreadable", 0, 0});
  if (has(Outcome::kFound)) keys.push_back({'r', "o0", "not reached", 0, 0});
  if (has(Outcome::kPending)) keys.push_back({'r', "o1", "being copied", 0, 0});
  if (m.interrupted()) keys.push_back({'r', "ns", "not scanned (interrupted)", 0, 0});
  bool free = false, slack = false;
  for (const MapLane& lane : m.lanes()) {
    free = free || lane.hasFreeShade;
    slack = slack || lane.hasSlackShade;
  }
  if (free) keys.push_back({'r', "uf", "free space holding data", 0, 0});
  if (slack) keys.push_back({'r', "us", "slack", 0, 0});
  keys.push_back({'h', "hatch", "past the end of the image", 0, 0});
  keys.push_back({'u', "u", "unreadable", 0, 0});
  keys.push_back({'x', "x", "violated condition", 0, 0});
  keys.push_back({'t', "tk", "discarded magic", 0, 0});
  keys.push_back({'r', "fb", "file system in the image", 0, 0});
  keys.push_back({'r', "gr", "counted, not drawn one by one", 0, 0});
  double x = kMargin;
  y = l.lanesEnd + 16;
  for (MapLegendKey& k : keys) {
    const double w = 18 + k.label.size() * kCharWidth + 14;
    if (x + w > kWidth - kMargin && x > kMargin) {
      x = kMargin;
      y += 18;
    }
    k.x = x;
    k.y = y;
    x += w;
    l.legend.push_back(k);
  }
  l.legendEnd = y + 18;
  double end = l.legendEnd;
  if (!m.problems().empty()) end += 24 + 15.0 * (m.problems().size() + (m.moreProblems() ? 1 : 0));
  l.height = std::ceil(end + 10);
  return l;
}
