#pragma once

#include <GB_Detail.h>
#include <UT_Vector3.h>

namespace hueslice {

// Appends to `colours` each distinct raw colour of the primitives of `detail`, in the order of
// first occurrence. Colours are the same when their floats are equal, or identical bit for bit
// (so NaN colours are kept once each, not once per primitive). `colourOffset` must be valid.
void findDistinctColours(const GB_Detail& detail, int colourOffset, UT_Vector3Array& colours);

}  // namespace hueslice
