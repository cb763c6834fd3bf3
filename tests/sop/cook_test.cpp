#include <HOST_Internals.h>
#include <unistd.h>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sop/colour_key.h>
#include <sop/grouping.h>

#include "node_fixture.h"

namespace {

using hueslice::quantise;
using testing_support::groupNames;
using testing_support::NodeTest;
using testing_support::originalIndices;
using testing_support::quadRow;

struct QuantiseCase {
    float input;
    float expected;
};

class QuantiseTest : public ::testing::TestWithParam<QuantiseCase> {};

TEST_P(QuantiseTest, TruncatesTheExactProductWithoutClamping) {
    const float result = quantise(GetParam().input);
    EXPECT_EQ(result, GetParam().expected) << "input " << GetParam().input;
    if (result == 0.0f) {
        EXPECT_FALSE(std::signbit(result)) << "a zero key must be +0";
    }
}

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Table, QuantiseTest,
    ::testing::Values(QuantiseCase{1.0f, 255}, QuantiseCase{0.5f, 127}, QuantiseCase{0.999f, 254},
                      QuantiseCase{0.2f, 51}, QuantiseCase{-0.1f, -25}, QuantiseCase{2.0f, 510},
                      QuantiseCase{kNaN, 0}, QuantiseCase{kInf, 0}, QuantiseCase{-kInf, 0},
                      QuantiseCase{1e30f, 0},  // product beyond 2^63
                      QuantiseCase{-1e30f, 0}, QuantiseCase{-0.0f, 0},
                      QuantiseCase{1.0f / 255.0f, 1},  // rounds to just above 1/255 in float
                      QuantiseCase{std::nextafter(1.0f / 255.0f, 0.0f), 0},
                      QuantiseCase{-std::nextafter(1.0f / 255.0f, 0.0f), 0},
                      // Only the low 32 bits of the product survive.
                      QuantiseCase{16843008.0f, -256.0f},
                      QuantiseCase{8421505.0f, -2147483521.0f}));

