// The scans over primitive colours remember raw colours they have met and go by runs of equal
// colour. These cases give them many raw colours per key (more than are remembered), runs of
// every length, and colours that are the same without being bit-identical.

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "node_fixture.h"
#include "sop/colour_key.h"

namespace {

using testing_support::NodeTest;
using testing_support::originalIndices;
using testing_support::quadRow;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// A component that quantises to `byte`, nudged by `nudge` in [0, 1) so that many raw values
// share one key.
float component(int byte, float nudge) {
    return (static_cast<float>(byte) + 0.05f + 0.9f * nudge) / 255.0f;
}

bool sameKey(const UT_Vector3& a, const UT_Vector3& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

TEST_F(NodeTest, ManyRawColoursPerKeyInRunsOfAnyLengthGroupByTheFirstEntryOfTheirKey) {
    // Six keys; 3000 primitives whose raw colours are nearly all distinct, in runs of one to
    // four equal colours, with the keys in a scrambled order.
    const int keys = 6;
    std::vector<UT_Vector3> colours;
    for (int run = 0; colours.size() < 3000; ++run) {
        const int key = (run * 5 + run / 7) % keys;
        const float nudge = static_cast<float>(run % 997) / 997.0f;
        const UT_Vector3 c(component(10 * key, nudge), component(3, 1.0f - nudge),
                           component(200 - key, 0.5f));
        for (int k = 0; k <= run % 4; ++k)
            colours.push_back(c);
    }
    // Entries: key 0 twice (the first wins), key 3 disabled (its primitives join nothing), key 5
    // without an entry, and one entry that matches no primitive.
    const auto entryColour = [](int key) {
        return UT_Vector3(component(10 * key, 0.0f), component(3, 0.0f),
                          component(200 - key, 0.0f));
    };
    setEntry(1, "k0", entryColour(0));
    setEntry(2, "k1", entryColour(1));
    setEntry(3, "k0again", entryColour(0));
    setEntry(4, "k2", entryColour(2));
    setEntry(5, "none", UT_Vector3(0.9f, 0.9f, 0.9f));
    setEntry(6, "k4", entryColour(4));
    setEntry(7, "k3", entryColour(3), false);
    setInput(quadRow(colours));
    const GU_Detail& out = cook();

    std::map<std::string, std::vector<int>> expected;
    for (size_t p = 0; p < colours.size(); ++p) {
        const UT_Vector3 key = hueslice::quantiseKey(colours[p]);
        for (int e = 1; e <= 7; ++e) {
            if (!sameKey(key, hueslice::quantiseKey(colour(e))))
                continue;
            if (e != 7)
                expected[name(e)].push_back(static_cast<int>(p));
            break;
        }
    }
    for (const char* group : {"k0", "k1", "k2", "k4"}) {
        ASSERT_GT(expected[group].size(), 100u) << group;
        EXPECT_EQ(originalIndices(out, group), expected[group]) << group;
        EXPECT_EQ(out.primitiveGroups().find(group)->members().size(), expected[group].size());
    }
    EXPECT_TRUE(originalIndices(out, "k0again").empty());
    EXPECT_TRUE(originalIndices(out, "none").empty());
    EXPECT_EQ(out.primitiveGroups().find("k3"), nullptr);

    // A recook reuses the groups' storage and must give the same members.
    node->forceRecook();
    const GU_Detail& again = cook();
    EXPECT_EQ(originalIndices(again, "k1"), expected["k1"]);
}

TEST_F(NodeTest, InitialiseKeepsEachRawColourOfAKeyAndMergesOnlyEqualFloats) {
    std::vector<UT_Vector3> colours;
    // 1500 raw colours of one key, each met twice far apart: 1500 entries, not 3000.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 1500; ++i) {
            colours.emplace_back(component(7, static_cast<float>(i) / 1500.0f), 0.25f, 0.5f);
        }
    }
    // Zeros of either sign are one colour even when not neighbours; NaN colours that differ
    // only in the sign of a zero are two.
    colours.emplace_back(0.0f, 1.0f, 0.0f);
    colours.emplace_back(kNaN, 0.0f, 1.0f);
    colours.emplace_back(0.5f, 0.5f, 0.5f);
    colours.emplace_back(-0.0f, 1.0f, -0.0f);
    colours.emplace_back(kNaN, -0.0f, 1.0f);
    colours.emplace_back(kNaN, 0.0f, 1.0f);
    setInput(quadRow(colours));
    cook();
    node->initialiseColours();
    ASSERT_EQ(node->evalInt("numobj", 0, 0.0), 1500 + 4);
    int nanColours = 0;
    int greens = 0;
    for (int i = 1; i <= 1504; ++i) {
        const UT_Vector3 c = colour(i);
        if (std::isnan(c[0]))
            ++nanColours;
        if (c[1] == 1.0f && c[0] == 0.0f) {
            ++greens;
            EXPECT_FALSE(std::signbit(c[0])) << "the first-met zero is kept";
        }
    }
    EXPECT_EQ(nanColours, 2);
    EXPECT_EQ(greens, 1);
}

}  // namespace
