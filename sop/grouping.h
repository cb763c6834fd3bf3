#pragma once

#include <vector>

#include <GU_Detail.h>
#include <UT_PtrArray.h>
#include <UT_String.h>
#include <UT_Vector3.h>

namespace hueslice {

// One entry of the node's list, as read from its parameters.
struct Entry {
    UT_String name;  // absent, empty or non-empty
    bool enabled = true;
    bool isolate = false;
    UT_Vector3 colour;  // raw, unquantised
};

// The name of the host's hidden-primitives group.
constexpr const char* kHiddenGroupName = "3d_hidden_primitives";

// Groups the primitives of `detail` by colour, for entries 1..n given in order:
// - refills `colourTable` with the entries' quantised colours and `groupTable` with one slot per
//   entry, holding the group made for an enabled entry (null for a disabled one, or when the
//   host makes no group for the name);
// - adds each primitive to the group of the first entry whose quantised colour equals the
//   primitive's, when that entry is enabled, its name is not empty and its group exists;
// - destroys the groups of enabled entries with an empty name (no slot keeps pointing at a
//   destroyed group);
// - for each isolating entry in order, makes "3d_hidden_primitives" hold exactly the primitives
//   outside its group (all of them when the entry has no group).
// `colourOffset` must be a valid colour attribute offset of `detail`.
void groupByColour(GU_Detail& detail, int colourOffset, const std::vector<Entry>& entries,
                   UT_Vector3Array& colourTable, UT_PtrArray<GB_PrimitiveGroup*>& groupTable);

// Makes "3d_hidden_primitives" of `detail` hold exactly the primitives outside `shown`; a null
// `shown` counts as an empty group. Other groups are untouched.
void hideOtherGroups(GU_Detail& detail, const GB_PrimitiveGroup* shown);

}  // namespace hueslice
