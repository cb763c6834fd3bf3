#pragma once

#include <UT_Vector3.h>

namespace hueslice {

// Orders colour keys by hue, then saturation, then value, each ascending, through the host's
// RGB to HSV conversion. Returns -1 when `a` sorts first and 1 otherwise, never 0: equal keys,
// and components left undecided by NaN, give 1. Keys are used as given, unclamped.
int compareColours(const UT_Vector3* a, const UT_Vector3* b);

}  // namespace hueslice
