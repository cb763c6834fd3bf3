#include <cmath>
#include <limits>

#include <UT_Color.h>
#include <gtest/gtest.h>
#include <sop/compare_colours.h>

namespace {

using hueslice::compareColours;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

int compare(UT_Vector3 a, UT_Vector3 b) {
    return compareColours(&a, &b);
}

// Builds an RGB colour with the given hue (degrees), saturation and value.
UT_Vector3 fromHsv(float h, float s, float v) {
    const float c = v * s;
    const float hp = h / 60.0f;
    const float x = c * (1.0f - std::fabs(std::fmod(hp, 2.0f) - 1.0f));
    float r = 0, g = 0, b = 0;
    if (hp < 1) {
        r = c, g = x;
    } else if (hp < 2) {
        r = x, g = c;
    } else if (hp < 3) {
        g = c, b = x;
    } else if (hp < 4) {
        g = x, b = c;
    } else if (hp < 5) {
        r = x, b = c;
    } else {
        r = c, b = x;
    }
    const float m = v - c;
    return UT_Vector3(r + m, g + m, b + m);
}

TEST(CompareColours, HueBeatsSaturationBeatsValue) {
    // Smaller hue wins whatever the rest.
    EXPECT_EQ(compare(fromHsv(30, 1, 1), fromHsv(60, 0.1f, 0.1f)), -1);
    EXPECT_EQ(compare(fromHsv(60, 0.1f, 0.1f), fromHsv(30, 1, 1)), 1);
    // Equal hue: less saturated first, whatever the value.
    EXPECT_EQ(compare(UT_Vector3(1, 0.5f, 0.5f), UT_Vector3(0.5f, 0, 0)), -1);
    EXPECT_EQ(compare(UT_Vector3(0.5f, 0, 0), UT_Vector3(1, 0.5f, 0.5f)), 1);
    // Equal hue and saturation: darker first.
    EXPECT_EQ(compare(UT_Vector3(0.5f, 0, 0), UT_Vector3(1, 0, 0)), -1);
    EXPECT_EQ(compare(UT_Vector3(1, 0, 0), UT_Vector3(0.5f, 0, 0)), 1);
}

TEST(CompareColours, NeverReturnsZero) {
    const UT_Vector3 grey(0.5f, 0.5f, 0.5f);
    EXPECT_EQ(compare(grey, grey), 1);
    // Different keys with equal hue, saturation and value give 1 both ways.
    EXPECT_EQ(compare(UT_Vector3(-0.0f, 0, 0), UT_Vector3(0, 0, 0)), 1);
    EXPECT_EQ(compare(UT_Vector3(0, 0, 0), UT_Vector3(-0.0f, 0, 0)), 1);
}

TEST(CompareColours, NanDecidesNothing) {
    // A NaN component makes the hue NaN: saturation decides, in either position.
    EXPECT_EQ(compare(UT_Vector3(kNaN, 0.2f, 0.1f), UT_Vector3(1, 0, 0)), -1);
    EXPECT_EQ(compare(UT_Vector3(1, 0, 0), UT_Vector3(kNaN, 0.2f, 0.1f)), 1);
    EXPECT_EQ(compare(UT_Vector3(0, 1, 0), UT_Vector3(kNaN, 0.2f, 0.1f)), 1);
    // A NaN value with equal hue and saturation gives 1 in both orders.
    UT_Color nan(UT_RGB, kNaN, kNaN, kNaN);
    float h, s, v;
    nan.getHSV(&h, &s, &v);
    EXPECT_TRUE(std::isnan(v));
    EXPECT_EQ(compare(UT_Vector3(kNaN, kNaN, kNaN), UT_Vector3(0, 0, 0)), 1);
    EXPECT_EQ(compare(UT_Vector3(0, 0, 0), UT_Vector3(kNaN, kNaN, kNaN)), 1);
}

TEST(CompareColours, ComponentsOutsideTheUnitRangePassUnchanged) {
    // 255 is not clamped: (255, 0, 0) is brighter than (1, 0, 0).
    EXPECT_EQ(compare(UT_Vector3(1, 0, 0), UT_Vector3(255, 0, 0)), -1);
    EXPECT_EQ(compare(UT_Vector3(255, 0, 0), UT_Vector3(1, 0, 0)), 1);
}

struct HsvCase {
    const char* label;
    UT_Vector3 rgb;
    float h, s, v;
};

class HexconeTest : public ::testing::TestWithParam<HsvCase> {};

// Each sextant has its own formula, so each gets a colour inside it (not on a primary or
// secondary, where the varying term is 0), with a non-zero minimum so saturation is not 1.
TEST_P(HexconeTest, HueSaturationAndValue) {
    const HsvCase& c = GetParam();
    float h, s, v;
    UT_Color(UT_RGB, c.rgb[0], c.rgb[1], c.rgb[2]).getHSV(&h, &s, &v);
    EXPECT_NEAR(h, c.h, 1e-3f);
    EXPECT_NEAR(s, c.s, 1e-6f);
    EXPECT_EQ(v, c.v);
    EXPECT_GE(h, 0.0f);
    EXPECT_LT(h, 360.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HexconeTest,
    ::testing::Values(
        HsvCase{"RedToYellow", {0.8f, 0.5f, 0.2f}, 30, 0.75f, 0.8f},
        HsvCase{"YellowToGreen", {0.5f, 0.8f, 0.2f}, 90, 0.75f, 0.8f},
        HsvCase{"GreenToCyan", {0.2f, 0.8f, 0.5f}, 150, 0.75f, 0.8f},
        HsvCase{"CyanToBlue", {0.2f, 0.5f, 0.8f}, 210, 0.75f, 0.8f},
        HsvCase{"BlueToMagenta", {0.5f, 0.2f, 0.8f}, 270, 0.75f, 0.8f},
        HsvCase{"MagentaToRed", {0.8f, 0.2f, 0.5f}, 330, 0.75f, 0.8f},
        HsvCase{"Red", {1, 0, 0}, 0, 1, 1}, HsvCase{"Yellow", {1, 1, 0}, 60, 1, 1},
        HsvCase{"Cyan", {0, 1, 1}, 180, 1, 1}, HsvCase{"Magenta", {1, 0, 1}, 300, 1, 1},
        HsvCase{"JustBelowRed", {1, 0, 1e-8f}, 0, 1, 1}, HsvCase{"Black", {0, 0, 0}, 0, 0, 0},
        HsvCase{"MidGrey", {0.5f, 0.5f, 0.5f}, 0, 0, 0.5f}, HsvCase{"White", {1, 1, 1}, 0, 0, 1},
        HsvCase{"BrighterThanWhite", {3, 3, 3}, 0, 0, 3}),
    [](const ::testing::TestParamInfo<HsvCase>& p) { return p.param.label; });

}  // namespace
