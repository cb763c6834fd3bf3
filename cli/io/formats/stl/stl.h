#pragma once

// Binary STL: bare triangles, what every slicer takes.

#include <memory>
#include <string>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

class OutputBatch;
namespace detail {
struct Part;
}

// Binary STL of the visible triangles (fans for polygons), normals from the winding.
WrittenFile writeStl(const GU_Detail& detail, const std::string& name);

// Stages writeStl's file for `path` into `batch`, made as the batch writes it; returns its
// notes.
Notes stageStl(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool keepOrder);

// Stages the file of one part of `shared` for `path`: the same bytes as stageStl gives for a
// detail holding only that part, without making one. Split folders of many parts use it.
Notes stageStlPart(OutputBatch& batch, const std::string& path,
                   const std::shared_ptr<const GU_Detail>& shared, const detail::Part& part);

}  // namespace hueslice::io
