#include <gtest/gtest.h>

#include <cmath>

#include "colour/ciede2000.h"
#include "colour/css_colours.h"
#include "colour/lab.h"

namespace hueslice::colour {
namespace {

struct DeltaCase {
    Lab x, y;
    double expected;
};

// The published test pairs for CIEDE2000 (Sharma, Wu and Dalal, 2005): they cover the hue
// wrap-around, neutral colours and the blue region's rotation term.
const DeltaCase kSharma[] = {
    {{50.0000, 2.6772, -79.7751}, {50.0000, 0.0000, -82.7485}, 2.0425},
    {{50.0000, 3.1571, -77.2803}, {50.0000, 0.0000, -82.7485}, 2.8615},
    {{50.0000, 2.8361, -74.0200}, {50.0000, 0.0000, -82.7485}, 3.4412},
    {{50.0000, -1.3802, -84.2814}, {50.0000, 0.0000, -82.7485}, 1.0000},
    {{50.0000, -1.1848, -84.8006}, {50.0000, 0.0000, -82.7485}, 1.0000},
    {{50.0000, -0.9009, -85.5211}, {50.0000, 0.0000, -82.7485}, 1.0000},
    {{50.0000, 0.0000, 0.0000}, {50.0000, -1.0000, 2.0000}, 2.3669},
    {{50.0000, -1.0000, 2.0000}, {50.0000, 0.0000, 0.0000}, 2.3669},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0009}, 7.1792},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0010}, 7.1792},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0011}, 7.2195},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0012}, 7.2195},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0009, -2.4900}, 4.8045},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0010, -2.4900}, 4.8045},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0011, -2.4900}, 4.7461},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 0.0000, -2.5000}, 4.3065},
    {{50.0000, 2.5000, 0.0000}, {73.0000, 25.0000, -18.0000}, 27.1492},
    {{50.0000, 2.5000, 0.0000}, {61.0000, -5.0000, 29.0000}, 22.8977},
    {{50.0000, 2.5000, 0.0000}, {56.0000, -27.0000, -3.0000}, 31.9030},
    {{50.0000, 2.5000, 0.0000}, {58.0000, 24.0000, 15.0000}, 19.4535},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.1736, 0.5854}, 1.0000},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.2972, 0.0000}, 1.0000},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 1.8634, 0.5757}, 1.0000},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.2592, 0.3350}, 1.0000},
    {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
    {{63.0109, -31.0961, -5.8663}, {62.8187, -29.7946, -4.0864}, 1.2630},
    {{61.2901, 3.7196, -5.3901}, {61.4292, 2.2480, -4.9620}, 1.8731},
    {{35.0831, -44.1164, 3.7933}, {35.0232, -40.0716, 1.5901}, 1.8645},
    {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, 2.0373},
    {{36.4612, 47.8580, 18.3852}, {36.2715, 50.5065, 21.2231}, 1.4146},
    {{90.8027, -2.0831, 1.4410}, {91.1528, -1.6435, 0.0447}, 1.4441},
    {{90.9257, -0.5406, -0.9208}, {88.6381, -0.8985, -0.7239}, 1.5381},
    {{6.7747, -0.2908, -2.4247}, {5.8714, -0.0985, -2.2286}, 0.6377},
    {{2.0776, 0.0795, -1.1350}, {0.9033, -0.0636, -0.5514}, 0.9082},
};

TEST(Ciede2000, PublishedPairsBothWays) {
    for (const DeltaCase& c : kSharma) {
        EXPECT_NEAR(deltaE2000(c.x, c.y), c.expected, 5e-5)
            << c.x.L << " " << c.x.a << " " << c.x.b << " / " << c.y.L << " " << c.y.a;
        EXPECT_NEAR(deltaE2000(c.y, c.x), c.expected, 5e-5);
    }
    EXPECT_EQ(deltaE2000(kSharma[16].y, kSharma[16].y), 0.0);
}

