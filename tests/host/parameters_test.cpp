#include <cstring>
#include <limits>

#include <SOP_Node.h>
#include <gtest/gtest.h>

namespace {

// A minimal list of two entry parameters under a count, and a node type that does nothing.
PRM_Name names[] = {PRM_Name("count", "Count"), PRM_Name("flag%d", "Flag"),
                    PRM_Name("col%d", "Colour"), PRM_Name("name%d", "Name")};
PRM_Template entries[] = {
    PRM_Template(PRM_Type(PRM_CODE_TOGGLE), 1, &names[1], PRMoneDefaults),
    PRM_Template(PRM_Type(PRM_CODE_RGB), 3, &names[2], PRMzeroDefaults),
    PRM_Template(PRM_Type(PRM_CODE_STRING_MENU), 1, &names[3]),
    PRM_Template(),
};
PRM_Template top[] = {
    PRM_Template(PRM_MULTITYPE_LIST, entries, 0.0f, &names[0], PRMoneDefaults, nullptr, 1),
    PRM_Template(),
};

class NullNode : public SOP_Node {
  public:
    using SOP_Node::SOP_Node;
    UT_ErrorSeverity cookGeometry(OP_Context&) override { return UT_ERROR_NONE; }
};

class ParametersTest : public ::testing::Test {
  protected:
    OP_Operator op{"null", "Null", nullptr, top, 1, 1};
    NullNode node{nullptr, "n", &op};
};

TEST_F(ParametersTest, InstancesFollowTheCountWithFreshDefaults) {
    int two = 2, three = 3;
    EXPECT_EQ(node.evalInt("count", 0, 0), 1);
    node.setInt("count", 0, 0, 3);
    node.setIntInst(0, "flag%d", &three, 0, 0);
    node.setStringInst(UT_String("x"), "name%d", &three, 0, 0);
    EXPECT_EQ(node.evalIntInst("flag%d", &three, 0, 0), 0);
    node.setInt("count", 0, 0, 2);
    UT_String text;
    node.evalStringInst("name%d", &three, text, 0, 0);
    EXPECT_TRUE(text.isAbsent()) << "instance 3 no longer exists";
    EXPECT_EQ(node.evalIntInst("flag%d", &three, 0, 0), 0);
    node.setInt("count", 0, 0, 3);
    EXPECT_EQ(node.evalIntInst("flag%d", &three, 0, 0), 1) << "regrown with its default";
    node.evalStringInst("name%d", &three, text, 0, 0);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(node.evalIntInst("flag%d", &two, 0, 0), 1);
}

TEST_F(ParametersTest, MissingParametersReadAsZeroOrAbsent) {
    int zero = 0, many = 1000;
    EXPECT_EQ(node.evalInt("nothing", 0, 0), 0);
    EXPECT_EQ(node.evalFloatInst("col%d", &zero, 0, 0), 0.0);
    EXPECT_EQ(node.evalFloatInst("col%d", &many, 0, 0), 0.0);
    EXPECT_EQ(node.evalFloatInst("col%d", nullptr, 0, 0), 0.0);
    UT_String text("left");
    node.evalStringInst("name%d", &many, text, 0, 0);
    EXPECT_TRUE(text.isAbsent());
    node.setIntInst(1, "flag%d", &many, 0, 0);  // ignored, no growth
    EXPECT_EQ(node.evalInt("count", 0, 0), 1);
}

TEST_F(ParametersTest, KeyframesInterpolateLinearlyAndHoldOutside) {
    PRM_Parm* colour = node.getParm("col1");
    ASSERT_NE(colour, nullptr);
    colour->setKeys(0, {{10.0, 1.0}, {0.0, 0.0}});  // given out of order
    int one = 1;
    EXPECT_EQ(node.evalFloatInst("col%d", &one, 0, -5.0), 0.0);
    EXPECT_DOUBLE_EQ(node.evalFloatInst("col%d", &one, 0, 2.5), 0.25);
    EXPECT_EQ(node.evalFloatInst("col%d", &one, 0, 99.0), 1.0);
    node.setFloatInst(0.5, "col%d", &one, 0, 10.0);  // sets the key at 10
    EXPECT_EQ(node.evalFloatInst("col%d", &one, 0, 10.0), 0.5);
    EXPECT_EQ(node.evalFloatInst("col%d", &one, 0, 0.0), 0.0);
}

// Values that truncation gets wrong too: fractions above one half, negative ones, and halves
// (rounded away from zero).
TEST_F(ParametersTest, IntegerReadsRoundToNearestAndSaturate) {
    const struct {
        double value;
        int expected;
    } cases[] = {{0.6, 1},
                 {-0.6, -1},
                 {2.5, 3},
                 {-2.5, -3},
                 {0.49, 0},
                 {-0.4, 0},
                 {7.0, 7},
                 {2147483646.6, 2147483647},
                 {1e300, 2147483647},
                 {-1e300, -2147483647 - 1},
                 {std::numeric_limits<double>::infinity(), 2147483647},
                 {-std::numeric_limits<double>::infinity(), -2147483647 - 1},
                 {std::numeric_limits<double>::quiet_NaN(), 0}};
    int one = 1;
    for (const auto& c : cases) {
        node.setFloatInst(c.value, "flag%d", &one, 0, 0);
        EXPECT_EQ(node.evalIntInst("flag%d", &one, 0, 0), c.expected) << c.value;
    }
    // Top-level reads follow the same rule (this also empties the list for negative counts).
    for (const auto& c : cases) {
        node.setFloat("count", 0, 0, c.value);
        EXPECT_EQ(node.evalInt("count", 0, 0), c.expected) << "count " << c.value;
    }
}

TEST_F(ParametersTest, EnableFlagsAreKeptPerInstance) {
    int one = 1, nine = 9;
    EXPECT_EQ(node.enableParmInst("flag%d", &one, 0), 1);
    EXPECT_EQ(node.enableParmInst("flag%d", &nine, 0), 0);
    EXPECT_FALSE(node.isParmEnabled("flag1"));
    EXPECT_TRUE(node.isParmEnabled("col1"));
}

TEST_F(ParametersTest, ParameterChangesMakeTheNodeNeedACook) {
    node.cook(0);
    EXPECT_FALSE(node.needsCook());
    int one = 1;
    node.setFloatInst(0.5, "col%d", &one, 1, 0);
    EXPECT_TRUE(node.needsCook());
}

TEST_F(ParametersTest, TokensAddressInstances) {
    EXPECT_NE(node.getParm("col1"), nullptr);
    EXPECT_EQ(node.getParm("col2"), nullptr);
    EXPECT_EQ(node.getParm("col01"), nullptr);
    EXPECT_EQ(node.getParm("col"), nullptr);
    EXPECT_EQ(node.getParm("col1x"), nullptr);
    EXPECT_EQ(node.allParms().size(), 4u);
}

TEST(OperatorTable, RefusesUnknownTypeCodesAndDuplicates) {
    static PRM_Name bad("bad", "Bad");
    static PRM_Template badTemplates[] = {PRM_Template(PRM_Type(0x12345), 1, &bad), PRM_Template()};
    OP_OperatorTable table;
    EXPECT_FALSE(table.addOperator(new OP_Operator("b", "B", nullptr, badTemplates, 1, 1)));
    EXPECT_EQ(table.lastError(),
              "operator 'b' refused: parameter 'bad' has unknown type code 0x12345");
    EXPECT_EQ(table.entries(), 0u);
    EXPECT_TRUE(table.addOperator(new OP_Operator("null", "Null", nullptr, top, 1, 1)));
    EXPECT_FALSE(table.addOperator(new OP_Operator("null", "Null", nullptr, top, 1, 1)));
    EXPECT_EQ(table.entries(), 1u);
}

}  // namespace

