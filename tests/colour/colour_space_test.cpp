#include <gtest/gtest.h>

#include <cmath>

#include "colour/colour_space.h"

namespace hueslice::colour {
namespace {

// Points on glTF's sRGB curve: both ends, either side of the linear segment's end, mid grey.
TEST(ColourSpace, TransferFunctionsMatchTheCurve) {
    const struct {
        float encoded;
        float linear;
    } cases[] = {{0.0f, 0.0f},           {1.0f, 1.0f},
                 {0.04045f, 0.0031308f}, {0.02f, 0.02f / 12.92f},
                 {0.5f, 0.2140411f},     {128 / 255.0f, 0.2158605f},
                 {0.9f, 0.7874122f},     {-0.5f, -0.2140411f}};
    for (const auto& c : cases) {
        EXPECT_NEAR(linearFromSrgb(c.encoded), c.linear, 2e-6f) << c.encoded;
        EXPECT_NEAR(srgbFromLinear(c.linear), c.encoded, 2e-6f) << c.linear;
    }
}

TEST(ColourSpace, EveryByteComesBackThroughLinearLight) {
    for (int byte = 0; byte < 256; ++byte) {
        const float linear = linearFromSrgbByte()[static_cast<std::size_t>(byte)];
        EXPECT_EQ(linear, linearFromSrgb(byte / 255.0f));
        EXPECT_EQ(std::lround(srgbFromLinear(linear) * 255.0f), byte);
    }
}

}  // namespace
}  // namespace hueslice::colour
