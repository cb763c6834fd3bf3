#pragma once

// The formats people print and view with: glTF 2.0 (.gltf, .glb), 3MF, binary STL and binary
// PLY, and one file per group. Readers follow the rules of io.h: bytes plus a display name in,
// InputError on bad input with the output untouched.
//
// The writers share one layout: the visible faces are divided into one part per output group
// (the detail's primitive groups in creation order, the hidden group excepted), named after
// the group and coloured with its legend entry's colour (else its first face's), then one part
// for the visible faces in no group. Hidden primitives are left out; polygons become triangle
// fans; primitives with fewer than 3 vertices are left out with a note.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

// A written file and what the user should be told about it.
struct WrittenFile {
    std::string bytes;
    Notes notes;
};

// ---- glTF 2.0 ----

// Replaces `out` by the triangles of the default scene (every node of the scene, transforms
// applied; or every mesh once when there is no scene), as .glb when `bytes` starts with the
// binary magic and as .gltf text otherwise. A face's colour is its material's baseColorFactor
// times the COLOR_0 most of its corners share (see corner_vote.h); a named node (else its mesh's
// name) gives a group of its faces. `folder` is where a .gltf's external buffers are looked for;
// without one any external reference is refused. Textures are not sampled (a note says so).
Notes readGltf(std::string_view bytes, const std::string& name, GU_Detail& out,
               const std::optional<std::string>& folder = std::nullopt);

// One node and mesh per part, named after its group, each with a material of the part's
// colour; the faces in no group (unnamed node) keep their own colours as COLOR_0. `binary`
// gives .glb, otherwise .gltf with its buffer embedded. Throws OutputError naming `name` for
// positions that are not finite.
WrittenFile writeGltf(const GU_Detail& detail, const std::vector<LegendEntry>& legend, bool binary,
                      const std::string& name);

// ---- 3MF ----

// Replaces `out` by the build of a 3MF package: every build item in order, components
// followed, transforms applied, coordinates in millimetres. A triangle's colour comes from its
// property (a colour-group entry or a base material's display colour), else from its object's
// default property; a named mesh object gives a group of its triangles.
Notes read3mf(std::string_view bytes, const std::string& name, GU_Detail& out);

// One mesh object per part, named after its group, whose default property is a base material
// of the part's colour (the faces in no group, in an unnamed object, keep their own colours per
// triangle); the mesh objects are the components of one assembly object, identity transforms,
// which is the only build item. Unit millimetre. Throws OutputError naming `name` when there is
// no visible triangle or a position is not finite.
WrittenFile write3mf(const GU_Detail& detail, const std::vector<LegendEntry>& legend,
                     const std::string& name);

// ---- STL and PLY ----

// Binary STL of the visible triangles (fans for polygons), normals from the winding.
WrittenFile writeStl(const GU_Detail& detail, const std::string& name);

// Binary little-endian PLY of every point and primitive, with uchar face colours when the
// detail has "Cd" (clamped to [0, 1] and rounded).
WrittenFile writePly(const GU_Detail& detail, const std::string& name);

// ---- One file per group ----

// Formats a split folder can hold, by extension.
inline constexpr const char* kSplitFormats[] = {"stl", "ply", "obj", "3mf", "glb"};

// Stages `folder`/<part>.<format> for every part into `batch`: a group's file holds its faces,
// `ungrouped` the visible faces in no group. Names that are not safe as file names are made
// safe and unique, and each change is a note. Creates `folder` when missing. Throws OutputError
// for an unknown format or a folder that cannot be made.
Notes stageSplit(OutputBatch& batch, const std::string& folder, const std::string& format,
                 const GU_Detail& detail, const std::vector<LegendEntry>& legend);

// The name `groupName` gets as a file name: bytes that are not safe on common file systems
// become '_', and names a file system reserves are changed. Not yet unique.
std::string safeFileName(const std::string& groupName);

}  // namespace hueslice::io
