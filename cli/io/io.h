#pragma once

// File formats of the command-line host: geometry readers and writers, scene files and atomic
// file output.
//
// Every reader takes the whole input as bytes plus a display name, so that tests and fuzzers can
// feed it memory; the *File forms read a path. On bad input a reader throws InputError and
// leaves its output untouched; a reader never throws anything else for bad input (only
// std::bad_alloc when memory really runs out). Element numbers in messages (point 3, face 2)
// count from 0, in file order.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "OP_Parameters.h"

namespace hueslice::io {

// Bad input. what() is one line without a program prefix: "FILE:LINE: fault" for text (line
// counted from 1), "FILE: byte N: fault" for binary data (N counted from 0) or "FILE: fault".
class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A write that failed; what() is "FILE: fault".
class OutputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Notes for the user about input that was read, each one line, possibly none.
using Notes = std::vector<std::string>;

// The host's group of primitives that are not drawn.
inline constexpr const char* kHiddenGroupName = "3d_hidden_primitives";

// The shortest decimal text that reads back to exactly `value`; "nan", "inf" and "-inf" for the
// values that have no digits.
std::string floatText(float value);

// ---- Native JSON geometry ----

// Replaces `out` by the geometry in `text`. Float attributes, points and groups come back
// exactly as written by writeJsonGeometry; a NaN reads back as the quiet NaN.
void readJsonGeometry(std::string_view text, const std::string& name, GU_Detail& out);

// The whole detail as JSON text: points, primitives, every primitive and detail attribute and
// every primitive group (creation order, empty groups included). Throws OutputError naming
// `name` for an attribute that JSON cannot describe (a byte size that is not whole 4-byte
// components, or more than 64 components).
std::string writeJsonGeometry(const GU_Detail& detail, const std::string& name);

// ---- PLY ----

struct PlyOptions {
    // Faces without colours of their own take the colour of their first vertex.
    bool vertexColours = false;
};

// Replaces `out` by the mesh in a PLY file (ascii or binary of either byte order). Face colours
// become the primitive attribute "Cd". Returns notes, e.g. that colours were on vertices only.
Notes readPly(std::string_view bytes, const std::string& name, GU_Detail& out,
              const PlyOptions& options = {});

// ---- OBJ + MTL ----

// Replaces `out` by the polygons of an OBJ text, in file order. `g` lines name the groups of the
// faces after them (a bare `g` means no group). When any face has a material found in
// `mtlText`, every face gets "Cd": its material's Kd, or white (1,1,1) without one. `mtlText`
// empty (std::nullopt) means the material library is unavailable: faces get no colour and a
// note says so. Kd is read at float precision, as tinyobjloader gives it.
Notes readObj(std::string_view objText, const std::string& objName,
              std::optional<std::string_view> mtlText, const std::string& mtlName, GU_Detail& out);

struct ObjText {
    std::string obj;
    std::string mtl;  // empty when the detail has no "Cd"; then the OBJ names no library
    Notes warnings;   // e.g. group names changed to fit the format
};

// OBJ and MTL text for a detail. `mtlFileName` is the name the `mtllib` line gives. Faces are
// written together by their set of groups (sets in order of first use, input order within a
// set), so each distinct set has one `g` line; `keepOrder` keeps the input order instead. Faces
// with no group are written after a bare `g`. Each distinct colour (by bits) becomes one
// material colour_<n>. Throws OutputError naming `name` for a primitive without vertices.
ObjText writeObj(const GU_Detail& detail, const std::string& mtlFileName, const std::string& name,
                 bool keepOrder = false);

// ---- SVG ----

struct LegendEntry {
    std::string name;
    float swatch[3] = {0.5f, 0.5f, 0.5f};
    long long members = 0;
};

// A picture of the detail seen along the axis in which its bounding box is thinnest: faces
// filled with their "Cd" (grey without one), back to front, hidden primitives left out, and
// a legend of `legend` in the given order. Always a complete SVG document.
std::string writeSvg(const GU_Detail& detail, const std::vector<LegendEntry>& legend);

// ---- Files ----

// The whole content of a file. Throws InputError "PATH: cannot read file: reason".
std::string readWholeFile(const std::string& path);

// Files replaced together: each is written in full to a temporary file beside its target and
// flushed to disk first; only when all are written are they renamed over their targets. A
// failure while writing leaves every target as it was; temporaries never committed are removed
// when the batch is destroyed.
class OutputBatch {
  public:
    OutputBatch() = default;
    ~OutputBatch();
    OutputBatch(const OutputBatch&) = delete;
    OutputBatch& operator=(const OutputBatch&) = delete;

    // Writes the temporary for `path`. Throws OutputError naming `path`; its temporary is gone.
    void add(const std::string& path, std::string_view bytes);
    // Renames every staged file into place, in the order added. Throws OutputError naming the
    // first rename that fails; targets renamed before it stay replaced, later ones untouched.
    void commit();

  private:
    struct Staged {
        std::string path;
        std::string temp;
    };
    std::vector<Staged> staged;
};

// Replaces the file at `path` by `bytes` so that readers see either the old or the new content.
// On any failure the old file is left as it was and OutputError is thrown.
void writeFileAtomically(const std::string& path, std::string_view bytes);

// Reads .json, .ply, .obj, .3mf, .gltf or .glb by extension (case-insensitive) into `out`. An
// OBJ's material library and a .gltf's external buffers are looked for beside it. Returns notes.
Notes readGeometryFile(const std::string& path, GU_Detail& out, const PlyOptions& options = {});

// Stages .json, .obj (with the .mtl of the same stem beside it), .svg, .3mf, .gltf, .glb, .stl
// or .ply by extension into `batch`. `legend` gives the pictures and the parts of the exchange
// formats their colours; `keepOrder` is for .obj (see writeObj). Returns warnings.
Notes stageGeometryFile(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend = {}, bool keepOrder = false);

// stageGeometryFile for one file, committed at once.
Notes writeGeometryFile(const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend = {});

// ---- Scenes ----

// Most instances a multi-list count may ask for.
inline constexpr int kMaxEntries = 100000;

// Applies the parameter values of a scene file to `node`: list counts first, then the rest.
// The scene is checked in full before anything is set, so a bad scene leaves `node` as it was.
void applyScene(std::string_view text, const std::string& name, OP_Parameters& node);

// Every parameter of `node` with a value (buttons have none) as scene JSON, keyframes included,
// numbers exact. Instances of lists are made on the way, as the host's allParms() does. Throws
// OutputError for text that is not valid UTF-8.
std::string saveScene(OP_Parameters& node);

}  // namespace hueslice::io