// An entry colour matches every primitive that quantises to the same key.
TEST_F(NodeTest, PrimitivesJoinTheGroupOfTheirQuantisedColour) {
    setInput(quadRow({{0.499f, 0, 0},
                      {0.501f, 0, 0},
                      {0.5f, 0, 0},
                      {0.999f, 0.999f, 0.999f},
                      {1, 1, 1},
                      {1.003f, 1.0f, 1.0039f}}));
    setEntry(1, "red", {0.5f, 0, 0});
    setEntry(2, "white", {1, 1, 1});
    const GU_Detail& out = cook();
    EXPECT_EQ(originalIndices(out, "red"), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(originalIndices(out, "white"), (std::vector<int>{4, 5}));
    EXPECT_EQ(node->getCookedDetail(), &out);
}

// The lookup of each primitive's colour ends even when the entries fill the table as far as it
// is ever filled, and a colour that matches no entry joins no group.
TEST_F(NodeTest, AColourMatchingNoEntryEndsItsLookupAtEveryTableSize) {
    // A lookup that never ends would hang the suite: the alarm makes it a failure instead.
    ::alarm(60);
    for (const int entries : {1, 15, 16, 17, 32}) {
        SCOPED_TRACE(entries);
        std::vector<UT_Vector3> colours;
        for (int i = 1; i <= entries; ++i) {
            const UT_Vector3 colour(static_cast<float>(i) / 64, 0.25f, 0.5f);
            setEntry(i, ("g" + std::to_string(i)).c_str(), colour);
            colours.push_back(colour);
        }
        colours.push_back(UT_Vector3(0.9f, 0.9f, 0.9f));  // matches none
        setInput(quadRow(colours));
        const GU_Detail& out = cook();
        EXPECT_EQ(originalIndices(out, "g1"), (std::vector<int>{0}));
        const std::string last = "g" + std::to_string(entries);
        EXPECT_EQ(originalIndices(out, last.c_str()), (std::vector<int>{entries - 1}));
        for (int i = 1; i <= entries; ++i) {
            const std::string name = "g" + std::to_string(i);
            EXPECT_EQ(out.primitiveGroups().find(name.c_str())->entries(), 1u) << name;
        }
    }
    ::alarm(0);
}

TEST_F(NodeTest, OnlyTheFirstEntryWithAKeyIsConsidered) {
    setInput(quadRow({{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}));
    setEntry(1, "first", {1, 0, 0});
    setEntry(2, "green", {0, 1, 0});
    setEntry(3, "blue_disabled", {0, 0, 1}, /*enabled=*/false);
    setEntry(4, "", {0, 1, 0});                  // duplicate key behind entry 2
    setEntry(5, "green_later", {0, 1.001f, 0});  // same key as entry 2
    setEntry(6, "blue_later", {0, 0, 1});        // same key as the disabled entry 3
    const GU_Detail& out = cook();
    EXPECT_EQ(originalIndices(out, "first"), (std::vector<int>{2}));
    EXPECT_EQ(originalIndices(out, "green"), (std::vector<int>{0}));
    EXPECT_EQ(originalIndices(out, "green_later"), (std::vector<int>{}));
    EXPECT_EQ(originalIndices(out, "blue_later"), (std::vector<int>{}))
        << "the disabled first entry swallows its colour";
    EXPECT_EQ(originalIndices(out, "blue_disabled"), (std::vector<int>{-1}));
    EXPECT_EQ(groupNames(out),
              (std::vector<std::string>{"first", "green", "green_later", "blue_later"}));
}

TEST_F(NodeTest, PrimitivesWhoseFirstEntryIsUnnamedJoinNoGroup) {
    setInput(quadRow({{0, 1, 0}, {1, 0, 0}}));
    setEntry(1, "red", {1, 0, 0});
    setEntry(2, "", {0, 1, 0});
    setEntry(3, "green", {0, 1, 0});
    const GU_Detail& out = cook();
    EXPECT_EQ(groupNames(out), (std::vector<std::string>{"red", "green"}));
    EXPECT_EQ(originalIndices(out, "green"), (std::vector<int>{}));
    EXPECT_EQ(node->getGroupTable()(1), nullptr);
}

TEST_F(NodeTest, AFreshNodeOnlyCopiesTheInput) {
    GU_Detail input = quadRow({{1, 0, 0}, {0, 1, 0}});
    HOST_Internals::addMember(*input.primitiveGroups().newGroup("kept", 0), 1);
    setInput(input);
    const GU_Detail& out = cook();
    EXPECT_EQ(groupNames(out), (std::vector<std::string>{"kept"}));
    EXPECT_EQ(out.primitiveCount(), 2);
    EXPECT_EQ(node->getColourTable().entries(), 0);
}

TEST_F(NodeTest, AnEmptyFirstNameSkipsAllGrouping) {
    setInput(quadRow({{1, 0, 0}}));
    setEntry(1, "", {1, 0, 0});
    setEntry(2, "red", {1, 0, 0});
    EXPECT_TRUE(groupNames(cook()).empty());
}

TEST_F(NodeTest, WithoutAColourAttributeNothingIsGrouped) {
    setInput(quadRow({{1, 0, 0}}, "Colour"));
    setEntry(1, "red", {1, 0, 0});
    EXPECT_TRUE(groupNames(cook()).empty());
    EXPECT_EQ(node->getColourTable().entries(), 0) << "tables keep their previous content";
}

TEST_F(NodeTest, ZeroEntriesMakeNoGroupsAndHideNothing) {
    GU_Detail input = quadRow({{1, 0, 0}});
    setInput(input);
    setEntry(1, "red", {1, 0, 0}, true, true);
    cook();
    setCount(0);
    const GU_Detail& out = cook();
    EXPECT_TRUE(groupNames(out).empty());
    EXPECT_EQ(node->getColourTable().entries(), 0);
    EXPECT_EQ(node->getGroupTable().entries(), 0);
}

TEST_F(NodeTest, AnEmptyPrimitiveListStillMakesTheGroups) {
    setInput(quadRow({}));
    setEntry(1, "red", {1, 0, 0}, true, true);
    const GU_Detail& out = cook();
    EXPECT_EQ(originalIndices(out, "red"), (std::vector<int>{}));
    EXPECT_EQ(originalIndices(out, hueslice::kHiddenGroupName), (std::vector<int>{}));
}

TEST_F(NodeTest, EntriesSharingANameShareOneGroup) {
    setInput(quadRow({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}));
    setEntry(1, "warm", {1, 0, 0});
    setEntry(2, "cold", {0, 0, 1});
    setEntry(3, "warm", {0, 1, 0});
    const GU_Detail& out = cook();
    EXPECT_EQ(groupNames(out), (std::vector<std::string>{"warm", "cold"}));
    EXPECT_EQ(originalIndices(out, "warm"), (std::vector<int>{0, 1}));
}

TEST_F(NodeTest, AnInputGroupOfAnEntrysNameIsReplaced) {
    GU_Detail input = quadRow({{1, 0, 0}, {0, 1, 0}});
    HOST_Internals::addMember(*input.primitiveGroups().newGroup("red", 0), 1);
    HOST_Internals::addMember(*input.primitiveGroups().newGroup("other", 0), 0);
    setInput(input);
    setEntry(1, "red", {1, 0, 0});
    const GU_Detail& out = cook();
    EXPECT_EQ(originalIndices(out, "red"), (std::vector<int>{0}));
    EXPECT_EQ(originalIndices(out, "other"), (std::vector<int>{0}));
}

TEST_F(NodeTest, EntryParametersAreReadAtTimeZeroWhateverTheCookTime) {
    setInput(quadRow({{1, 0, 0}, {0, 1, 0}}));
    setEntry(1, "picked", {1, 0, 0});
    const int one = 1;
    PRM_Parm* green = node->getParm("col1");
    green->setKeys(1, {{0.0, 0.0}, {10.0, 1.0}});
    node->getParm("col1")->setKeys(0, {{0.0, 1.0}, {10.0, 0.0}});
    EXPECT_EQ(node->evalFloatInst("col%d", &one, 0, 10.0), 0.0);
    EXPECT_EQ(originalIndices(cook(10.0), "picked"), (std::vector<int>{0}));
}

// A failed lock stops the cook before the copy.
TEST_F(NodeTest, AFailedInputLockLeavesTheLastCookInPlace) {
    setInput(quadRow({{1, 0, 0}}));
    setEntry(1, "red", {1, 0, 0});
    const GU_Detail* first = &cook();
    node->setInputFailure(0, UT_ERROR_ABORT);
    EXPECT_EQ(node->cook(0.0), UT_ERROR_ABORT);
    EXPECT_EQ(node->getCookedDetail(), first);
    EXPECT_EQ(originalIndices(*node->getCookedGeo(), "red"), (std::vector<int>{0}));
}

TEST_F(NodeTest, AnUnconnectedInputIsAnErrorAndLeavesCookedDetailNull) {
    EXPECT_GE(node->cook(0.0), UT_ERROR_ABORT);
    EXPECT_EQ(node->getCookedDetail(), nullptr);
}

struct IsolationCase {
    const char* label;
    const char* name;
    bool enabled;
    std::vector<int> hidden;
};

class IsolationTest : public NodeTest, public ::testing::WithParamInterface<IsolationCase> {};

//   prim 0 red, prim 1 green, prim 2 red; entry 2 (green) isolates.
TEST_P(IsolationTest, HiddenGroupIsTheComplementOfTheIsolatingEntry) {
    GU_Detail input = quadRow({{1, 0, 0}, {0, 1, 0}, {1, 0, 0}});
    HOST_Internals::addMember(*input.primitiveGroups().newGroup(hueslice::kHiddenGroupName, 0), 1);
    setInput(input);
    setEntry(1, "red", {1, 0, 0});
    setEntry(2, GetParam().name, {0, 1, 0}, GetParam().enabled, /*isolate=*/true);
    EXPECT_EQ(originalIndices(cook(), hueslice::kHiddenGroupName), GetParam().hidden);
}

INSTANTIATE_TEST_SUITE_P(Entries, IsolationTest,
                         ::testing::Values(IsolationCase{"Named", "green", true, {0, 2}},
                                           IsolationCase{"Disabled", "green", false, {0, 1, 2}},
                                           IsolationCase{"Unnamed", "", true, {0, 1, 2}}),
                         [](const ::testing::TestParamInfo<IsolationCase>& p) {
                             return p.param.label;
                         });

TEST_F(NodeTest, TheLastIsolatingEntryDecidesWhatIsHidden) {
    setInput(quadRow({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}));
    setEntry(1, "red", {1, 0, 0}, true, true);
    setEntry(2, "green", {0, 1, 0});
    setEntry(3, "blue", {0, 0, 1}, true, true);
    EXPECT_EQ(originalIndices(cook(), hueslice::kHiddenGroupName), (std::vector<int>{0, 1}));
}

// Regression: two unnamed enabled entries shared one destroyed group, and the second removal
// destroyed it again.
// Entries 2 and 3 both have an empty name. A host that makes a group for an empty name gives
// both the same group: entry 2's removal destroys it, and entry 3 must neither destroy it again
// nor isolate through it.
TEST(GroupByColour, ADestroyedGroupIsNeverTouchedAgain) {
    GU_Detail detail = quadRow({{1, 0, 0}, {0, 1, 0}});
    HOST_Internals::allowNamelessGroups(detail, true);
    std::vector<hueslice::Entry> entries(3);
    entries[0].name = "red";
    entries[0].colour = UT_Vector3(1, 0, 0);
    entries[1].name = "";
    entries[1].colour = UT_Vector3(0, 1, 0);
    entries[2].name = "";
    entries[2].isolate = true;
    UT_Vector3Array colours;
    UT_PtrArray<GB_PrimitiveGroup*> groups;
    const int offset = detail.primitiveAttribs().getOffset("Cd", 12, GB_ATTRIB_FLOAT);
    hueslice::groupByColour(detail, offset, entries, colours, groups);
    ASSERT_EQ(groups.entries(), 3);
    EXPECT_EQ(groups(1), nullptr);
    EXPECT_EQ(groups(2), nullptr);
    EXPECT_EQ(detail.primitiveGroups().find(""), nullptr);
    EXPECT_EQ(HOST_Internals::strayDestroys(detail), 0) << "the shared group destroyed twice";
    EXPECT_EQ(groupNames(detail), (std::vector<std::string>{"red", hueslice::kHiddenGroupName}));
    EXPECT_EQ(originalIndices(detail, hueslice::kHiddenGroupName), (std::vector<int>{0, 1}));
}

TEST_F(NodeTest, TablesAreAlignedWithTheEntries) {
    setInput(quadRow({{1, 0, 0}}));
    setEntry(1, "red", {1, 0, 0});
    setEntry(2, "off", {0.5f, 0.25f, 2.0f}, false);
    cook();
    const UT_Vector3Array& colours = node->getColourTable();
    ASSERT_EQ(colours.entries(), 2);
    EXPECT_EQ(colours(1)[0], 127.0f);
    EXPECT_EQ(colours(1)[1], 63.0f);
    EXPECT_EQ(colours(1)[2], 510.0f);
    EXPECT_NE(node->getGroupTable()(0), nullptr);
    EXPECT_EQ(node->getGroupTable()(1), nullptr);
}

}  // namespace
