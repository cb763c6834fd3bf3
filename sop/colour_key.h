#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <UT_Vector3.h>

namespace hueslice {

// Multiplies a component by 255 (exactly, in double), truncates toward zero to 64 bits, keeps
// the low 32 bits as a signed integer and returns that as a float. NaN, infinities and products
// of magnitude 2^63 or more give 0; nothing is clamped.
inline float quantise(float component) {
    const double product = static_cast<double>(component) * 255.0;
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (!(std::fabs(product) < kTwoTo63)) return 0.0f;  // also NaN
    const std::uint64_t bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(product));
    const std::uint32_t low = static_cast<std::uint32_t>(bits);
    // Two's-complement reading of the low word, spelled out to stay well defined.
    const std::int32_t value = low <= 0x7fffffffu
                                   ? static_cast<std::int32_t>(low)
                                   : static_cast<std::int32_t>(static_cast<std::int64_t>(low) -
                                                               4294967296LL);
    return static_cast<float>(value);
}

inline UT_Vector3 quantiseKey(const UT_Vector3& c) {
    return UT_Vector3(quantise(c[0]), quantise(c[1]), quantise(c[2]));
}

// Hashing and equality for colour keys. Two keys are the same colour when all three floats are
// equal (so -0.0 and +0.0 agree), or when they are identical bit for bit (so a NaN colour equals
// itself and nothing else). The hash folds -0.0 into +0.0 so that it agrees with both.
struct ColourKeyHash {
    std::size_t operator()(const UT_Vector3& c) const {
        std::uint64_t h = 0x9e3779b97f4a7c15ull;
        for (int i = 0; i < 3; ++i) {
            const float f = c[i] == 0.0f ? 0.0f : c[i];
            std::uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            h = (h ^ bits) * 0xff51afd7ed558ccdull;
            h ^= h >> 29;
        }
        return static_cast<std::size_t>(h);
    }
};

struct SameColour {
    bool operator()(const UT_Vector3& a, const UT_Vector3& b) const {
        if (a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) return true;
        return std::memcmp(&a, &b, sizeof(UT_Vector3)) == 0;
    }
};

}  // namespace hueslice
