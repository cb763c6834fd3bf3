#pragma once

// SVG: a picture of the grouped mesh with a legend, to see a grouping at a glance.

#include <string>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

class OutputBatch;

// A picture of the detail seen along the axis in which its bounding box is thinnest: faces
// filled with their "Cd" (grey without one), back to front, hidden primitives left out, and
// a legend of `legend` in the given order. Always a well-formed SVG document: characters of a
// legend name that XML cannot hold (invalid UTF-8, most control characters) are shown as U+FFFD,
// and a note for each such name goes to `warnings` when given.
std::string writeSvg(const GU_Detail& detail, const std::vector<LegendEntry>& legend,
                     Notes* warnings = nullptr);

// Stages writeSvg's picture for `path` into `batch`; returns its warnings, each naming `path`.
Notes stageSvg(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool keepOrder);

}  // namespace hueslice::io
