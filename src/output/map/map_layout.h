// Where everything of the map goes on the page, computed from the model
// alone: the page's size, the image's band and its byte scale, each lane's
// place and scale (indented by nesting), the round marks of a scale, the
// legend's keys in rows, and how much of a text fits in a width. Nothing is
// drawn here (map_drawing.h does).
#ifndef BFSSCAN_MAP_LAYOUT_H
#define BFSSCAN_MAP_LAYOUT_H

#include <string>
#include <vector>

#include "map_model.h"

// A linear scale from byte offsets to page x.
struct MapScale {
  double x0 = 0;
  double width = 0;
  double span = 1;
  // Offsets outside 0..span are held at the ends.
  double at(double offset) const;
};

// A round mark of a scale: its offset in bytes and its label.
struct MapTick {
  double offset;
  std::string label;
};

// A key of the legend and where it stands (y: the base line of its label).
struct MapLegendKey {
  char kind;  // 'r' rectangle of a class, 'h' hatch, 't' tick, 'x' condition, 'u' unreadable
  const char* cls;
  std::string label;
  double x, y;
};

struct MapLayout {
  // The page (pixels).
  static constexpr double kWidth = 1200;
  static constexpr double kMargin = 20;
  static constexpr double kIndent = 24;  // per level of nesting
  static constexpr int kMaxDepth = 10;   // deeper lanes are indented no further
  static constexpr double kBandY = 88;
  static constexpr double kBandH = 24;
  static constexpr double kLanesY = 162;
  static constexpr double kBarTop = 16;  // from the top of a lane
  static constexpr double kBarH = 22;
  static constexpr double kGroupRowH = 12;
  static constexpr double kLaneH = 64;
  static constexpr double kGroupedLaneH = 78;
  static constexpr double kCharWidth = 6.5;  // of an 11 px sans-serif letter, generously

  MapScale band;                  // the image
  std::vector<double> laneY;      // the top of each lane
  std::vector<MapScale> laneScale;
  double lanesEnd = kLanesY;
  std::vector<MapLegendKey> legend;
  double legendEnd = 0;
  double height = 0;              // of the page
};

MapLayout layOutMap(const MapModel& m);

// Round marks for a scale of span bytes: at most maxTicks steps of 1, 2 or 5
// times a power of ten of one binary unit, labelled in that unit.
std::vector<MapTick> scaleTicks(double span, int maxTicks);

// Text cut to what fits in width pixels, with an ellipsis.
std::string fitText(const std::string& text, double width);

#endif  // BFSSCAN_MAP_LAYOUT_H
