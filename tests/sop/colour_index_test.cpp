#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sop/colour_key.h>

#include "node_fixture.h"

namespace {

using hueslice::ColourIndex;
using hueslice::ColourKeyHash;
using hueslice::QuantisedKeyHash;
using hueslice::SameColour;
using testing_support::NodeTest;
using testing_support::originalIndices;
using testing_support::quadRow;

constexpr std::uint32_t kMissing = ColourIndex<>::kMissing;

// Sends every colour to the same home slot, so that every lookup has to probe past the others.
struct CollidingHash {
    std::size_t operator()(const UT_Vector3&) const { return 0; }
};

UT_Vector3 nanColour(std::uint32_t payload) {
    const std::uint32_t bits = 0x7fc00000u | payload;
    float nan;
    std::memcpy(&nan, &bits, sizeof nan);
    return UT_Vector3(nan, 0.5f, 0.5f);
}

TEST(ColourIndex, KeepsTheFirstValueOfEachColour) {
    ColourIndex<> index;
    EXPECT_EQ(index.insert({0.1f, 0.2f, 0.3f}, 4), (std::pair<std::uint32_t, bool>{4, true}));
    EXPECT_EQ(index.insert({0.1f, 0.2f, 0.3f}, 9), (std::pair<std::uint32_t, bool>{4, false}));
    EXPECT_EQ(index.find({0.1f, 0.2f, 0.3f}), 4u);
    EXPECT_EQ(index.find({0.1f, 0.2f, 0.30001f}), kMissing);
    EXPECT_EQ(index.size(), 1u);
}

TEST(ColourIndex, SignedZerosAreOneColourAndNanColoursMatchOnlyTheirOwnBits) {
    ColourIndex<> index;
    index.insert({-0.0f, 0.0f, 1.0f}, 1);
    EXPECT_EQ(index.find({0.0f, -0.0f, 1.0f}), 1u);
    EXPECT_FALSE(index.insert({0.0f, 0.0f, 1.0f}, 2).second);

    index.insert(nanColour(1), 3);
    EXPECT_EQ(index.find(nanColour(1)), 3u);
    EXPECT_EQ(index.find(nanColour(2)), kMissing) << "another NaN payload is another colour";
    EXPECT_TRUE(index.insert(nanColour(2), 4).second);
    EXPECT_EQ(index.find(nanColour(2)), 4u);
}

// Every colour shares one home slot, so all but the first live further along the probe
// sequence, across several growths of the table.
TEST(ColourIndex, FindsColoursPastTheFirstInACollidingRun) {
    ColourIndex<CollidingHash, SameColour> index;
    constexpr std::uint32_t kCount = 300;
    for (std::uint32_t i = 0; i < kCount; ++i) {
        index.insert(UT_Vector3(static_cast<float>(i), 0.0f, 0.0f), i);
    }
    // A later insertion of a present colour keeps the earlier value, even deep in the run.
    EXPECT_FALSE(index.insert(UT_Vector3(250.0f, 0.0f, 0.0f), 7).second);
    for (std::uint32_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(index.find(UT_Vector3(static_cast<float>(i), 0.0f, 0.0f)), i) << i;
    }
    EXPECT_EQ(index.find(UT_Vector3(-1.0f, 0.0f, 0.0f)), kMissing);
    EXPECT_EQ(index.size(), kCount);
}

TEST(ColourIndex, QuantisedKeysOfEqualValueHashAlike) {
    // Quantising never gives -0.0, so the cook's cheaper hash needs no folding of zeros.
    const UT_Vector3 a = hueslice::quantiseKey({-0.001f, 0.0f, -0.0f});
    EXPECT_EQ(QuantisedKeyHash()(a), QuantisedKeyHash()(UT_Vector3(0.0f, 0.0f, 0.0f)));
    EXPECT_EQ(ColourKeyHash()(UT_Vector3(-0.0f, 0.0f, 0.0f)),
              ColourKeyHash()(UT_Vector3(0.0f, 0.0f, 0.0f)));
}

// Many entries, most repeating an earlier key: every primitive goes to the lowest-indexed entry
// of its key, whichever entries share the key and however the keys land in the index.
TEST_F(NodeTest, ManyDuplicateKeysGroupByTheFirstEntryOfEachKey) {
    constexpr int kKeys = 64;
    constexpr int kEntries = 512;
    std::vector<UT_Vector3> colours;
    for (int p = 0; p < 2 * kKeys; ++p) {
        const float k = static_cast<float>(p % kKeys);
        colours.emplace_back(k / 255.0f + 0.001f, 0.25f, 0.5f);
    }
    setInput(quadRow(colours));
    for (int i = 1; i <= kEntries; ++i) {
        const int key = (i * 37) % kKeys;  // keys revisited in a scrambled order
        // A raw colour within the same quantisation step as the primitives' colour.
        const UT_Vector3 colour(static_cast<float>(key) / 255.0f + 0.002f, 0.2509f, 0.5f);
        setEntry(i, ("e" + std::to_string(i)).c_str(), colour);
    }
    const GU_Detail& out = cook();
    std::vector<int> firstEntryOfKey(kKeys, 0);
    for (int i = kEntries; i >= 1; --i)
        firstEntryOfKey[(i * 37) % kKeys] = i;
    for (int key = 0; key < kKeys; ++key) {
        const std::string first = "e" + std::to_string(firstEntryOfKey[key]);
        EXPECT_EQ(originalIndices(out, first.c_str()), (std::vector<int>{key, key + kKeys}))
            << first;
    }
    for (int i = 1; i <= kEntries; ++i) {
        if (firstEntryOfKey[(i * 37) % kKeys] == i)
            continue;
        const std::string later = "e" + std::to_string(i);
        ASSERT_EQ(originalIndices(out, later.c_str()), (std::vector<int>{})) << later;
    }
}

TEST_F(NodeTest, NanAndSignedZeroPrimitiveColoursGroupByTheirQuantisedKeys) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    setInput(quadRow({{nan, 0, 0}, {-0.0f, 0, 0}, {0, 0, 0}, {0.001f, -0.001f, 0}, {1, 0, 0}}));
    setEntry(1, "black", {0, -0.0f, 0});
    setEntry(2, "red", {1, 0, 0});
    setEntry(3, "nan", {nan, nan, nan});  // quantises to black too, behind entry 1
    const GU_Detail& out = cook();
    EXPECT_EQ(originalIndices(out, "black"), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(originalIndices(out, "red"), (std::vector<int>{4}));
    EXPECT_EQ(originalIndices(out, "nan"), (std::vector<int>{}));
}

// Recooking reuses the storage of the groups the copy of the input dropped; the groups must
// come back exactly as a first cook makes them.
TEST_F(NodeTest, RecookAfterRemovingEntriesLeavesNoStaleGroupsOrMembers) {
    setInput(quadRow({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}}));
    setEntry(1, "red", {1, 0, 0});
    setEntry(2, "green", {0, 1, 0});
    setEntry(3, "blue", {0, 0, 1});
    cook();
    setCount(2);
    setEntry(2, "blue", {0, 0, 1});
    const GU_Detail& out = cook();
    EXPECT_EQ(testing_support::groupNames(out), (std::vector<std::string>{"red", "blue"}));
    EXPECT_EQ(originalIndices(out, "red"), (std::vector<int>{0, 3}));
    EXPECT_EQ(originalIndices(out, "blue"), (std::vector<int>{2}));
}

}  // namespace
