#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "colour/ciede2000.h"
#include "colour/clustering.h"
#include "colour/reduction.h"

namespace hueslice::colour {
namespace {

// Eight paints a model might be printed in, far apart from one another.
const float kPaints[8][3] = {{0.85f, 0.15f, 0.15f}, {0.20f, 0.65f, 0.25f}, {0.15f, 0.30f, 0.80f},
                             {0.95f, 0.85f, 0.20f}, {0.90f, 0.90f, 0.88f}, {0.12f, 0.12f, 0.12f},
                             {0.55f, 0.20f, 0.70f}, {0.10f, 0.60f, 0.65f}};

// A scan-like model: `regions` painted bands of `perRegion` faces of area 1 each, lit so that
// each band's sRGB values are scaled by 0.85 to 1.15 along it, with Gaussian noise of sigma
// 4/255 and 8-bit rounding as a scanner's file holds. The noise is a fixed sequence.
struct ScanFaces {
    std::vector<float> rgb;
    std::vector<double> area;
    std::vector<int> region;
};

ScanFaces scanFaces(int regions, int perRegion) {
    ScanFaces scan;
    std::uint64_t state = 0x2545f4914f6cdd1dull;
    const auto uniform = [&] {
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
            scan.area.push_back(1.0);
            scan.region.push_back(r);
        }
    }
    return scan;
}

// The share of each region's faces that took that region's most common palette colour, the
// smallest over the regions, and whether two regions share a palette colour.
double worstRegionShare(const ScanFaces& scan, const Reduction& reduction, int regions,
                        bool& shared) {
    std::vector<std::vector<long long>> counts(regions,
                                               std::vector<long long>(reduction.colours.size()));
    for (std::size_t f = 0; f < scan.region.size(); ++f)
        ++counts[scan.region[f]][reduction.faceColour[f]];
    double worst = 1;
    std::vector<std::size_t> majority;
    shared = false;
    for (const auto& row : counts) {
        std::size_t best = 0;
        long long total = 0;
        for (std::size_t p = 0; p < row.size(); ++p) {
            total += row[p];
            best = row[p] > row[best] ? p : best;
        }
        for (std::size_t other : majority)
            shared = shared || other == best;
        majority.push_back(best);
        worst = std::min(worst, static_cast<double>(row[best]) / static_cast<double>(total));
    }
    return worst;
}

class RegionMeshes : public ::testing::TestWithParam<int> {};

TEST_P(RegionMeshes, EachRegionKeepsOneColourWithExactAndAutomaticCounts) {
    const int regions = GetParam();
    const ScanFaces scan = scanFaces(regions, 1500);
    for (const ReductionRequest::Kind kind : {ReductionRequest::Count, ReductionRequest::Auto}) {
        ReductionRequest request;
        request.kind = kind;
        request.count = static_cast<std::size_t>(regions);
        const Reduction reduction =
            reduceColours(scan.rgb.data(), scan.area.data(), scan.area.size(), request);
        ASSERT_EQ(reduction.colours.size(), static_cast<std::size_t>(regions))
            << (kind == ReductionRequest::Auto ? "auto" : "exact");
        bool shared = false;
        EXPECT_GE(worstRegionShare(scan, reduction, regions, shared), 0.99);
        EXPECT_FALSE(shared);
    }
}

INSTANTIATE_TEST_SUITE_P(TwoToEight, RegionMeshes, ::testing::Range(2, 9));

}  // namespace
}  // namespace hueslice::colour
