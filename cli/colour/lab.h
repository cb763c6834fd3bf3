#pragma once

// CIELAB under the D65 white point, the space in which colours are compared and averaged: its
// distances follow what the eye sees far better than distances between sRGB values do.

#include <array>
#include <cstdint>
#include <string>

namespace hueslice::colour {

struct Lab {
    double L = 0, a = 0, b = 0;
};

// An 8-bit sRGB colour.
using Rgb8 = std::array<std::uint8_t, 3>;

// The CIELAB value of an sRGB colour with components on the 0..1 scale. Components outside
// 0..1 are clamped to it first; a NaN counts as 0.
Lab labFromSrgb(float r, float g, float b);

// The same for an 8-bit colour; a table lookup for the components, so it is cheap.
Lab labFromRgb8(const Rgb8& rgb);

// The 8-bit sRGB colour nearest to `lab` (components rounded, clamped to 0..255 when `lab` lies
// outside the sRGB gamut).
Rgb8 rgb8FromLab(const Lab& lab);

// "#rrggbb" in lower case.
std::string hexText(const Rgb8& rgb);

}  // namespace hueslice::colour
