#pragma once

// The CIEDE2000 colour difference, by which a face's colour is matched to its nearest palette
// colour and by which the palette report measures how far faces moved.

#include "lab.h"

namespace hueslice::colour {

// ΔE00 between two CIELAB colours, with the weighting factors kL = kC = kH = 1. Symmetric in
// its arguments and 0 only for equal colours.
double deltaE2000(const Lab& x, const Lab& y);

// A cheap bound that deltaE2000(x, y) never falls below: the lightness term alone (the other
// terms add up to a non-negative amount, as the rotation factor is at most 2 in size).
double deltaE2000LowerBound(const Lab& x, const Lab& y);

}  // namespace hueslice::colour
