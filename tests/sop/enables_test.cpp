#include <string>
#include <vector>

#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include "node_fixture.h"

namespace {

using testing_support::NodeTest;

// The enable flags of one entry, in the order enable, colour, group, isolate.
std::vector<int> flags(hueslice::SOP_Hueslice* node, int i) {
    const std::string n = std::to_string(i);
    std::vector<int> result;
    for (const char* token : {"enable", "col", "group", "isolate"}) {
        result.push_back(node->findParm((token + n).c_str())->isEnabled() ? 1 : 0);
    }
    return result;
}

void setToggle(hueslice::SOP_Hueslice* node, const char* pattern, int i, int value) {
    node->setIntInst(value, pattern, &i, 0, 0.0);
}

TEST_F(NodeTest, EnablesOfAnEmptyListSetNothing) {
    for (int count : {0, -1}) {
        setCount(count);
        EXPECT_EQ(node->updateParmEnables(), 0);
    }
}

TEST_F(NodeTest, DefaultEntriesAreAllEnabled) {
    setCount(3);
    EXPECT_EQ(node->updateParmEnables(), 12) << "the host answers 1 for each of 4 calls per entry";
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(flags(node, i), (std::vector<int>{1, 1, 1, 1}));
}

TEST_F(NodeTest, OutsideIsolationEachEntryFollowsItsEnableToggle) {
    setCount(2);
    setToggle(node, "enable%d", 2, 0);
    node->updateParmEnables();
    EXPECT_EQ(flags(node, 1), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(flags(node, 2), (std::vector<int>{1, 0, 0, 0}));
}

TEST_F(NodeTest, InIsolationOnlyTheIsolatingEntriesStayEditable) {
    setCount(3);
    setToggle(node, "isolate%d", 2, 1);
    setToggle(node, "enable%d", 3, 0);
    node->updateParmEnables();
    EXPECT_EQ(flags(node, 1), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(flags(node, 2), (std::vector<int>{0, 1, 1, 1}));
    EXPECT_EQ(flags(node, 3), (std::vector<int>{0, 0, 0, 0}));

    setToggle(node, "isolate%d", 3, 1);  // two isolating entries, one of them disabled
    node->updateParmEnables();
    EXPECT_EQ(flags(node, 2), (std::vector<int>{0, 1, 1, 1}));
    EXPECT_EQ(flags(node, 3), (std::vector<int>{0, 1, 1, 1}));
}

TEST_F(NodeTest, TogglesAreReadAtTimeZero) {
    setCount(1);
    node->getParm("isolate1")->setKeys(0, {{0.0, 0.0}, {10.0, 1.0}});
    node->updateParmEnables();
    EXPECT_EQ(flags(node, 1), (std::vector<int>{1, 1, 1, 1}));
}

// The host sees the same calls whatever the toggles hold: one count read, every entry's isolate
// toggle, then per entry four enable calls and one read of the controlling toggle for each of the
// three parameters it controls. Isolation found at the first entry stops no read.
TEST_F(NodeTest, EnablesMakeTheSameHostCallsWhateverTheTogglesHold) {
    for (int isolating : {0, 1, 4}) {
        setCount(4);
        for (int i = 1; i <= 4; ++i)
            setToggle(node, "isolate%d", i, i == isolating ? 1 : 0);
        HOST_Internals::resetCallCounts(*node);
        node->updateParmEnables();
        const HOST_Internals::CallCounts calls = HOST_Internals::callCounts(*node);
        EXPECT_EQ(calls.evalInt, 1) << "isolating entry " << isolating;
        EXPECT_EQ(calls.evalIntInst, 4 + 4 * 3) << "isolating entry " << isolating;
        EXPECT_EQ(calls.enableParmInst, 4 * 4) << "isolating entry " << isolating;
        EXPECT_EQ(calls.evalFloatInst + calls.evalStringInst, 0);
    }
}

TEST_F(NodeTest, EnablesOfAnEmptyListReadOnlyTheCount) {
    setCount(0);
    HOST_Internals::resetCallCounts(*node);
    node->updateParmEnables();
    const HOST_Internals::CallCounts calls = HOST_Internals::callCounts(*node);
    EXPECT_EQ(calls.evalInt, 1);
    EXPECT_EQ(calls.evalIntInst + calls.enableParmInst, 0);
}

TEST_F(NodeTest, TheHostRefreshesEnablesAfterAChange) {
    setCount(2);
    EXPECT_TRUE(node->isParmEnabled("col2"));
    setToggle(node, "enable%d", 2, 0);
    EXPECT_FALSE(node->isParmEnabled("col2"));
    EXPECT_TRUE(node->isParmEnabled("enable2"));
}

}  // namespace
