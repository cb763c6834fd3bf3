#pragma once

// glTF 2.0, as .gltf text or .glb binary: the format people view and share models in.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

class OutputBatch;

// Replaces `out` by the triangles of the default scene (every node of the scene, transforms
// applied; or every mesh once when there is no scene), as .glb when `bytes` starts with the
// binary magic and as .gltf text otherwise. A face's colour is its material's baseColorFactor
// times the COLOR_0 most of its corners share (see colour/corner_vote.h); a named node (else its
// mesh's name) gives a group of its faces. A material's base-colour texture multiplies in (see
// textures.h). With `followFiles`, `name` is the model's path and the files it names (buffers,
// images) are read as input/named_files.h says; without, any external buffer is refused and
// image files are left out with a note. Refused besides bad layout: glTF 1.0, a GLB chunk that
// runs past the file, JSON nested deeper than 512 levels, a default scene that does not exist,
// a NUL in a group's name, a placement that is not finite. A model that yields no face gives a
// note saying so. `source`, when not null, receives where the faces' colours came from and the
// textures used.
Notes readGltf(std::string_view bytes, const std::string& name, GU_Detail& out,
               bool followFiles = false, ColourSource* source = nullptr,
               const ReadOptions& options = {});

// readGltf on the file at `path`, named by its path in messages, following the files it
// names. Of the options only snapTexels applies: glTF faces take their colour by one rule.
Notes readGltfFile(const std::string& path, GU_Detail& out, const ReadOptions& options,
                   ColourSource* source);

// One node and mesh per part (see parts/parts.h), named after its group, each with a material of
// the part's colour; the faces in no group (unnamed node) keep their own colours as COLOR_0.
// `binary` gives .glb, otherwise .gltf with its buffer embedded. Throws OutputError naming `name`
// for positions that are not finite.
WrittenFile writeGltf(const GU_Detail& detail, const std::vector<LegendEntry>& legend, bool binary,
                      const std::string& name);

// Stage writeGltf's file for `path` into `batch`, as .gltf text or as .glb, made as the batch
// writes it; return its notes.
Notes stageGltf(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                const std::vector<LegendEntry>& legend, bool keepOrder);
Notes stageGlb(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool keepOrder);

}  // namespace hueslice::io
