#pragma once

// OBJ with its MTL material library: polygons, groups, material colours and vertex colours.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

class OutputBatch;

// Replaces `out` by the polygons of an OBJ text, in file order. `g` lines name the groups of the
// faces after them (a bare `g` means no group). A face's colour follows ReadOptions: its
// material's Kd when the material is found in `mtlText`, else the colour most of its corners
// share among the vertices written `v x y z r g b`. When any face gets a colour, every face gets
// "Cd", white (1,1,1) for faces with neither. Vertex colours are 0..1, except that a file in
// which any vertex colour component is above 1 has all of them divided by 255 (the 0..255 form
// some writers use). Vertices without a colour do not vote. `mtlText` empty (std::nullopt)
// means the material library is unavailable: materials give no colour and a note says so. Kd
// is read at float precision. A material's name is the rest of its `newmtl` or `usemtl` line,
// trimmed, so it may hold spaces. A group, material or library name holding a NUL byte is
// refused, as in every reader: names become C strings, which it would cut short. Points and
// lines (`p`, `l`) are skipped with a note. A material's `map_Kd` image multiplies its Kd
// through the faces' `vt` coordinates (see textures.h); images cannot be read from memory, so
// here they are left out with a note. `source`, when not null, receives where the faces'
// colours came from.
Notes readObj(std::string_view objText, const std::string& objName,
              std::optional<std::string_view> mtlText, const std::string& mtlName, GU_Detail& out,
              const ReadOptions& options = {}, ColourSource* source = nullptr);

struct ObjText {
    std::string obj;
    std::string mtl;  // empty when the detail has no "Cd"; then the OBJ names no library
    Notes warnings;   // e.g. group names changed to fit the format
};

// OBJ and MTL text for a detail. `mtlFileName` is the name the `mtllib` line gives. Faces are
// written together by their set of groups (sets in order of first use, input order within a
// set), so each distinct set has one `g` line; `keepOrder` keeps the input order instead. Faces
// with no group are written after a bare `g`. A group name that is not one word is written with
// '_' for its blanks, numbered where that meets another group's name, with a warning. Each
// distinct colour (by bits) becomes one material colour_<n>. Throws OutputError naming `name`
// for a primitive without vertices.
ObjText writeObj(const GU_Detail& detail, const std::string& mtlFileName, const std::string& name,
                 bool keepOrder = false);

// writeObj in two steps: the MTL text and the warnings at once, and a writer that hands the OBJ
// text to a sink as it is made, later. The writer keeps the detail as it was (a copy sharing its
// storage), so it may run after `detail` is changed or gone. It formats the text on worker
// threads and calls the sink only from the thread that runs it; what the sink throws is passed
// on once every worker has stopped.
struct ObjStream {
    std::string mtl;
    Notes warnings;
    std::function<void(const TextSink&)> writeObj;
};
ObjStream streamObj(const GU_Detail& detail, const std::string& mtlFileName,
                    const std::string& name, bool keepOrder = false);

// readObj on the file at `path`, named by its path in messages, read a piece at a time with a
// helper thread. Its first `mtllib` line names the material library, looked for beside it: the
// whole rest of the line when a file has that name, else its first word. Texture images are
// looked for as named files (input/named_files.h).
Notes readObjFile(const std::string& path, GU_Detail& out, const ReadOptions& options = {},
                  ColourSource* source = nullptr);

// The material library written beside the OBJ at `objPath`: its stem with .mtl, unless the
// `mtllib` line could not name that file so that it reads back (a line break in it, or leading
// blanks that the reader trims); then those characters become '_'.
std::string materialLibraryOf(const std::string& objPath);

// Stages the OBJ for `path` into `batch`, made as the batch writes it, and its material
// library (see materialLibraryOf) when the detail has colours. Returns warnings.
Notes stageObj(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool keepOrder);

}  // namespace hueslice::io
