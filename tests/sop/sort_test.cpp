#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "node_fixture.h"

namespace {

using testing_support::NodeTest;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

bool sameBits(const UT_Vector3& a, const UT_Vector3& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

int toggle(hueslice::SOP_Hueslice* node, const char* pattern, int i) {
    return node->evalIntInst(pattern, &i, 0, 0.0);
}

TEST_F(NodeTest, SortWithNoEntriesOnlyAsksForACook) {
    setCount(0);
    node->cook(0.0);
    node->sortColours();
    EXPECT_TRUE(node->needsCook());
    EXPECT_EQ(node->evalInt("numobj", 0, 0.0), 0);
}

TEST_F(NodeTest, SortKeepsASingleEntry) {
    setEntry(1, "only", {0.5f, 0.25f, 1});
    node->sortColours();
    EXPECT_TRUE(sameBits(colour(1), UT_Vector3(0.5f, 0.25f, 1)));
    EXPECT_EQ(name(1), "only");
}

// Colours ordered by hue as entry 3 (red), entry 1 (green), entry 2 (blue).
TEST_F(NodeTest, SortMovesNamesWithColoursAndLeavesToggles) {
    setEntry(1, "green", {0, 1, 0}, true, false);
    setEntry(2, "blue", {0.5f, 0.25f, 1}, false, true);
    setEntry(3, "red", {1, 0, 0}, true, true);
    node->sortColours();
    EXPECT_TRUE(sameBits(colour(1), UT_Vector3(1, 0, 0)));
    EXPECT_TRUE(sameBits(colour(2), UT_Vector3(0, 1, 0)));
    EXPECT_TRUE(sameBits(colour(3), UT_Vector3(0.5f, 0.25f, 1)));
    EXPECT_EQ(name(1), "red");
    EXPECT_EQ(name(2), "green");
    EXPECT_EQ(name(3), "blue");
    EXPECT_EQ(toggle(node, "enable%d", 2), 0);
    EXPECT_EQ(toggle(node, "isolate%d", 2), 1);
    EXPECT_EQ(toggle(node, "isolate%d", 1), 0);
}

TEST_F(NodeTest, SortGivesEntriesOfOneColourTheFirstName) {
    setEntry(1, "blue", {0, 0, 1});
    setEntry(2, "first_red", {1, 0, 0});
    setEntry(3, "second_red", {1, 0, 0});
    node->sortColours();
    EXPECT_EQ(name(1), "first_red");
    EXPECT_EQ(name(2), "first_red");
    EXPECT_EQ(name(3), "blue");
}

TEST_F(NodeTest, SortCarriesEmptyNames) {
    setEntry(1, "", {0, 0, 1});
    setEntry(2, "red", {1, 0, 0});
    node->sortColours();
    EXPECT_EQ(name(1), "red");
    EXPECT_EQ(name(2), "");
}

TEST_F(NodeTest, SortLeavesASortedListInPlace) {
    const UT_Vector3 colours[] = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int i = 1; i <= 4; ++i) {
        setEntry(i, ("n" + std::to_string(i)).c_str(), colours[i - 1]);
    }
    node->sortColours();
    for (int i = 1; i <= 4; ++i) {
        EXPECT_TRUE(sameBits(colour(i), colours[i - 1]));
        EXPECT_EQ(name(i), "n" + std::to_string(i));
    }
}

// Regression: a NaN colour is equal to nothing, and its name was looked up at entry 0.
TEST_F(NodeTest, SortKeepsANanColoursOwnName) {
    setEntry(1, "blue", {0, 0, 1});
    setEntry(2, "nan", {kNaN, 0.5f, 0});
    setEntry(3, "red", {1, 0, 0});
    node->sortColours();
    for (int i = 1; i <= 3; ++i) {
        if (std::isnan(colour(i)[0])) {
            EXPECT_EQ(name(i), "nan");
        }
    }
    std::vector<std::string> names = {name(1), name(2), name(3)};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"blue", "nan", "red"}));
}

TEST_F(NodeTest, SortedColoursArePermutationOfTheOriginals) {
    std::vector<UT_Vector3> colours;
    for (int i = 1; i <= 50; ++i) {
        const float f = static_cast<float>(i);
        colours.emplace_back(std::fmod(f * 0.37f, 1.0f), std::fmod(f * 0.61f, 1.0f),
                             i % 7 == 0 ? kNaN : std::fmod(f * 0.13f, 1.0f));
        setEntry(i, ("g" + std::to_string(i)).c_str(), colours.back());
    }
    node->sortColours();
    std::vector<bool> used(colours.size(), false);
    for (int i = 1; i <= 50; ++i) {
        const UT_Vector3 now = colour(i);
        bool found = false;
        for (size_t j = 0; j < colours.size() && !found; ++j) {
            if (!used[j] && sameBits(colours[j], now))
                used[j] = found = true;
        }
        EXPECT_TRUE(found) << "entry " << i;
    }
}

}  // namespace
