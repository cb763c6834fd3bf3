#pragma once

// The program's native geometry: the whole detail as JSON, read back exactly.

#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

class OutputBatch;

namespace detail {
// Most 4-byte components an attribute of JSON geometry has, read or written.
inline constexpr int kMaxComponents = 64;
}  // namespace detail

// Replaces `out` by the geometry in `text`. Float attributes, points and groups come back
// exactly as written by writeJsonGeometry; a NaN reads back as the quiet NaN. `source`, when
// not null, receives where the faces' colours came from.
void readJsonGeometry(std::string_view text, const std::string& name, GU_Detail& out,
                      ColourSource* source = nullptr);

// readJsonGeometry on the file at `path`, named by its path in messages; no notes. The options
// do not apply: JSON colours belong to primitives.
Notes readJsonGeometryFile(const std::string& path, GU_Detail& out, const ReadOptions& options,
                           ColourSource* source);

// The whole detail as JSON text: points, primitives, every primitive and detail attribute and
// every primitive group (creation order, empty groups included). Throws OutputError naming
// `name` for an attribute that JSON cannot describe (a byte size that is not whole 4-byte
// components, or more than 64 components).
std::string writeJsonGeometry(const GU_Detail& detail, const std::string& name);
// The same text handed to `sink` as it is made. On OutputError nothing has been given to `sink`.
void writeJsonGeometry(const GU_Detail& detail, const std::string& name, const TextSink& sink);

// Stages the JSON of `detail` for `path` into `batch`, made as the batch writes it from a copy
// that shares the detail's storage; no notes.
Notes stageJsonGeometry(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend, bool keepOrder);

}  // namespace hueslice::io
