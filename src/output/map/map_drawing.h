// Drawing the map of a scan as SVG elements, from its model and its layout
// (map_layout.h), through a writer (svg_writer.h): the document with its
// style, the header with the image and the outcome of the run, the band of
// the image, a lane per file system with its regions, files, shades, counts
// and marks of damage, the connectors from each lane to its place, the
// legend and the problems. Every item carries a <title>.
#ifndef BFSSCAN_MAP_DRAWING_H
#define BFSSCAN_MAP_DRAWING_H

#include "map_layout.h"
#include "map_model.h"
#include "svg_writer.h"

// The whole document, l being layOutMap(m).
void drawMap(SvgWriter& svg, const MapModel& m, const MapLayout& l);

#endif  // BFSSCAN_MAP_DRAWING_H
