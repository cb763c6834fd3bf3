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

TEST_F(ParametersTest, IntegerReadsRoundAndSaturate) {
    int one = 1;
    node.setFloatInst(1e300, "flag%d", &one, 0, 0);
    EXPECT_EQ(node.evalIntInst("flag%d", &one, 0, 0), 2147483647);
    node.setFloatInst(-0.4, "flag%d", &one, 0, 0);
    EXPECT_EQ(node.evalIntInst("flag%d", &one, 0, 0), 0);
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
    static PRM_Template badTemplates[] = {PRM_Template(PRM_Type(0x12345), 1, &bad),
                                          PRM_Template()};
    OP_OperatorTable table;
    EXPECT_FALSE(table.addOperator(new OP_Operator("b", "B", nullptr, badTemplates, 1, 1)));
    EXPECT_EQ(table.lastError(), "operator 'b' refused: parameter 'bad' has unknown type code 0x12345");
    EXPECT_EQ(table.entries(), 0u);
    EXPECT_TRUE(table.addOperator(new OP_Operator("null", "Null", nullptr, top, 1, 1)));
    EXPECT_FALSE(table.addOperator(new OP_Operator("null", "Null", nullptr, top, 1, 1)));
    EXPECT_EQ(table.entries(), 1u);
}

}  // namespace
