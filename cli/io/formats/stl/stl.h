#pragma once

// Binary STL: bare triangles, what every slicer takes.

#include <string>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

class OutputBatch;

// Binary STL of the visible triangles (fans for polygons), normals from the winding.
WrittenFile writeStl(const GU_Detail& detail, const std::string& name);

// Stages writeStl's file for `path` into `batch`, made as the batch writes it; returns its
// notes.
Notes stageStl(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool keepOrder);

}  // namespace hueslice::io
