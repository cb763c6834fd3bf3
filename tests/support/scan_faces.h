#pragma once

// Face colours as a scanner gives them: a few painted regions, each lit so that its sRGB values
// are scaled by 0.85 to 1.15 from its first face to its last, with Gaussian noise of sigma 4/255
// (a fixed sequence) and 8-bit rounding.

#include <cmath>
#include <cstdint>
#include <vector>

namespace scan_testing {

// Eight paints far apart from one another.
inline constexpr float kPaints[8][3] = {
    {0.85f, 0.15f, 0.15f}, {0.20f, 0.65f, 0.25f}, {0.15f, 0.30f, 0.80f}, {0.95f, 0.85f, 0.20f},
    {0.90f, 0.90f, 0.88f}, {0.12f, 0.12f, 0.12f}, {0.55f, 0.20f, 0.70f}, {0.10f, 0.60f, 0.65f}};

struct ScanFaces {
    std::vector<float> rgb;   // three per face, 0..1
    std::vector<int> region;  // per face
};

// `regions` (1..8) regions of `perRegion` faces each, region after region.
inline ScanFaces scanFaces(int regions, int perRegion) {
    ScanFaces scan;
    std::uint64_t state = 0x2545f4914f6cdd1dull;
    const auto uniform = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
    };
    for (int r = 0; r < regions; ++r) {
        for (int i = 0; i < perRegion; ++i) {
            const double light = 0.85 + 0.30 * i / (perRegion - 1);
            for (int c = 0; c < 3; ++c) {
                const double noise =
                    std::sqrt(-2 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
                const double value = kPaints[r][c] * light + noise * 4 / 255;
                scan.rgb.push_back(
                    static_cast<float>(std::round(std::fmin(1, std::fmax(0, value)) * 255) / 255));
            }
            scan.region.push_back(r);
        }
    }
    return scan;
}

}  // namespace scan_testing
