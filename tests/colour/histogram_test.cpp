#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <tuple>
#include <vector>

#include "colour/colour_space.h"
#include "colour/histogram.h"

namespace hueslice::colour {
namespace {

// Faces over several blocks of work: runs of one colour, colours coming back after others,
// faces that are not finite and areas that weigh nothing; with `bytes` every colour is read from
// bytes, else some differ only in bits (0 and -0) or lie between bytes.
struct Faces {
    std::vector<float> rgb;
    std::vector<double> area;
};

Faces mixedFaces(std::size_t count, bool bytes, std::size_t shades) {
    Faces faces;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::size_t f = 0; f < count; ++f) {
        const std::size_t shade = (f / 3 * 7919) % shades;
        float c[3] = {static_cast<float>(shade % 256) / 255.0f,
                      static_cast<float>((shade / 256 + shade / 7) % 256) / 255.0f, 1.0f};
        if (f % 97 == 0)
            c[2] = bytes ? 1.0f / 255 : -0.0f;
        if (f % 89 == 0)
            c[2] = bytes ? 0.0f : 0.5f;
        if (f % 211 == 0)
            c[1] = nan;
        faces.rgb.insert(faces.rgb.end(), c, c + 3);
        faces.area.push_back(f % 13 == 0 ? -1.0 : 0.25 + static_cast<double>(f % 5) * 0.1);
    }
    return faces;
}

using Key = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

// Counting the obvious way: one pass in face order, bins in the order of their first faces.
ColourCount reference(const Faces& faces, bool byArea) {
    ColourCount result;
    std::map<Key, std::uint32_t> binOf;
    for (std::size_t f = 0; f < faces.area.size(); ++f) {
        const float* c = &faces.rgb[3 * f];
        if (!std::isfinite(c[0]) || !std::isfinite(c[1]) || !std::isfinite(c[2])) {
            result.faceBin.push_back(ColourCount::kNoBin);
            continue;
        }
        Key key;
        std::memcpy(&std::get<0>(key), &c[0], 4);
        std::memcpy(&std::get<1>(key), &c[1], 4);
        std::memcpy(&std::get<2>(key), &c[2], 4);
        const auto [at, added] = binOf.emplace(key, static_cast<std::uint32_t>(result.bins.size()));
        if (added) {
            ColourBin bin;
            std::memcpy(bin.rgb, c, sizeof bin.rgb);
            bin.firstFace = static_cast<long long>(f);
            result.bins.push_back(bin);
        }
        ColourBin& bin = result.bins[at->second];
        bin.weight += byArea ? usableArea(faces.area[f]) : 1.0;
        ++bin.faces;
        result.faceBin.push_back(at->second);
    }
    return result;
}

struct CountCase {
    std::size_t faces;
    bool bytes;
    bool byArea;
    unsigned threads;
    std::size_t shades = 1531;  // tens of thousands make each part grow its table
};

class CountColours : public testing::TestWithParam<CountCase> {};

// Sums in face order on any number of threads: bit for bit what a single pass gives, whatever
// the order of the bins.
TEST_P(CountColours, MatchesOnePassInFaceOrder) {
    const CountCase& c = GetParam();
    const Faces faces = mixedFaces(c.faces, c.bytes, c.shades);
    const ColourCount expected = reference(faces, c.byArea);
    const ColourCount counted =
        countColours(faces.rgb.data(), faces.area.data(), c.faces, c.byArea, c.threads);
    ASSERT_EQ(counted.faceBin.size(), expected.faceBin.size());
    ASSERT_EQ(counted.bins.size(), expected.bins.size());
    // The counted bin of each expected bin, through its first face.
    std::vector<std::uint32_t> binOf(expected.bins.size());
    for (std::size_t i = 0; i < expected.bins.size(); ++i) {
        binOf[i] = counted.faceBin[static_cast<std::size_t>(expected.bins[i].firstFace)];
        ASSERT_LT(binOf[i], counted.bins.size());
        const ColourBin &got = counted.bins[binOf[i]], &want = expected.bins[i];
        ASSERT_EQ(std::memcmp(got.rgb, want.rgb, sizeof got.rgb), 0) << i;
        ASSERT_EQ(got.weight, want.weight) << i;
        ASSERT_EQ(got.faces, want.faces) << i;
        ASSERT_EQ(got.firstFace, want.firstFace) << i;
    }
    for (std::size_t f = 0; f < c.faces; ++f) {
        const std::uint32_t want = expected.faceBin[f];
        ASSERT_EQ(counted.faceBin[f], want == ColourCount::kNoBin ? want : binOf[want]) << f;
    }
    // The same order on every number of threads.
    EXPECT_EQ(countColours(faces.rgb.data(), faces.area.data(), c.faces, c.byArea, 1).faceBin,
              counted.faceBin);
}

INSTANTIATE_TEST_SUITE_P(
    Histogram, CountColours,
    testing::Values(CountCase{0, true, true, 1}, CountCase{1, true, true, 2},
                    CountCase{5000, false, true, 1}, CountCase{20000, false, true, 2},
                    CountCase{20000, false, false, 3}, CountCase{20000, true, true, 2},
                    CountCase{20000, true, false, 8}, CountCase{5000, true, true, 1},
                    CountCase{40000, false, true, 2, 60000},
                    CountCase{40000, true, true, 2, 60000}));

// Only exact byte values count as bytes: every reader makes a colour byte n into n / 255.
TEST(ColourSpace, ByteOfComponent) {
    for (int n = 0; n < 256; ++n) {
        ASSERT_EQ(byteOfComponent(static_cast<float>(n) / 255.0f), n);
        ASSERT_EQ(byteOfComponent(static_cast<float>(static_cast<double>(n) / 255.0)), n);
    }
    for (const float c : {0.5f, 0.3f, std::nextafter(1.0f, 0.0f), std::nextafter(0.0f, 1.0f),
                          -1.0f / 255, 256.0f / 255, std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity()}) {
        EXPECT_EQ(byteOfComponent(c), -1) << c;
    }
}

}  // namespace
}  // namespace hueslice::colour
