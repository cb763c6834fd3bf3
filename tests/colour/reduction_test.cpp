#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "colour/ciede2000.h"
#include "colour/clustering.h"
#include "colour/reduction.h"
#include "support/scan_faces.h"

namespace hueslice::colour {
namespace {

using scan_testing::ScanFaces;
using scan_testing::scanFaces;

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
    const std::vector<double> area(scan.region.size(), 1.0);
    for (const ReductionRequest::Kind kind : {ReductionRequest::Count, ReductionRequest::Auto}) {
        ReductionRequest request;
        request.kind = kind;
        request.count = static_cast<std::size_t>(regions);
        const Reduction reduction =
            reduceColours(scan.rgb.data(), area.data(), area.size(), request);
        ASSERT_EQ(reduction.colours.size(), static_cast<std::size_t>(regions))
            << (kind == ReductionRequest::Auto ? "auto" : "exact");
        bool shared = false;
        EXPECT_GE(worstRegionShare(scan, reduction, regions, shared), 0.99);
        EXPECT_FALSE(shared);
    }
}

INSTANTIATE_TEST_SUITE_P(TwoToEight, RegionMeshes, ::testing::Range(2, 9));

// Each block of colours sums on its own and blocks are added in order, so the palette and
// every face's choice are the same on any number of threads.
TEST(Reduction, SameResultOnAnyNumberOfThreads) {
    const ScanFaces scan = scanFaces(8, 2500);
    std::vector<double> area(scan.region.size());
    for (std::size_t f = 0; f < area.size(); ++f)
        area[f] = 1 + static_cast<double>(f % 7) / 3;
    for (const ReductionRequest::Kind kind :
         {ReductionRequest::Count, ReductionRequest::Auto, ReductionRequest::Given}) {
        ReductionRequest request;
        request.kind = kind;
        request.count = 5;
        request.given = {{{255, 0, 0}, ""}, {{0, 0, 255}, ""}, {{250, 250, 250}, ""}};
        request.threads = 1;
        const Reduction one = reduceColours(scan.rgb.data(), area.data(), area.size(), request);
        for (unsigned threads : {2u, 3u, 8u}) {
            request.threads = threads;
            const Reduction many =
                reduceColours(scan.rgb.data(), area.data(), area.size(), request);
            ASSERT_EQ(many.colours.size(), one.colours.size()) << threads;
            for (std::size_t p = 0; p < one.colours.size(); ++p) {
                EXPECT_EQ(many.colours[p].colour.rgb, one.colours[p].colour.rgb);
                EXPECT_EQ(many.colours[p].meanDeltaE, one.colours[p].meanDeltaE);
            }
            EXPECT_EQ(many.faceColour, one.faceColour) << threads;
            EXPECT_EQ(many.worstFace, one.worstFace);
        }
    }
}

struct WeightCase {
    const char* name;
    std::vector<double> area;  // of the one red face, then of each of the 40 blue faces
    bool redWins;
    bool byFaces;
    double total;
};

// One red face against forty blue ones: with one colour to give, the palette leans to the
// colour that covers more of the model, not to the one more faces carry.
TEST(Reduction, AreaNotFaceCountDecides) {
    const WeightCase cases[] = {
        {"big red face", {100, 0.1}, true, false, 104},
        {"equal faces", {1, 1}, false, false, 41},
        {"no area at all counts faces", {0, 0}, false, true, 41},
        {"non-finite areas count as none", {std::nan(""), -1}, false, true, 41},
        {"negative areas count as none", {1, -1}, true, false, 1},
    };
    for (const WeightCase& c : cases) {
        // The red face second, so that blue comes back to its bin both after another colour
        // and after itself.
        std::vector<float> rgb = {0, 0, 1, 1, 0, 0};
        std::vector<double> area = {c.area[1], c.area[0]};
        for (int i = 1; i < 40; ++i) {
            rgb.insert(rgb.end(), {0, 0, 1});
            area.push_back(c.area[1]);
        }
        ReductionRequest request;
        request.count = 1;
        const Reduction r = reduceColours(rgb.data(), area.data(), area.size(), request);
        ASSERT_EQ(r.colours.size(), 1u) << c.name;
        const Rgb8 chosen = r.colours[0].colour.rgb;
        EXPECT_EQ(chosen[0] > chosen[2], c.redWins) << c.name << " " << hexText(chosen);
        EXPECT_EQ(r.weightedByFaces, c.byFaces) << c.name;
        EXPECT_EQ(r.colours[0].faces, 41) << c.name;
        EXPECT_NEAR(r.totalArea, c.total, 1e-9) << c.name;
        EXPECT_NEAR(r.colours[0].area, c.total, 1e-9) << c.name;
    }
}

// A user's palette keeps its order and names, reports a colour no face takes, and leaves faces
// whose colour is not a number as they are.
TEST(Reduction, GivenPaletteSnapsByCiede2000) {
    const float nan = std::nanf("");
    const std::vector<float> rgb = {0.9f, 0.1f, 0.1f, 0.1f, 0.1f, 0.8f, nan, 0,
                                    0,    0.8f, 0.2f, 0.1f, 0.2f, 0.2f, 0.9f};
    const std::vector<double> area = {1, 1, 1, 3, 1};
    ReductionRequest request;
    request.kind = ReductionRequest::Given;
    request.given = {{{0, 0, 255}, "PLA Blue"}, {{0, 255, 0}, ""}, {{255, 0, 0}, "red"}};
    const Reduction r = reduceColours(rgb.data(), area.data(), area.size(), request);
    ASSERT_EQ(r.colours.size(), 3u);
    EXPECT_EQ(r.colours[0].colour.name, "PLA Blue");
    EXPECT_EQ(r.colours[0].faces, 2);
    EXPECT_EQ(r.colours[1].faces, 0);
    EXPECT_EQ(r.colours[2].faces, 2);
    EXPECT_DOUBLE_EQ(r.colours[2].area, 4.0);
    EXPECT_EQ(r.keptFaces, 1);
    EXPECT_EQ(r.faceColour, (std::vector<std::uint32_t>{2, 0, Reduction::kKept, 2, 0}));
    const Lab red = labFromRgb8({255, 0, 0});
    const double near = deltaE2000(labFromSrgb(0.9f, 0.1f, 0.1f), red);
    const double far = deltaE2000(labFromSrgb(0.8f, 0.2f, 0.1f), red);
    EXPECT_NEAR(r.colours[2].meanDeltaE, (near + 3 * far) / 4, 1e-9);
    EXPECT_DOUBLE_EQ(r.colours[2].worstDeltaE, std::max(near, far));
    EXPECT_EQ(r.worstFace, near > far ? 0 : 3);
    EXPECT_EQ(r.worstFacePalette, 2u);
}

// The search rules colours out by a bound and starts from the nearest by CIELAB distance; it
// must still give what trying every colour gives, the first of equals included.
TEST(Reduction, NearestByDeltaEMatchesTryingEveryColour) {
    const std::vector<Lab> palette = {{85, 0, 0}, {95, 7, 0},    {40, 0, 0},
                                      {60, 0, 0}, {50, 60, -90}, {55, 40, -100}};
    int differsFromCielab = 0;
    for (double l = 0; l <= 100; l += 5) {
        for (double a = -80; a <= 80; a += 20) {
            for (double b = -100; b <= 80; b += 20) {
                const Lab point{l, a, b};
                std::uint32_t best = 0, cielab = 0;
                for (std::uint32_t p = 1; p < palette.size(); ++p) {
                    if (deltaE2000(point, palette[p]) < deltaE2000(point, palette[best]))
                        best = p;
                    const auto d = [&](const Lab& c) {
                        return (c.L - l) * (c.L - l) + (c.a - a) * (c.a - a) +
                               (c.b - b) * (c.b - b);
                    };
                    if (d(palette[p]) < d(palette[cielab]))
                        cielab = p;
                }
                const auto [found, distance] = nearestByDeltaE(point, palette);
                ASSERT_EQ(found, best) << l << " " << a << " " << b;
                EXPECT_EQ(distance, deltaE2000(point, palette[best]));
                differsFromCielab += best != cielab;
            }
        }
    }
    EXPECT_GT(differsFromCielab, 0);
    // Exactly between two greys of equal lightness weighting: the first wins.
    EXPECT_EQ(nearestByDeltaE({50, 0, 0}, {{40, 0, 0}, {60, 0, 0}}).first, 0u);
    EXPECT_EQ(nearestByDeltaE({50, 0, 0}, {{60, 0, 0}, {40, 0, 0}}).first, 0u);
}

// Two faces as far from their palette colour (1 and 1.5 clamp alike): the first is the worst.
TEST(Reduction, WorstFaceIsTheFirstOfEquals) {
    const std::vector<float> rgb = {0, 0, 1, 1, 0.1f, 0.1f, 1.5f, 0.1f, 0.1f};
    const std::vector<double> area = {1, 1, 1};
    ReductionRequest request;
    request.kind = ReductionRequest::Given;
    request.given = {{{0, 0, 255}, ""}, {{200, 0, 0}, ""}};
    const Reduction r = reduceColours(rgb.data(), area.data(), area.size(), request);
    EXPECT_EQ(r.worstFace, 1);
    EXPECT_EQ(r.worstFaceColour[0], 1.0f);
}

// Lloyd's iterations run until the colours settle: each is then the weighted mean of the
// points nearest to it, even where paints share a cluster, and also where so many shades are
// first chosen from in pooled cells (faces per region).
class ClusterMeans : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Reduction, ClusterMeans, ::testing::Values(300, 1200));