namespace {

// Instance reads check the list's count on every access, so the count must follow every way
// its parameter can change, keyframes included.
TEST_F(ParametersTest, AKeyframedCountIsReadAtTimeZeroAfterEveryChange) {
    int three = 3;
    PRM_Parm* count = node.getParm("count");
    ASSERT_NE(count, nullptr);
    count->setKeys(0, {{-10.0, 1.0}, {10.0, 5.0}});  // 3 at time 0
    node.setIntInst(0, "flag%d", &three, 0, 0);
    EXPECT_EQ(node.evalIntInst("flag%d", &three, 0, 0), 0);
    count->setFloat(0, 10.0, -3.0);  // the key at 10 now makes it -1 at 0: no instances
    EXPECT_EQ(node.evalIntInst("flag%d", &three, 0, 0), 0);
    EXPECT_EQ(node.getParm("flag1"), nullptr);
    count->setKeys(0, {});  // constant at its current value; the list counts it as none
    EXPECT_EQ(node.evalInt("count", 0, 0), -1);
    EXPECT_EQ(node.allParms().size(), 1u);
    node.setInt("count", 0, 0, 3);
    EXPECT_EQ(node.evalIntInst("flag%d", &three, 0, 0), 1) << "regrown with its default";
}

// Patterns are recognised by pointer first; a caller's buffer may hold other text next time.
TEST_F(ParametersTest, APatternBufferIsReadForItsTextEachTime) {
    int one = 1;
    node.setStringInst(UT_String("text"), "name%d", &one, 0, 0);
    node.setFloatInst(0.5, "col%d", &one, 1, 0);
    char pattern[16] = "col%d";
    EXPECT_EQ(node.evalFloatInst(pattern, &one, 1, 0), 0.5);
    std::strcpy(pattern, "name%d");
    UT_String text;
    node.evalStringInst(pattern, &one, text, 0, 0);
    EXPECT_STREQ(text.buffer(), "text");
    std::strcpy(pattern, "flag%d");
    EXPECT_EQ(node.evalIntInst(pattern, &one, 0, 0), 1);
    // The template's own token and a copy of its text name the same parameter.
    const char* own = entries[1].getToken();
    EXPECT_EQ(node.evalFloatInst(own, &one, 1, 0), 0.5);
    EXPECT_EQ(node.evalFloatInst(own, &one, 1, 0), node.evalFloatInst("col%d", &one, 1, 0));
    int two = 2;
    EXPECT_EQ(node.evalFloatInst(own, &two, 1, 0), 0.0) << "past the count";
}

// Components past the few held inside a parameter live elsewhere; they must behave the same.
PRM_Name wideNames[] = {PRM_Name("wide", "Wide")};
PRM_Default wideDefaults[] = {PRM_Default(1.0f), PRM_Default(2.0f), PRM_Default(3.0f),
                              PRM_Default(4.0f)};
PRM_Template wideTemplates[] = {
    PRM_Template(PRM_Type(PRM_CODE_RGB), 6, &wideNames[0], wideDefaults),
    PRM_Template(),
};

TEST(Parameters, EveryComponentOfAWideParameterKeepsItsValueAndKeys) {
    OP_Operator op{"wide", "Wide", nullptr, wideTemplates, 1, 1};
    NullNode node{nullptr, "n", &op};
    const double defaults[] = {1, 2, 3, 4, 4, 4};  // the table's last record repeats
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(node.evalFloat("wide", c, 0), defaults[c]) << c;
    EXPECT_EQ(node.evalFloat("wide", 6, 0), 0.0);
    for (int c = 0; c < 6; ++c)
        node.setFloat("wide", c, 0, 10.0 + c);
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(node.evalFloat("wide", c, 0), 10.0 + c) << c;
    PRM_Parm* parm = node.getParm("wide");
    ASSERT_NE(parm, nullptr);
    EXPECT_EQ(parm->getVectorSize(), 6);
    EXPECT_EQ(parm->getToken(), "wide");
    parm->setKeys(5, {{0.0, 0.0}, {2.0, 1.0}});
    EXPECT_TRUE(parm->isAnimated(5));
    EXPECT_FALSE(parm->isAnimated(4));
    EXPECT_DOUBLE_EQ(node.evalFloat("wide", 5, 1.0), 0.5);
    EXPECT_EQ(node.evalFloat("wide", 4, 1.0), 14.0);
    parm->setKeys(5, {});
    EXPECT_FALSE(parm->isAnimated(5));
    EXPECT_EQ(node.evalFloat("wide", 5, 7.0), 0.0) << "constant at its value at time 0";
}

}  // namespace
