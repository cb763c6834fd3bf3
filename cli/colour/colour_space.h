#pragma once

// The colour space of the colour attribute "Cd": sRGB-encoded values in 0..1, as PLY colour
// bytes, OBJ `Kd`, 3MF display colours, image texels and the SVG hold them. glTF keeps its
// factors and vertex colours in linear light, so its reader and writer convert at the boundary,
// and colours are multiplied (factor x texture x vertex colour) in linear light.

#include <array>
#include <cstddef>
#include <cstdint>

namespace hueslice::colour {

// The sRGB transfer function as glTF defines it: an encoded value in 0..1 to linear light.
// Values outside 0..1 are passed through the same curve (mirrored below zero).
float linearFromSrgb(float encoded);

// The inverse: linear light in 0..1 to an encoded value. The two are inverse to well within
// 1/255 over 0..1.
float srgbFromLinear(float linear);

// The same two in double, for colour arithmetic that keeps full precision (CIELAB).
double linearFromSrgb(double encoded);
double srgbFromLinear(double linear);

// linearFromSrgb(byte / 255) for every byte, for turning texels into linear light without a
// power per texel.
const std::array<float, 256>& linearFromSrgbByte();

namespace detail {
// n / 255 in float for every byte n.
inline constexpr std::array<float, 256> kByteComponents = [] {
    std::array<float, 256> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<float>(i) / 255.0f;
    return table;
}();
}  // namespace detail

// The byte a colour component was read from: n when `component` is exactly n / 255 in float
// (as every reader makes of a colour byte), else -1. Inline, as it runs for every face.
inline int byteOfComponent(float component) {
    // The comparisons are false for a NaN.
    if (!(component >= 0.0f && component <= 1.0f))
        return -1;
    const auto byte = static_cast<std::size_t>(component * 255.0f + 0.5f);
    return detail::kByteComponents[byte] == component ? static_cast<int>(byte) : -1;
}

}  // namespace hueslice::colour
