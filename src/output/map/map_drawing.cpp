// Drawing the map: the SVG elements of the header, the image's band, the
// lanes and their connectors, and the legend, each with its title.
#include "map_drawing.h"
#include "sys/fs/bfs.h"

#include <algorithm>
#include <cstdio>

#include "human_units.h"
#include "xml_text.h"

namespace {

constexpr double kWidth = MapLayout::kWidth;
constexpr double kMargin = MapLayout::kMargin;
constexpr double kBandY = MapLayout::kBandY;
constexpr double kBandH = MapLayout::kBandH;
constexpr double kBarTop = MapLayout::kBarTop;
constexpr double kBarH = MapLayout::kBarH;
constexpr double kGroupRowH = MapLayout::kGroupRowH;
constexpr double kCharWidth = MapLayout::kCharWidth;
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

std::string statusMeaning(int status) {
  switch (status) {
    case 0: return "status 0: complete";
    case 2: return "status 2: something is missing";
    case 3: return "status 3: a file system is inconsistent";
    default:
      return "status " + std::to_string(status) + (status > 128 ? ": interrupted" : "");
  }
}

void drawHeader(SvgWriter& svg, const MapModel& m) {
  const std::string path = m.hasImage() ? m.imageInfo().path : m.path();
  svg.text(kMargin, 24, xmlText(fitText("bfsscan map of " + path, (kWidth - 2 * kMargin) * 0.7)), "h");
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
  svg.text(kMargin, 44, xmlText(fitText(info, kWidth - 2 * kMargin)));
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

void drawConnectors(SvgWriter& svg, const MapModel& m, const MapLayout& l) {
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
      const MapScale& ps = l.laneScale[lane.parent];
      const double rel = static_cast<double>(lane.holderOffset - static_cast<uint64_t>(p.base));
      x1 = ps.at(rel);
      x2 = ps.at(rel + lane.holderLength);
      y1 = l.laneY[lane.parent] + kBarTop + kBarH;
    }
    if (x2 - x1 < 1) x2 = x1 + 1;
    const MapScale& s = l.laneScale[i];
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

void drawScale(SvgWriter& svg, const MapScale& s, double y, int maxTicks) {
  for (const auto& t : scaleTicks(s.span, maxTicks)) {
    const double x = s.at(t.offset);
    svg.printf("<line class=\"sc\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", x, y, x, y + 4);
    const char* anchor = x > s.x0 + s.width - 30 ? "end" : (x < s.x0 + 10 ? nullptr : "middle");
    svg.text(x, y + 13, xmlText(t.label), "s", anchor);
  }
}

std::string regionRange(const MapModel& m, unsigned r) {
  const double length = static_cast<double>(std::max<int64_t>(m.imageInfo().length, 0));
  const uint64_t from = static_cast<uint64_t>(length * r / MapModel::kRegions);
  const uint64_t to = static_cast<uint64_t>(length * (r + 1) / MapModel::kRegions);
  return "between " + hex(from) + " and " + hex(to);
}

void drawBand(SvgWriter& svg, const MapModel& m, const MapLayout& l) {
  const MapScale& s = l.band;
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
        const std::string label = fitText(mark.text, kWidth - 2 * kMargin);
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

void drawLane(SvgWriter& svg, const MapModel& m, const MapLayout& l, size_t i) {
  const MapLane& lane = m.lanes()[i];
  const MapScale& s = l.laneScale[i];
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
  label = fitText(label, s.width);
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

void drawLegend(SvgWriter& svg, const MapModel& m, const MapLayout& l) {
  for (const MapLegendKey& k : l.legend) {
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
    svg.text(kMargin + 10, y, xmlText(fitText(p, kWidth - 2 * kMargin - 10)));
  }
  if (m.moreProblems() > 0) {
    y += 15;
    svg.text(kMargin + 10, y, xmlText("and " + plural(m.moreProblems(), "more", "more")));
  }
}

}  // namespace

void drawMap(SvgWriter& svg, const MapModel& m, const MapLayout& l) {
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
