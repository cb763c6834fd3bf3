#pragma once

#include <cstring>

#include <GB_Detail.h>
#include <UT_String.h>
#include <UT_Vector3.h>

namespace hueslice {

struct ColourAttribute {
    int offset;        // byte offset in each primitive's record; negative when there is none
    UT_String name;    // "Cd", or "Cd" and the layer number
    UT_String prefix;  // "", or "layer" and the layer number, for generated group names
};

// Finds the colour attribute of a detail's current layer: "Cd" unless the detail attribute
// "currentlayer" (int) exists and is not 1, in which case "Cd<layer>". Only an attribute of three
// floats counts; the offset is negative otherwise, even when plain "Cd" exists.
ColourAttribute resolveColourAttribute(const GB_Detail& detail);

// The primitive's colour: the three floats at `offset` in its attribute record, as stored.
inline UT_Vector3 readPrimitiveColour(const GB_Primitive& prim, int offset) {
    float c[3];
    std::memcpy(c, prim.getAttribData() + offset, sizeof c);
    return UT_Vector3(c[0], c[1], c[2]);
}

// Calls visit(primitive) for each primitive in list order, from the first element up to the
// first null element or the end of the list.
template <typename Visit>
void forEachPrimitive(const GB_Detail& detail, Visit&& visit) {
    const GB_PrimitiveList& list = detail.primitives();
    long long i = 0;
    for (const GB_Primitive* prim = list(0); prim; prim = list(++i))
        visit(*prim);
}

}  // namespace hueslice
