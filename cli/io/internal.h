#pragma once

// Helpers shared by the format files; not part of the public interface.

#include <string>
#include <string_view>

#include "GU_Detail.h"

namespace hueslice::io::detail {

// Offset of the colour attribute that the detail's current layer selects ("Cd", or "Cd<n>" when
// the detail int "currentlayer" is n != 1) as 3 floats, or -1 when there is none.
int colourOffset(const GU_Detail& detail);

// The first material library an OBJ text names on an `mtllib` line; empty when none.
std::string findMaterialLibrary(std::string_view objText);

// The shortest decimal text that reads back to exactly `value` ("nan", "inf", "-inf" for the
// non-finite values).
std::string floatText(float value);

// "1 point" or "3 points": the count and the noun that agrees with it.
std::string countOf(unsigned long long count, std::string_view one, std::string_view many);

// "there is 1 point" or "there are 3 points".
std::string thereAre(unsigned long long count, std::string_view one, std::string_view many);

// `value` rounded to the nearest float, as IEEE rounding gives it, without leaving the range the
// language defines: values that round to the largest float are clamped to it explicitly. False
// for finite values that would round to infinity.
bool narrowToFloat(double value, float& out);

}  // namespace hueslice::io::detail
