#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "node_fixture.h"

namespace {

using testing_support::NodeTest;
using testing_support::originalIndices;
using testing_support::quadRow;
using testing_support::setLayer;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

bool sameBits(const UT_Vector3& a, const UT_Vector3& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(NodeTest, InitialiseBeforeAnyCookChangesNothingButAsksForACook) {
    setEntry(1, "mine", {0.1f, 0.2f, 0.3f});
    node->cook(0.0);  // without input: the lock fails, so nothing was ever cooked
    ASSERT_EQ(node->getCookedDetail(), nullptr);
    ASSERT_FALSE(node->needsCook());
    node->initialiseColours();
    EXPECT_TRUE(node->needsCook());
    EXPECT_EQ(name(1), "mine");
    EXPECT_EQ(node->evalInt("numobj", 0, 0.0), 1);
}

TEST_F(NodeTest, InitialiseOnNoPrimitivesEmptiesTheList) {
    setInput(quadRow({}));
    cook();
    node->initialiseColours();
    EXPECT_EQ(node->evalInt("numobj", 0, 0.0), 0);
}

TEST_F(NodeTest, InitialiseWithOneColour) {
    setInput(quadRow({{0.2f, 0.4f, 0.6f}, {0.2f, 0.4f, 0.6f}}));
    cook();
    node->initialiseColours();
    EXPECT_EQ(node->evalInt("numobj", 0, 0.0), 1);
    EXPECT_TRUE(sameBits(colour(1), UT_Vector3(0.2f, 0.4f, 0.6f))) << "raw floats, exactly";
    EXPECT_EQ(name(1), "group1");
}

TEST_F(NodeTest, InitialiseUsesTheLayersAttributeAndPrefix) {
    GU_Detail layered = quadRow({{1, 0, 0}, {0, 1, 0}}, "Cd3");
    setLayer(layered, 3);
    setInput(layered);
    cook();
    node->initialiseColours();
    EXPECT_EQ(name(1), "layer3group1");
    EXPECT_EQ(name(2), "layer3group2");

    GU_Detail plain = quadRow({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    setLayer(plain, 3);
    setInput(plain);
    cook();
    node->initialiseColours();
    EXPECT_EQ(node->evalInt("numobj", 0, 0.0), 2) << "no Cd3: nothing changes";
}

TEST_F(NodeTest, InitialiseKeepsColoursThatQuantiseAlikeApart) {
    setInput(quadRow({{0.5f, 0, 0}, {0.501f, 0, 0}}));
    cook();
    node->initialiseColours();
    ASSERT_EQ(node->evalInt("numobj", 0, 0.0), 2);
    EXPECT_EQ(colour(1)[0], 0.5f);
    EXPECT_EQ(colour(2)[0], 0.501f);
}

TEST_F(NodeTest, InitialiseOrdersByColourAndNamesPastNine) {
    // Twelve hues given in reverse order of hue.
    std::vector<UT_Vector3> colours;
    for (int i = 11; i >= 0; --i) {
        const float t = static_cast<float>(i) / 12.0f;
        colours.emplace_back(1.0f, t, 0.0f);  // hue rises with t
    }
    setInput(quadRow(colours));
    cook();
    node->initialiseColours();
    ASSERT_EQ(node->evalInt("numobj", 0, 0.0), 12);
    for (int i = 1; i <= 12; ++i) {
        EXPECT_EQ(colour(i)[1], static_cast<float>(i - 1) / 12.0f);
        EXPECT_EQ(name(i), "group" + std::to_string(i));
    }
}

TEST_F(NodeTest, InitialiseLeavesTogglesAlone) {
    setEntry(1, "a", {0, 0, 0}, /*enabled=*/false, /*isolate=*/true);
    setInput(quadRow({{1, 0, 0}, {0, 1, 0}}));
    cook();
    node->initialiseColours();
    const int one = 1, two = 2;
    EXPECT_EQ(node->evalIntInst("enable%d", &one, 0, 0.0), 0);
    EXPECT_EQ(node->evalIntInst("isolate%d", &one, 0, 0.0), 1);
    EXPECT_EQ(node->evalIntInst("enable%d", &two, 0, 0.0), 1) << "new entries get defaults";
}

TEST_F(NodeTest, InitialiseKeepsOneEntryPerNanColourAndMergesSignedZeros) {
    std::vector<UT_Vector3> colours(1000, UT_Vector3(kNaN, 0, 0));
    colours.emplace_back(0.0f, 0.0f, 1.0f);
    colours.emplace_back(-0.0f, 0.0f, 1.0f);
    // An infinity is a number, not a NaN: beside it, signed zeros still merge.
    const float inf = std::numeric_limits<float>::infinity();
    colours.emplace_back(inf, -0.0f, 0.0f);
    colours.emplace_back(inf, 0.0f, 0.0f);
    colours.emplace_back(0.0f, -inf, -0.0f);
    colours.emplace_back(-0.0f, -inf, 0.0f);
    setInput(quadRow(colours));
    cook();
    node->initialiseColours();
    ASSERT_EQ(node->evalInt("numobj", 0, 0.0), 4);
    bool sawPositiveZero = false;
    for (int i = 1; i <= 4; ++i) {
        if (colour(i)[2] == 1.0f)
            sawPositiveZero = !std::signbit(colour(i)[0]);
    }
    EXPECT_TRUE(sawPositiveZero) << "the first-seen zero is kept";
}

// Initialise, then cook: every primitive lands in the group of its own colour.
TEST_F(NodeTest, InitialiseThenCookGroupsEveryPrimitive) {
    const std::vector<UT_Vector3> palette = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}};
    std::vector<UT_Vector3> colours;
    for (int i = 0; i < 20; ++i)
        colours.push_back(palette[static_cast<size_t>(i * 7 % 4)]);
    setInput(quadRow(colours));
    cook();
    EXPECT_EQ(node->pressButton("init"), 1);
    ASSERT_TRUE(node->needsCook());
    const GU_Detail& out = cook();
    for (int i = 1; i <= 4; ++i) {
        const std::vector<int> members = originalIndices(out, name(i).c_str());
        ASSERT_FALSE(members.empty());
        for (int m : members) {
            EXPECT_TRUE(sameBits(colours[static_cast<size_t>(m)], colour(i))) << "prim " << m;
        }
        EXPECT_EQ(members.size(), 5u);
    }
}

}  // namespace
