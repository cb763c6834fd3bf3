#pragma once

// The CIEDE2000 colour difference, by which a face's colour is matched to its nearest palette
// colour and by which the palette report measures how far faces moved.

#include "lab.h"

namespace hueslice::colour {

// ΔE00 between two CIELAB colours, with the weighting factors kL = kC = kH = 1. Symmetric in
// its arguments and 0 only for equal colours.
double deltaE2000(const Lab& x, const Lab& y);

// deltaE2000(x, y) when that is at most `limit`; otherwise either that or +infinity, whichever
// is found first. Much cheaper than deltaE2000 for colours clearly farther than `limit`, as when
// a palette colour is checked against the nearest found so far.
double deltaE2000Within(const Lab& x, const Lab& y, double limit);

// A colour with its CIELAB chroma worked out once, for colours compared with many others.
struct ChromaLab {
    explicit ChromaLab(const Lab& colour);
    Lab lab;
    double chroma;
};

// deltaE2000Within for colours with their chroma.
double deltaE2000Within(const ChromaLab& x, const ChromaLab& y, double limit);

}  // namespace hueslice::colour
