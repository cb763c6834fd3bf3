#pragma once

// 3MF packages: the format a multi-colour print starts from.

#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

class OutputBatch;

// Replaces `out` by the build of a 3MF package: every build item in order, components
// followed, transforms applied, coordinates in millimetres. A triangle's colour comes from its
// property (a colour-group entry or a base material's display colour), else from its object's
// default property; a named mesh object gives a group of its triangles. `source`, when not
// null, receives where the faces' colours came from.
Notes read3mf(std::string_view bytes, const std::string& name, GU_Detail& out,
              ColourSource* source = nullptr);

// read3mf on the file at `path`, named by its path in messages. The options do not apply: 3MF
// colours belong to triangles.
Notes read3mfFile(const std::string& path, GU_Detail& out, const ReadOptions& options,
                  ColourSource* source);

// One mesh object per part (see parts/parts.h), named after its group, whose default property
// is a base material of the part's colour (the faces in no group, in an unnamed object, keep
// their own colours per triangle); the mesh objects are the components of one assembly object,
// identity transforms, which is the only build item. Unit millimetre. Throws OutputError naming
// `name` when there is no visible triangle or a position is not finite.
WrittenFile write3mf(const GU_Detail& detail, const std::vector<LegendEntry>& legend,
                     const std::string& name);

// Stages write3mf's package for `path` into `batch`, made as the batch writes it (a position
// that is not finite then fails the commit); returns its notes.
Notes stage3mf(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool keepOrder);

}  // namespace hueslice::io
