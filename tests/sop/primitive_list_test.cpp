#include <cstring>
#include <vector>

#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include "node_fixture.h"

// Details a real host may hand the node but that this stand-in never builds on its own: a
// primitive list with a hole, and attribute records that are not laid out in list order.
namespace {

using testing_support::NodeTest;
using testing_support::originalIndices;
using testing_support::quadRow;

const UT_Vector3 kRed(1, 0, 0);
const UT_Vector3 kGreen(0, 1, 0);
const UT_Vector3 kBlue(0, 0, 1);

// Red, green, red, blue, green, blue: every colour before and after index 3.
GU_Detail sixQuads() {
    return quadRow({kRed, kGreen, kRed, kBlue, kGreen, kBlue});
}

std::vector<float> rgb(const UT_Vector3& v) {
    return {v[0], v[1], v[2]};
}

class PrimitiveListTest : public NodeTest {
  protected:
    void nameThreeColours() {
        setEntry(1, "red", kRed);
        setEntry(2, "green", kGreen);
        setEntry(3, "blue", kBlue);
    }
};

TEST_F(PrimitiveListTest, CookStopsAtTheFirstHoleInThePrimitiveList) {
    GU_Detail input = sixQuads();
    HOST_Internals::makeHole(input, 3);
    setInput(input);
    nameThreeColours();
    const GU_Detail& out = cook();
    EXPECT_EQ(originalIndices(out, "red"), (std::vector<int>{0, 2}));
    EXPECT_EQ(originalIndices(out, "green"), (std::vector<int>{1}))
        << "primitive 4 is past the hole";
    EXPECT_EQ(originalIndices(out, "blue"), (std::vector<int>{}));
}

TEST_F(PrimitiveListTest, AListThatStartsWithAHoleIsNotWalkedAtAll) {
    GU_Detail input = sixQuads();
    HOST_Internals::makeHole(input, 0);
    setInput(input);
    nameThreeColours();
    const GU_Detail& out = cook();
    for (const char* group : {"red", "green", "blue"})
        EXPECT_EQ(originalIndices(out, group), (std::vector<int>{})) << group;
}

TEST_F(PrimitiveListTest, InitialiseFindsOnlyTheColoursBeforeTheFirstHole) {
    GU_Detail input = quadRow({kGreen, kRed, kBlue, kGreen});
    HOST_Internals::makeHole(input, 2);
    setInput(input);
    cook();
    node->pressButton("init");
    ASSERT_EQ(node->evalInt("numobj", 0, 0.0), 2);
    EXPECT_EQ(rgb(colour(1)), rgb(kRed));
    EXPECT_EQ(rgb(colour(2)), rgb(kGreen));
}

// Reading colours at a fixed stride from the first record would give every primitive the
// colour of its mirror image here.
TEST_F(PrimitiveListTest, CookReadsEachPrimitivesOwnRecord) {
    GU_Detail input = quadRow({kRed, kRed, kGreen, kBlue, kBlue});
    HOST_Internals::reverseRecords(input);
    setInput(input);
    nameThreeColours();
    const GU_Detail& out = cook();
    EXPECT_EQ(originalIndices(out, "red"), (std::vector<int>{0, 1}));
    EXPECT_EQ(originalIndices(out, "green"), (std::vector<int>{2}));
    EXPECT_EQ(originalIndices(out, "blue"), (std::vector<int>{3, 4}));
}

TEST_F(PrimitiveListTest, InitialiseReadsEachPrimitivesOwnRecord) {
    // Only the first primitive is red; records reversed, a stride walk would meet it last and
    // a walk that stops early would not meet it at all.
    GU_Detail input = quadRow({kRed, kGreen, kGreen, kGreen});
    HOST_Internals::reverseRecords(input);
    HOST_Internals::makeHole(input, 1);
    setInput(input);
    cook();
    node->pressButton("init");
    ASSERT_EQ(node->evalInt("numobj", 0, 0.0), 1);
    EXPECT_EQ(rgb(colour(1)), rgb(kRed));
}

TEST(Detail, CopiesKeepHolesAndEachPrimitivesRecord) {
    GU_Detail source = quadRow({kRed, kGreen, kBlue});
    HOST_Internals::reverseRecords(source);
    HOST_Internals::makeHole(source, 1);
    GU_Detail copy;
    copy = source;
    const GB_PrimitiveList& list = copy.primitives();
    ASSERT_EQ(list.entries(), 3);
    EXPECT_EQ(list(1), nullptr);
    const int offset = copy.primitiveAttribs().getOffset("Cd", 12, GB_ATTRIB_FLOAT);
    for (long long i : {0LL, 2LL}) {
        ASSERT_NE(list(i), nullptr);
        float c[3];
        std::memcpy(c, list(i)->getAttribData() + offset, sizeof c);
        const UT_Vector3 expected = i == 0 ? kRed : kBlue;
        EXPECT_EQ(rgb(UT_Vector3(c[0], c[1], c[2])), rgb(expected)) << "primitive " << i;
    }
}

TEST(Detail, RecordsFollowTheirPrimitivesThroughGrowthAndNewAttributes) {
    GU_Detail detail;
    const int first = detail.addPrimitiveAttrib("n", 4, GB_ATTRIB_INT);
    const unsigned none[1] = {0};
    for (int i = 0; i < 1000; ++i) {
        const long long prim = detail.appendPrimitive(none, 0);
        std::memcpy(detail.primitiveAttribData(prim) + first, &i, sizeof i);
    }
    detail.addPrimitiveAttrib("later", 12, GB_ATTRIB_FLOAT);  // widens every record
    const GB_PrimitiveList& list = detail.primitives();
    for (int i = 0; i < 1000; ++i) {
        int n = -1;
        std::memcpy(&n, list(i)->getAttribData() + first, sizeof n);
        ASSERT_EQ(n, i);
        ASSERT_EQ(list(i)->getNum(), static_cast<unsigned>(i));
    }
}

}  // namespace
