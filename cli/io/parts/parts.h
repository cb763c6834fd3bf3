#pragma once

// The visible faces of a detail divided into parts, one per output group plus one for faces in
// no group: what 3MF, glTF, STL and split folders write as objects, nodes or files. The groups
// are the detail's primitive groups in creation order, the hidden group excepted, each named
// after its group and coloured with its legend entry's colour (else its first face's). Hidden
// primitives are left out; polygons become triangle fans; primitives with fewer than 3
// vertices are left out with a note. Not part of the public interface.

#include <cmath>
#include <string>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io::detail {

struct Part {
    std::string name;  // the group's name; empty for the faces in no group
    float colour[3] = {0.5f, 0.5f, 0.5f};
    std::vector<unsigned> faces;  // visible primitives with 3 or more vertices, ascending
};

struct PartPlan {
    std::vector<Part> parts;  // groups in creation order, then the faces in no group
    int colourOffset = -1;    // "Cd" of the current layer, or -1
    Notes notes;              // faces left out, split or written twice
};

// Divides the visible faces of `geo` into parts. Hidden primitives are left out; so are the
// hidden group itself and groups with no visible face. A group's colour is that of its legend
// entry, else its first face's colour, else grey. `name` names the output in notes.
PartPlan planParts(const GU_Detail& geo, const std::vector<LegendEntry>& legend,
                   const std::string& name);

// Calls visit(face, vertices, count) for each face of `part` in order, with its vertices' point
// numbers. A part's faces lie scattered in memory, and waiting for each one would take most of
// a writer's time, so each face is asked for some faces ahead: its primitive first, then,
// once that has come, its vertices.
template <typename Visit>
void forEachFace(const GU_Detail& geo, const Part& part, Visit&& visit) {
    constexpr std::size_t kAhead = 8;
    const GB_PrimitiveList& list = geo.primitives();
    const std::size_t n = part.faces.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i + 2 * kAhead < n)
            __builtin_prefetch(list(part.faces[i + 2 * kAhead]));
        if (i + kAhead < n)
            __builtin_prefetch(geo.primitiveVertices(*list(part.faces[i + kAhead])));
        const GB_Primitive& prim = *list(part.faces[i]);
        visit(part.faces[i], geo.primitiveVertices(prim), prim.vertexCount);
    }
}

// The colour stored at `offset` of a primitive's record; grey when `offset` is negative.
void faceColour(const GU_Detail& geo, unsigned face, int offset, float rgb[3]);

// A colour component clamped to [0, 1], NaN giving 0, for formats that cannot hold others.
float unitColour(float value);

// A colour component as the byte 0..255 that the binary formats store, by unitColour. Inline:
// the PLY and 3MF writers call it for every channel of every face.
inline unsigned char colourByte(float value) {
    return static_cast<unsigned char>(std::lround(unitColour(value) * 255.0f));
}

// A detail holding only `part`'s faces, their points and colours ("Cd"), and, when the part
// has a name, a group of that name holding every face. `scratch` is empty or as an earlier call
// on `geo` left it, so that a detail per part costs time in the part's size only.
GU_Detail partDetail(const GU_Detail& geo, const Part& part, int colourOffset,
                     std::vector<unsigned>& scratch);

}  // namespace hueslice::io::detail