// The nearest palette colour is searched with a limit, the nearest found so far: a bound above
// the difference would lose true nearest colours. Light and dark pairs have the largest
// lightness weighting, and blue pairs the largest rotation term, so the most room for that.
TEST(Ciede2000, WithinALimitGivesTheDifferenceOrRulesItOut) {
    for (int i = 0; i < 4096; i += 7) {
        const Lab x = labFromRgb8({static_cast<std::uint8_t>(i * 37 % 256),
                                   static_cast<std::uint8_t>(i % 256),
                                   static_cast<std::uint8_t>(i * 11 % 256)});
        for (const Rgb8& other :
             {Rgb8{255, 255, 255}, Rgb8{0, 0, 0}, Rgb8{250, 240, 230}, Rgb8{12, 30, 60},
              Rgb8{128, 128, 128}, Rgb8{0, 0, 255}, Rgb8{60, 40, 200}, Rgb8{90, 80, 230}}) {
            const Lab y = labFromRgb8(other);
            const double d = deltaE2000(x, y);
            for (const double limit : {0.5 * d, 0.999 * d, d, 1.001 * d, 2 * d}) {
                const double within = deltaE2000Within(x, y, limit);
                if (d <= limit)
                    ASSERT_EQ(within, d) << i << " limit " << limit;
                else
                    ASSERT_TRUE(within == d || std::isinf(within)) << i << " limit " << limit;
            }
        }
    }
}

struct LabCase {
    Rgb8 rgb;
    Lab lab;
};

// Reference values for D65 sRGB.
const LabCase kLab[] = {
    {{255, 255, 255}, {100.0, 0.0, 0.0}},         {{0, 0, 0}, {0.0, 0.0, 0.0}},
    {{255, 0, 0}, {53.2408, 80.0925, 67.2032}},   {{0, 255, 0}, {87.7347, -86.1827, 83.1793}},
    {{0, 0, 255}, {32.2970, 79.1875, -107.8602}}, {{128, 128, 128}, {53.5850, 0.0, 0.0}},
};

TEST(Lab, ReferenceColoursAndRoundTrip) {
    for (const LabCase& c : kLab) {
        for (const Lab& lab : {labFromRgb8(c.rgb), labFromSrgb(c.rgb[0] / 255.0f, c.rgb[1] / 255.0f,
                                                               c.rgb[2] / 255.0f)}) {
            EXPECT_NEAR(lab.L, c.lab.L, 2e-3) << hexText(c.rgb);
            EXPECT_NEAR(lab.a, c.lab.a, 2e-3) << hexText(c.rgb);
            EXPECT_NEAR(lab.b, c.lab.b, 2e-3) << hexText(c.rgb);
        }
    }
    // Every 8-bit colour on a coarse lattice comes back exactly; the extremes included.
    for (int r = 0; r < 256; r += 15) {
        for (int g = 0; g < 256; g += 17) {
            for (int b = 0; b < 256; b += 51) {
                const Rgb8 rgb{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                               static_cast<std::uint8_t>(b)};
                ASSERT_EQ(rgb8FromLab(labFromRgb8(rgb)), rgb) << hexText(rgb);
            }
        }
    }
    // Outside 0..1 and NaN are clamped, so they never poison an average.
    const Lab clamped = labFromSrgb(1.5f, -0.2f, std::nanf(""));
    const Lab red = labFromRgb8({255, 0, 0});
    EXPECT_DOUBLE_EQ(clamped.L, red.L);
    EXPECT_DOUBLE_EQ(clamped.b, red.b);
    EXPECT_EQ(hexText({0xd3, 0x2f, 0x0a}), "#d32f0a");
}

TEST(CssColours, AllNamesAnyCase) {
    EXPECT_EQ(cssColourCount(), 148u);
    struct Named {
        const char* name;
        Rgb8 rgb;
    };
    const Named kNamed[] = {{"aliceblue", {0xf0, 0xf8, 0xff}},
                            {"White", {255, 255, 255}},
                            {"REBECCAPURPLE", {0x66, 0x33, 0x99}},
                            {"grey", {128, 128, 128}},
                            {"yellowgreen", {0x9a, 0xcd, 0x32}}};
    for (const Named& n : kNamed)
        EXPECT_EQ(cssColour(n.name), n.rgb) << n.name;
    for (const char* word : {"", "whit", "whitee", "zzz", "aaa", "light blue"})
        EXPECT_FALSE(cssColour(word).has_value()) << word;
}

}  // namespace
}  // namespace hueslice::colour
