#pragma once

// PLY: meshes from scanners and modellers, read in ascii or binary, written binary.

#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

class OutputBatch;

// Replaces `out` by the mesh in a PLY file (ascii or binary of either byte order). Face colours,
// or vertex colours by the rule of ReadOptions, become the primitive attribute "Cd"; colour
// properties are red, green and blue or diffuse_red, diffuse_green and diffuse_blue, of any
// scalar type, integers scaled from their type's range to 0..1. A header line with an unknown
// keyword is read as a comment. Returns notes, e.g. that vertex colours were used and how many
// faces tied. `source`, when not null, receives where the faces' colours came from.
Notes readPly(std::string_view bytes, const std::string& name, GU_Detail& out,
              const ReadOptions& options = {}, ColourSource* source = nullptr);

// readPly on the file at `path`, named by its path in messages. Binary data is read in one pass
// through a window of a few MiB, never held whole; text is read whole.
Notes readPlyFile(const std::string& path, GU_Detail& out, const ReadOptions& options = {},
                  ColourSource* source = nullptr);

// Binary little-endian PLY of every point and primitive, with uchar face colours when the
// detail has "Cd" (clamped to [0, 1] and rounded).
WrittenFile writePly(const GU_Detail& detail, const std::string& name);

// Stages writePly's file for `path` into `batch`; returns its notes.
Notes stagePly(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool keepOrder);

namespace detail {

// How many bytes of a binary PLY file readPlyFile holds at a time (more only for a longer row).
inline constexpr std::size_t kPlyWindow = std::size_t{4} << 20;

// readPlyFile through a window of `window` bytes: tests make it tiny, so that rows, list counts
// and colours straddle its edges.
Notes readPlyFileThroughWindow(const std::string& path, std::size_t window, GU_Detail& out,
                               const ReadOptions& options, ColourSource* source);

}  // namespace detail

}  // namespace hueslice::io
