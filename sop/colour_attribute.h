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

// The three floats at `offset` in a primitive's attribute record, as stored.
inline UT_Vector3 readPrimitiveColour(const unsigned char* record, int offset) {
    float c[3];
    std::memcpy(c, record + offset, sizeof c);
    return UT_Vector3(c[0], c[1], c[2]);
}

// Calls visit(index, record) for each primitive in list order, stopping at the first missing
// element.
template <typename Visit>
void forEachPrimitive(const GB_Detail& detail, Visit&& visit) {
    const GB_PrimitiveList& list = detail.primitives();
    const long long count = list.entries();
    for (long long i = 0; i < count && list(i); ++i) {
        visit(*list(i), detail.primitiveAttribData(i));
    }
}

}  // namespace hueslice