TEST_P(ClusterMeans, ChosenColoursAreTheMeansOfTheirClusters) {
    const ScanFaces scan = scanFaces(8, GetParam());
    std::vector<Lab> points;
    std::vector<double> weights;
    for (std::size_t f = 0; f < scan.region.size(); ++f) {
        points.push_back(labFromSrgb(scan.rgb[3 * f], scan.rgb[3 * f + 1], scan.rgb[3 * f + 2]));
        weights.push_back(1 + static_cast<double>(f % 3));
    }
    const std::vector<Lab> centres = clusterColours(points, weights, 3, 1);
    ASSERT_EQ(centres.size(), 3u);
    std::vector<double> sums(12, 0.0);
    for (std::size_t i = 0; i < points.size(); ++i) {
        std::size_t c = 0;
        for (std::size_t k = 1; k < centres.size(); ++k) {
            const auto d = [&](const Lab& x) {
                return (x.L - points[i].L) * (x.L - points[i].L) +
                       (x.a - points[i].a) * (x.a - points[i].a) +
                       (x.b - points[i].b) * (x.b - points[i].b);
            };
            c = d(centres[k]) < d(centres[c]) ? k : c;
        }
        sums[4 * c] += weights[i];
        sums[4 * c + 1] += weights[i] * points[i].L;
        sums[4 * c + 2] += weights[i] * points[i].a;
        sums[4 * c + 3] += weights[i] * points[i].b;
    }
    for (std::size_t c = 0; c < centres.size(); ++c) {
        EXPECT_NEAR(centres[c].L, sums[4 * c + 1] / sums[4 * c], 0.01) << c;
        EXPECT_NEAR(centres[c].a, sums[4 * c + 2] / sums[4 * c], 0.01) << c;
        EXPECT_NEAR(centres[c].b, sums[4 * c + 3] / sums[4 * c], 0.01) << c;
    }
}

}  // namespace
// Thousands of shades closer together than the pooled cells still give the colours asked for:
// two groups a fifth of a CIELAB unit apart.
TEST(Reduction, ShadesWithinOneCellStillSplit) {
    std::vector<Lab> points;
    std::vector<double> weights;
    for (int i = 0; i < 9000; ++i) {
        points.push_back(Lab{50.2 + (i % 2) * 0.2 + i * 1e-6, 0.5, 0.5});
        weights.push_back(1);
    }
    const std::vector<Lab> centres = clusterColours(points, weights, 2, 1);
    ASSERT_EQ(centres.size(), 2u);
    EXPECT_NEAR(std::fabs(centres[0].L - centres[1].L), 0.2, 0.01);
}

// Shades spread evenly across many cells: the boundary between the two colours falls inside a
// cell, so colours settled on the pooled cells alone are off by a part of a cell.
TEST(Reduction, PooledColoursAreRefinedOnEveryShade) {
    std::vector<Lab> points;
    std::vector<double> weights;
    for (int i = 0; i < 10000; ++i) {
        points.push_back(Lab{40.3 + 20.0 * i / 10000, 0, 0});
        weights.push_back(1);
    }
    const std::vector<Lab> centres = clusterColours(points, weights, 2, 1);
    ASSERT_EQ(centres.size(), 2u);
    const double boundary = (centres[0].L + centres[1].L) / 2;
    double sum[2] = {0, 0};
    int count[2] = {0, 0};
    for (const Lab& p : points) {
        const int side = (p.L < boundary) == (centres[0].L < boundary) ? 0 : 1;
        sum[side] += p.L;
        ++count[side];
    }
    EXPECT_NEAR(centres[0].L, sum[0] / count[0], 0.01);
    EXPECT_NEAR(centres[1].L, sum[1] / count[1], 0.01);
}

}  // namespace hueslice::colour
