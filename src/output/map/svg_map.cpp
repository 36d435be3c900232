#include "svg_map.h"
#include "sys/fs/bfs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <utility>
#include <vector>

#include "escape.h"
#include "human_units.h"
#include "output_failure.h"
#include "report.h"

namespace {

constexpr double kWidth = 1200;
constexpr double kMargin = 20;
constexpr double kIndent = 24;  // per level of nesting
constexpr int kMaxDepth = 10;   // deeper lanes are indented no further
constexpr double kBandY = 88;
constexpr double kBandH = 24;
constexpr double kLanesY = 162;
constexpr double kBarTop = 16;  // from the top of a lane
constexpr double kBarH = 22;
constexpr double kGroupRowH = 12;
constexpr double kLaneH = 64;
constexpr double kGroupedLaneH = 78;
constexpr double kCharWidth = 6.5;  // of an 11 px sans-serif letter, generously
// Up to this many lanes, each is joined to its place by a shaded funnel;
// beyond, by a thin line, so that the funnels do not cover the page.
constexpr size_t kMaxFunnels = 12;

const char* const kOutcomeClass[kOutcomeCount] = {"o0", "o1", "o2", "o3", "o4", "o5", "o6"};
const char* const kOutcomeWord[kOutcomeCount] = {
    "not reached", "being copied", "extracted", "listed", "skipped", "lost",
    "truncated or unreadable"};
const char* const kOutcomeMeaning[kOutcomeCount] = {
    "not reached: the scan stopped first",
    "being copied when the scan stopped",
    "extracted",
    "listed: read whole in a dry run, nothing written",
    "skipped: no usable name, or its path is the image",
    "lost: overwritten by a later file of the same name",
    "not extracted: past the end of the image, unreadable, or not written"};
// The order outcomes are counted in, in labels and titles.
const Outcome kCountOrder[] = {Outcome::kExtracted, Outcome::kListed, Outcome::kSkipped,
                               Outcome::kLost,      Outcome::kFailed, Outcome::kFound,
                               Outcome::kPending};

const char kStyle[] =
    "text{font-family:'DejaVu Sans',Verdana,sans-serif;font-size:11px;fill:#222}"
    ".h{font-size:16px;font-weight:bold}.s{font-size:9px;fill:#555}.n{font-size:10px}"
    ".b{fill:#e8e8e8;stroke:#888}.fs{fill:#f4f4f4;stroke:#aaa}"
    ".sb{fill:#555}.it{fill:#56b4e9}.rd{fill:#0072b2}"
    ".o0{fill:#c8c8c8}.o1{fill:#f0e442}.o2{fill:#009e73}.o3{fill:#8fd9c0}"
    ".o4{fill:#e69f00}.o5{fill:#cc79a7}.o6{fill:#d55e00}"
    ".c{fill:#0072b2;fill-opacity:.12}.cl{stroke:#0072b2;stroke-opacity:.3}.fb{fill:#0072b2;fill-opacity:.45}"
    ".gr{fill:#333;fill-opacity:.35}.ns{fill:#fff;fill-opacity:.7;stroke:#888;stroke-dasharray:4 3}.hatch{fill:url(#hatch)}"
    ".tk{stroke:#000;stroke-width:1}.x{stroke:#e00;stroke-width:2}"
    ".u{stroke:#d55e00;stroke-width:2}.sc{stroke:#888;stroke-width:1}"
    ".uf{fill:#7b3294}.us{fill:#c2a5cf}";

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "2 extracted, 1 skipped"; "no files" when nothing is counted.
std::string countsText(const MapGroup& g) {
  std::string text;
  for (Outcome o : kCountOrder) {
    const uint64_t n = g.count[static_cast<int>(o)];
    if (n == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(n) + " " + kOutcomeWord[static_cast<int>(o)];
  }
  return text.empty() ? "no files" : text;
}

Outcome dominant(const MapGroup& g) {
  Outcome best = Outcome::kFound;
  for (Outcome o : kCountOrder) {
    if (g.count[static_cast<int>(o)] > g.count[static_cast<int>(best)]) best = o;
  }
  return best;
}

// Cuts text to what fits in width pixels, with an ellipsis.
std::string fit(const std::string& text, double width) {
  const size_t room = width > kCharWidth ? static_cast<size_t>(width / kCharWidth) : 0;
  if (text.size() <= room) return text;
  return room > 3 ? text.substr(0, room - 3) + "..." : std::string();
}

// A linear scale from byte offsets to page x.
struct Scale {
  double x0 = 0;
  double width = 0;
  double span = 1;
  double at(double offset) const {
    offset = std::min(std::max(offset, 0.0), span);
    return x0 + offset / span * width;
  }
};

// Round marks for a scale of span bytes: at most maxTicks steps of 1, 2 or 5
// times a power of ten of one binary unit, labelled in that unit.
std::vector<std::pair<double, std::string>> ticks(double span, int maxTicks) {
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
  std::vector<std::pair<double, std::string>> marks;
  for (int i = 0; i * step <= inUnits + 1e-9 && i <= maxTicks; ++i) {
    char label[32];
    if (i == 0) {
      std::snprintf(label, sizeof label, "0");
    } else {
      std::snprintf(label, sizeof label, "%g %s", i * step, kUnits[unit]);
    }
    marks.emplace_back(i * step * unitBytes, label);
  }
  return marks;
}

// Buffered writing of the picture; errors are looked at once, at the end.
class Svg {
 public:
  explicit Svg(std::FILE* f) : f_(f) {}
  void put(const std::string& s) { std::fwrite(s.data(), 1, s.size(), f_); }
  void printf(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    std::vfprintf(f_, format, args);
    va_end(args);
  }
  // A rectangle of a class with a title, at least minWidth wide.
  void rect(const char* cls, double x, double y, double w, double h, const std::string& title,
            double minWidth = 1) {
    if (w < minWidth) w = minWidth;
    printf("<g><title>");
    put(title);
    printf("</title><rect class=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/></g>\n",
           cls, x, y, w, h);
  }
  void line(const char* cls, double x1, double y1, double x2, double y2, const std::string& title) {
    printf("<g><title>");
    put(title);
    printf("</title><line class=\"%s\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/></g>\n", cls,
           x1, y1, x2, y2);
  }
  // Text already escaped.
  void text(double x, double y, const std::string& s, const char* cls = nullptr,
            const char* anchor = nullptr) {
    printf("<text x=\"%.1f\" y=\"%.1f\"", x, y);
    if (cls) printf(" class=\"%s\"", cls);
    if (anchor) printf(" text-anchor=\"%s\"", anchor);
    printf(">");
    put(s);
    printf("</text>\n");
  }

 private:
  std::FILE* f_;
};

// Where everything goes on the page.
struct Layout {
  Scale band;
  std::vector<double> laneY;
  std::vector<Scale> laneScale;
  double lanesEnd = kLanesY;
  struct Key {
    char kind;  // 'r' rectangle of a class, 'h' hatch, 't' tick, 'x' condition, 'u' unreadable
    const char* cls;
    std::string label;
    double x, y;
  };
  std::vector<Key> legend;
  double legendEnd = 0;
  double height = 0;
};

Layout layOut(const MapModel& m) {
  Layout l;
  l.band = {kMargin, kWidth - 2 * kMargin,
            m.hasImage() && m.imageInfo().length > 0 ? static_cast<double>(m.imageInfo().length) : 1};
  double y = kLanesY;
  for (const MapLane& lane : m.lanes()) {
    l.laneY.push_back(y);
    const double x0 = kMargin + std::min(lane.depth, kMaxDepth) * kIndent;
    l.laneScale.push_back({x0, kWidth - kMargin - x0, static_cast<double>(std::max<uint64_t>(lane.span, 1))});
    y += lane.groups.empty() ? kLaneH : kGroupedLaneH;
  }
  l.lanesEnd = y;

  const MapGroup& t = m.totals();
  auto has = [&t](Outcome o) { return t.count[static_cast<int>(o)] > 0; };
  std::vector<Layout::Key> keys = {
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
  for (Layout::Key& k : keys) {
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

std::string statusMeaning(int status) {
  switch (status) {
    case 0: return "status 0: complete";
    case 2: return "status 2: something is missing";
    case 3: return "status 3: a file system is inconsistent";
    default:
      return "status " + std::to_string(status) + (status > 128 ? ": interrupted" : "");
  }
}

void drawHeader(Svg& svg, const MapModel& m) {
  const std::string path = m.hasImage() ? m.imageInfo().path : m.path();
  svg.text(kMargin, 24, xmlText(fit("bfsscan map of " + path, (kWidth - 2 * kMargin) * 0.7)), "h");
  std::string info;
  if (m.hasImage()) {
    const ImageEvent& image = m.imageInfo();
    info = formatBytes(static_cast<uint64_t>(std::max<int64_t>(image.length, 0))) + " (" +
           std::to_string(image.length) + " bytes), " + image.format;
  } else {
    info = "the image could not be read";
  }
  info += " | " + plural(m.fileSystems(), "file system", "file systems") + " | files: " +
          countsText(m.totals());
  svg.text(kMargin, 44, xmlText(fit(info, kWidth - 2 * kMargin)));
  if (m.ended()) {
    svg.text(kMargin, 60,
             statusMeaning(m.endInfo().status) +
                 (m.endInfo().reachedEnd ? ", the scan read to the end of the image"
                                         : ", the scan stopped before the end of the image"));
  }
}

std::string laneTitle(const MapLane& lane) {
  std::string title = "file system at " + hex(lane.base) + " (" + std::to_string(lane.base) +
                      "): " + formatBytes(static_cast<uint64_t>(lane.end) + 1) +
                      ", inode table to " + hex(lane.start) + ", last byte " + hex(lane.end) + "\n" +
                      countsText(lane.totals);
  if (!lane.dir.empty()) title += "\nextracted into " + xmlText(lane.dir);
  return title;
}

void drawConnectors(Svg& svg, const MapModel& m, const Layout& l) {
  const auto& lanes = m.lanes();
  for (size_t i = 0; i < lanes.size(); ++i) {
    const MapLane& lane = lanes[i];
    double x1, x2, y1;
    if (lane.parent < 0) {
      const double b = static_cast<double>(lane.base);
      x1 = l.band.at(b);
      x2 = l.band.at(b + lane.span);
      y1 = kBandY + kBandH;
    } else {
      const MapLane& p = lanes[lane.parent];
      const Scale& ps = l.laneScale[lane.parent];
      const double rel = static_cast<double>(lane.holderOffset - static_cast<uint64_t>(p.base));
      x1 = ps.at(rel);
      x2 = ps.at(rel + lane.holderLength);
      y1 = l.laneY[lane.parent] + kBarTop + kBarH;
    }
    if (x2 - x1 < 1) x2 = x1 + 1;
    const Scale& s = l.laneScale[i];
    const double y2 = l.laneY[i] + kBarTop;
    if (lanes.size() <= kMaxFunnels) {
      svg.printf("<polygon class=\"c\" points=\"%.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f\"/>\n", x1,
                 y1, x2, y1, s.x0 + s.width, y2, s.x0, y2);
    } else {
      svg.printf("<line class=\"cl\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", (x1 + x2) / 2,
                 y1, s.x0, y2);
    }
  }
}

void drawScale(Svg& svg, const Scale& s, double y, int maxTicks) {
  for (const auto& t : ticks(s.span, maxTicks)) {
    const double x = s.at(t.first);
    svg.printf("<line class=\"sc\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", x, y, x, y + 4);
    const char* anchor = x > s.x0 + s.width - 30 ? "end" : (x < s.x0 + 10 ? nullptr : "middle");
    svg.text(x, y + 13, xmlText(t.second), "s", anchor);
  }
}

std::string regionRange(const MapModel& m, unsigned r) {
  const double length = static_cast<double>(std::max<int64_t>(m.imageInfo().length, 0));
  const uint64_t from = static_cast<uint64_t>(length * r / MapModel::kRegions);
  const uint64_t to = static_cast<uint64_t>(length * (r + 1) / MapModel::kRegions);
  return "between " + hex(from) + " and " + hex(to);
}

void drawBand(Svg& svg, const MapModel& m, const Layout& l) {
  const Scale& s = l.band;
  std::string title = m.hasImage() ? "the image " + m.imageInfo().path + ": " +
                                         formatBytes(static_cast<uint64_t>(m.imageInfo().length))
                                   : "no image was read";
  svg.rect("b", s.x0, kBandY, s.width, kBandH, xmlText(title));
  if (m.hasImage()) drawScale(svg, s, kBandY + kBandH, 10);

  for (const MapLane& lane : m.lanes()) {
    const double b = static_cast<double>(lane.base);
    svg.rect("fb", s.at(b), kBandY, s.at(b + lane.span) - s.at(b), kBandH, laneTitle(lane));
  }
  const double regionWidth = s.width / MapModel::kRegions;
  for (unsigned r = 0; r < MapModel::kRegions; ++r) {
    const MapRegion& region = m.regions()[r];
    const double x = s.x0 + r * regionWidth;
    if (region.fileSystems > 0) {
      svg.rect("gr", x, kBandY, regionWidth, kBandH,
               xmlText(plural(region.fileSystems, "file system", "file systems") + " " +
                       regionRange(m, r) + ", counted, not drawn one by one; files: " +
                       countsText(region.files)));
      const std::string count = std::to_string(region.fileSystems);
      if (count.size() * 6 < regionWidth) svg.text(x + regionWidth / 2, kBandY + 16, count, "n", "middle");
    }
    if (region.discarded > 0) {
      svg.line("tk", x + regionWidth / 2, kBandY - 6, x + regionWidth / 2, kBandY + 8,
               xmlText(plural(region.discarded, "more block", "more blocks") +
                       " with discarded magic " + regionRange(m, r)));
    }
    if (region.unreadable > 0) {
      svg.line("u", x + regionWidth / 2, kBandY, x + regionWidth / 2, kBandY + kBandH,
               xmlText(plural(region.unreadable, "more unreadable stretch", "more unreadable stretches") +
                       " " + regionRange(m, r)));
    }
  }
  if (m.interrupted() && m.hasImage()) {
    const double x = s.at(static_cast<double>(m.stoppedAt()));
    svg.rect("ns", x, kBandY, s.x0 + s.width - x, kBandH,
             xmlText("not scanned: the run was interrupted at byte " +
                     std::to_string(m.stoppedAt())));
  }
  bool labelled = false;
  for (const MapMark& mark : m.bandMarks()) {
    const double x = s.at(static_cast<double>(mark.offset));
    const std::string title = xmlText(mark.text);
    switch (mark.kind) {
      case MapMark::kDiscarded:
        svg.line("tk", x, kBandY - 6, x, kBandY + 8, title);
        break;
      case MapMark::kTruncated:
      case MapMark::kUnreadable:
        svg.line("u", x, kBandY, x, kBandY + kBandH, title);
        break;
      case MapMark::kInconsistent: {
        svg.line("x", x, kBandY - 10, x, kBandY + kBandH, title);
        if (labelled) break;
        labelled = true;
        const std::string label = fit(mark.text, kWidth - 2 * kMargin);
        const double width = label.size() * kCharWidth;
        const bool right = x + width < kWidth - kMargin;
        svg.text(right ? x + 4 : std::max(x - 4, kMargin + width), kBandY - 12, xmlText(label), nullptr,
                 right ? nullptr : "end");
        break;
      }
    }
  }
  if (m.moreBandMarks() > 0) {
    svg.text(kWidth - kMargin, kBandY - 12,
             xmlText("and " + plural(m.moreBandMarks(), "more mark", "more marks") + " not drawn"), "s",
             "end");
  }
}

std::string fileTitle(const MapLane& lane, const MapFile& f) {
  const uint64_t at = static_cast<uint64_t>(lane.base) + f.first;
  std::string outcome = kOutcomeMeaning[static_cast<int>(f.outcome)];
  if (f.outcome == Outcome::kExtracted && !lane.dir.empty() && !f.name.empty()) {
    outcome += " to " + xmlText(lane.dir + "/" + f.name);
  }
  return (f.name.empty() ? std::string("(no name)") : "'" + xmlText(f.name) + "'") + "\ninode " +
         std::to_string(f.slot) + " of the file system at " + hex(lane.base) + "\nbytes " + hex(at) +
         "-" + hex(at + f.length - 1) + " of the image, " + std::to_string(f.length) + " bytes (" +
         formatBytes(f.length) + ")\n" + outcome;
}

void drawLane(Svg& svg, const MapModel& m, const Layout& l, size_t i) {
  const MapLane& lane = m.lanes()[i];
  const Scale& s = l.laneScale[i];
  const double y = l.laneY[i];
  const double bar = y + kBarTop;

  std::string label = "file system at " + hex(lane.base) + ", " +
                      formatBytes(static_cast<uint64_t>(lane.end) + 1) + ": " + countsText(lane.totals);
  if (!lane.dir.empty()) label += " -> " + lane.dir;
  if (lane.parent >= 0) {
    label += ", inside " +
             (lane.holderName.empty() ? std::string("a file") : "'" + lane.holderName + "'") +
             " of the file system at " + hex(m.lanes()[lane.parent].base);
  }
  if (lane.moreMarks > 0) label += " (" + plural(lane.moreMarks, "more mark", "more marks") + " not drawn)";
  label = fit(label, s.width);
  // A white ground keeps the label readable over the connectors of lanes below.
  svg.printf("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"14\" fill=\"#fff\"/>\n", s.x0, y,
             std::min(label.size() * kCharWidth * 0.95, s.width));
  svg.text(s.x0, y + 11, xmlText(label));

  svg.rect("fs", s.x0, bar, s.width, kBarH, laneTitle(lane));
  svg.rect("sb", s.at(0), bar, s.at(BFS_BSIZE) - s.at(0), kBarH,
           xmlText("superblock at " + hex(lane.base) + ", 512 bytes"), 2);
  if (lane.start > BFS_BSIZE) {
    const std::string slots = lane.slots > 2 ? "inodes 2 to " + std::to_string(lane.slots - 1)
                                             : std::string("no inode slot");
    svg.rect("it", s.at(BFS_BSIZE), bar, s.at(lane.start) - s.at(BFS_BSIZE), kBarH,
             xmlText("inode table, bytes " + hex(BFS_BSIZE) + "-" + hex(lane.start - 1) +
                     " of the file system (" + std::to_string(lane.start - BFS_BSIZE) + " bytes): " +
                     slots));
  }
  if (lane.hasRoot) {
    const uint64_t at = static_cast<uint64_t>(lane.base) + lane.rootFirst;
    svg.rect("rd", s.at(lane.rootFirst), bar, s.at(lane.rootFirst + lane.rootLength) - s.at(lane.rootFirst),
             kBarH,
             xmlText("root directory (inode 2), bytes " + hex(at) + "-" + hex(at + lane.rootLength - 1) +
                     " of the image, " + std::to_string(lane.rootLength) + " bytes"));
  }
  for (const MapFile& f : lane.files) {
    const double x = s.at(f.first);
    const double w = std::max(s.at(static_cast<double>(f.first) + f.length) - x, 1.5);
    const std::string name = xmlText(f.name);
    const double textWidth = f.name.size() * 6.0;
    if (textWidth + 4 <= w && !f.name.empty()) {
      svg.printf("<g><title>");
      svg.put(fileTitle(lane, f));
      svg.printf("</title><rect class=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>",
                 kOutcomeClass[static_cast<int>(f.outcome)], x, bar, w, kBarH);
      svg.text(x + 2, bar + 15, name, "n");
      svg.printf("</g>\n");
    } else {
      svg.rect(kOutcomeClass[static_cast<int>(f.outcome)], x, bar, w, kBarH, fileTitle(lane, f), 1.5);
    }
  }
  // Unowned bytes: a strip along the foot of the bar.
  for (const MapShade& u : lane.shades) {
    const uint64_t at = static_cast<uint64_t>(lane.base) + u.first;
    const double x = s.at(u.first);
    const double w = std::max(s.at(static_cast<double>(u.first) + u.length) - x, 1.5);
    svg.rect(u.slack ? "us" : "uf", x, bar + kBarH - 5, w, 5,
             xmlText(std::string(u.slack ? "slack" : "free space holding data") + ", bytes " +
                     hex(at) + "-" + hex(at + u.length - 1) + " of the image, " +
                     std::to_string(u.length) + " bytes"));
  }
  double below = bar + kBarH;
  if (!lane.groups.empty()) {
    const double rowY = below + 3;
    const uint64_t width = lane.groupWidth();
    for (unsigned g = 0; g < lane.groups.size(); ++g) {
      const MapGroup& group = lane.groups[g];
      if (group.total() == 0) continue;
      const double from = static_cast<double>(g) * width;
      const double to = g + 1 == lane.groups.size() ? static_cast<double>(lane.span) : from + width;
      const double x = s.at(from);
      const double w = s.at(to) - x;
      svg.rect(kOutcomeClass[static_cast<int>(dominant(group))], x, rowY, w, kGroupRowH,
               xmlText(plural(group.total(), "file", "files") + " starting between " +
                       hex(static_cast<uint64_t>(from)) + " and " + hex(static_cast<uint64_t>(to)) +
                       " of the file system, counted, not drawn one by one: " + countsText(group)));
      const std::string count = std::to_string(group.total());
      if (count.size() * 6 + 4 < w) svg.text(x + w / 2, rowY + 10, count, "s", "middle");
    }
    below = rowY + kGroupRowH;
  }
  for (const MapMark& mark : lane.marks) {
    const double rel = mark.offset > static_cast<uint64_t>(lane.base)
                           ? static_cast<double>(mark.offset - static_cast<uint64_t>(lane.base))
                           : 0;
    const double x = s.at(rel);
    const std::string title = xmlText(mark.text);
    if (mark.kind == MapMark::kTruncated) {
      svg.rect("hatch", x, bar, s.x0 + s.width - x, kBarH, title, 3);
    } else {
      svg.line(mark.kind == MapMark::kInconsistent ? "x" : "u", x, bar - 3, x, bar + kBarH + 3, title);
    }
  }
  drawScale(svg, s, below, 6);
}

void drawLegend(Svg& svg, const MapModel& m, const Layout& l) {
  for (const Layout::Key& k : l.legend) {
    const double y = k.y;
    switch (k.kind) {
      case 'r':
      case 'h':
        svg.printf("<rect class=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"14\" height=\"12\"/>\n", k.cls, k.x,
                   y - 10);
        break;
      default:
        svg.printf("<line class=\"%s\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", k.cls,
                   k.x + 7, y - 11, k.x + 7, y + 3);
        break;
    }
    svg.text(k.x + 18, y, xmlText(k.label));
  }
  if (m.problems().empty()) return;
  double y = l.legendEnd + 20;
  svg.text(kMargin, y, "Problems (standard error):");
  for (const std::string& p : m.problems()) {
    y += 15;
    svg.text(kMargin + 10, y, xmlText(fit(p, kWidth - 2 * kMargin - 10)));
  }
  if (m.moreProblems() > 0) {
    y += 15;
    svg.text(kMargin + 10, y, xmlText("and " + plural(m.moreProblems(), "more", "more")));
  }
}

void render(std::FILE* f, const MapModel& m) {
  const Layout l = layOut(m);
  Svg svg(f);
  svg.printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  svg.printf("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
             "viewBox=\"0 0 %.0f %.0f\">\n",
             kWidth, l.height, kWidth, l.height);
  const std::string path = m.hasImage() ? m.imageInfo().path : m.path();
  svg.printf("<title>");
  svg.put(xmlText("bfsscan map of " + path));
  svg.printf("</title>\n<defs><style>%s</style>\n", kStyle);
  svg.printf("<pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
             "patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"#fbe3d5\"/>"
             "<rect width=\"3\" height=\"6\" fill=\"#d55e00\"/></pattern></defs>\n");
  svg.printf("<rect width=\"100%%\" height=\"100%%\" fill=\"#fff\"/>\n");
  drawHeader(svg, m);
  drawConnectors(svg, m, l);
  drawBand(svg, m, l);
  for (size_t i = 0; i < m.lanes().size(); ++i) drawLane(svg, m, l, i);
  drawLegend(svg, m, l);
  svg.printf("</svg>\n");
}

std::string quoted(const std::string& path) { return "\"" + escapeForDiag(path) + "\""; }

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

std::string xmlText(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  const auto* s = reinterpret_cast<const unsigned char*>(raw.data());
  const size_t n = raw.size();
  auto escapeByte = [&out](unsigned char c) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", c);
    out += text;
  };
  for (size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\\': out += "\\\\"; break;
        default:
          if (c < 0x20 || c == 0x7f) {
            escapeByte(c);
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    // A multi-byte sequence: its length from the lead byte, then the rules
    // against overlong forms, surrogates and code points past U+10FFFF.
    size_t len = 0;
    uint32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    bool ok = len > 0 && i + len <= n && s[i + 1] >= lo && s[i + 1] <= hi;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    // C1 controls and the two non-characters XML does not allow.
    if (ok && (cp <= 0x9F || cp == 0xFFFE || cp == 0xFFFF)) ok = false;
    if (!ok) {
      escapeByte(c);
      ++i;
      continue;
    }
    out.append(raw, i, len);
    i += len;
  }
  return out;
}

MapSink::MapSink(const std::string& path, const std::string& image, Console* console)
    : path_(path), image_(image), console_(console), firstPath_(path) {}

MapSink::~MapSink() {
  if (fd_ >= 0) ::close(fd_);
}

void MapSink::fail(int err) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  file_.abandon();
  const std::string where = path_ == "-" ? "the map to standard output" : quoted(path_);
  throw OutputFailure("cannot write " + where + ": " + std::strerror(err));
}

void MapSink::open() {
  if (fd_ >= 0 || file_.fd() >= 0) return;
  if (path_ == "-") {
    fd_ = ::dup(STDOUT_FILENO);
    if (fd_ < 0) fail(errno);
    return;
  }
  if (!image_.empty() && sameFile(path_, image_)) {
    throw OutputFailure("cannot write " + quoted(path_) + ": it is the image");
  }
  // A symbolic link, device or pipe is written through, as the other
  // results files are: renaming over it would replace the link or the node.
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) fail(errno);
    return;
  }
  unsigned n = 0;
  const std::string temp = path_ + ".bfsscan-" + std::to_string(::getpid()) + "-";
  const int err = file_.create(AT_FDCWD, path_, [&] { return temp + std::to_string(++n); });
  if (err != 0) fail(err);
}

void MapSink::write() {
  open();
  const bool atomic = file_.fd() >= 0;
  const int fd = atomic ? ::dup(file_.fd()) : fd_;
  if (fd < 0) fail(errno);
  std::FILE* f = ::fdopen(fd, "w");
  if (!f) {
    if (atomic) ::close(fd);
    fail(errno);
  }
  if (!atomic) fd_ = -1;  // the stream owns it now
  errno = 0;
  render(f, model_);
  int err = 0;
  if (std::fflush(f) != 0 || std::ferror(f)) err = errno ? errno : EIO;
  if (std::fclose(f) != 0 && err == 0) err = errno ? errno : EIO;
  if (err == 0 && atomic) file_.commit(&err);
  if (err != 0) fail(err);
}

void MapSink::end(const EndEvent& e) {
  model_.end(e);
  if (written_) return;
  written_ = true;
  try {
    write();
  } catch (const OutputFailure& failure) {
    lost_ = true;
    (console_ != nullptr ? console_->err() : std::cerr) << "bfsscan: " << failure.what() << std::endl;
  }
  if (!e.lastImage) {
    // Another image follows (the next member of an archive): a map of its
    // own, FILE with the member's number before the extension (map.2.svg).
    ++member_;
    written_ = false;
    model_ = MapModel();
    if (path_ != "-") path_ = memberMapPath(firstPath_, member_);
  }
}

std::string memberMapPath(const std::string& path, unsigned member) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  const bool hasExtension =
      dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
  const std::string number = "." + std::to_string(member);
  return hasExtension ? path.substr(0, dot) + number + path.substr(dot) : path + number;
}
