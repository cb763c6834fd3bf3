#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <sop/colour_attribute.h>

#include "node_fixture.h"

namespace {

using testing_support::NodeTest;
using testing_support::quadRow;
using testing_support::setLayer;

TEST_F(NodeTest, AFreshNodeHasEmptyStateAndOneDefaultEntry) {
    EXPECT_EQ(node->getColourTable().entries(), 0);
    EXPECT_EQ(node->getGroupTable().entries(), 0);
    EXPECT_EQ(node->getCookedDetail(), nullptr);
    const int one = 1;
    EXPECT_EQ(node->evalInt("numobj", 0, 0.0), 1);
    EXPECT_EQ(node->evalIntInst("enable%d", &one, 0, 0.0), 1);
    EXPECT_EQ(node->evalIntInst("isolate%d", &one, 0, 0.0), 0);
    EXPECT_EQ(colour(1)[0], 1.0f);
    EXPECT_EQ(colour(1)[1], 1.0f);
    EXPECT_EQ(colour(1)[2], 1.0f);
    EXPECT_EQ(name(1), "");
}

TEST_F(NodeTest, InputLabels) {
    EXPECT_STREQ(node->describeInput(0), "Geometry with colours");
    EXPECT_STREQ(node->describeInput(1), "WTF?");
}

TEST(ParameterSet, TemplatesInDialogOrder) {
    using hueslice::entryTemplates;
    using hueslice::parmTemplates;
    const char* top[] = {"init", "sort", "numobj"};
    for (int i = 0; i < 3; ++i)
        EXPECT_STREQ(parmTemplates[i].getToken(), top[i]);
    EXPECT_TRUE(parmTemplates[3].isListEnd());
    EXPECT_TRUE(parmTemplates[2].isMulti());
    EXPECT_EQ(parmTemplates[2].getMultiParmTemplate(), entryTemplates);

    const struct {
        const char* token;
        const char* label;
        unsigned code;
        int size;
    } entry[] = {{"enable%d", "Enable grouping", 0x40000101, 1},
                 {"isolate%d", "Hide other groups", 0x101, 1},
                 {"col%d", "Colour", 0xc0000232, 3},
                 {"group%d", "Group", 0x80000003, 1}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(entryTemplates[i].getToken(), entry[i].token);
        EXPECT_STREQ(entryTemplates[i].getLabel(), entry[i].label);
        EXPECT_EQ(entryTemplates[i].typeCode(), entry[i].code);
        EXPECT_EQ(entryTemplates[i].getVectorSize(), entry[i].size);
        EXPECT_EQ(entryTemplates[i].getCallback(), nullptr);
    }
    EXPECT_TRUE(entryTemplates[4].isListEnd());
    EXPECT_EQ(entryTemplates[3].getChoiceListPtr(), &hueslice::groupMenu);
    EXPECT_EQ(parmTemplates[0].getCallback(), hueslice::initialiseCallback);
    EXPECT_EQ(parmTemplates[1].getCallback(), hueslice::sortCallback);
    EXPECT_EQ(hueslice::parmNames[7].getToken(), nullptr);
}

TEST_F(NodeTest, GroupMenuListsTheInputsGroups) {
    GU_Detail input = quadRow({{1, 0, 0}});
    input.primitiveGroups().newGroup("walls", 0);
    input.primitiveGroups().newGroup("roof", 0);
    setInput(input);
    EXPECT_EQ(node->parmMenu("group1"), (std::vector<std::string>{"walls", "roof"}));
}

TEST(ParameterSet, GroupMenuWithoutAGeometryNodeIsEmpty) {
    PRM_Name menu[3] = {PRM_Name("x", "x"), PRM_Name("y", "y"), PRM_Name()};
    hueslice::buildGroupMenu(nullptr, menu, 3, nullptr, nullptr);
    EXPECT_EQ(menu[0].getToken(), nullptr);
    EXPECT_EQ(menu[0].getLabel(), nullptr);
    EXPECT_STREQ(menu[1].getToken(), "y");

    OP_Network notGeometry(nullptr, "net", nullptr);
    menu[0] = PRM_Name("x", "x");
    hueslice::buildGroupMenu(&notGeometry, menu, 3, nullptr, nullptr);
    EXPECT_EQ(menu[0].getToken(), nullptr);
}

TEST_F(NodeTest, ButtonCallbacksReturnOneEvenWithNothingToDo) {
    EXPECT_EQ(node->pressButton("init"), 1);
    EXPECT_EQ(node->pressButton("sort"), 1);
}

struct LayerCase {
    int layer;  // 1000 stands for no "currentlayer" at all
    const char* attribute;
    const char* prefix;
};

class LayerRuleTest : public ::testing::TestWithParam<LayerCase> {};

TEST_P(LayerRuleTest, ResolvesNameAndPrefix) {
    GU_Detail detail = quadRow({{1, 0, 0}}, GetParam().attribute);
    if (GetParam().layer != 1000)
        setLayer(detail, GetParam().layer);
    const hueslice::ColourAttribute found = hueslice::resolveColourAttribute(detail);
    EXPECT_STREQ(found.name.buffer(), GetParam().attribute);
    EXPECT_STREQ(found.prefix.buffer(), GetParam().prefix);
    EXPECT_EQ(found.offset, detail.primitiveAttribs().getOffset(GetParam().attribute, 12, 0));
    EXPECT_GE(found.offset, 0);
}

INSTANTIATE_TEST_SUITE_P(Layers, LayerRuleTest,
                         ::testing::Values(LayerCase{1000, "Cd", ""}, LayerCase{1, "Cd", ""},
                                           LayerCase{2, "Cd2", "layer2"},
                                           LayerCase{0, "Cd0", "layer0"},
                                           LayerCase{-7, "Cd-7", "layer-7"}));

TEST(LayerRule, AMissingLayerAttributeIsNotReplacedByPlainCd) {
    GU_Detail detail = quadRow({{1, 0, 0}});
    setLayer(detail, 2);
    EXPECT_LT(hueslice::resolveColourAttribute(detail).offset, 0);
}

TEST(LayerRule, OnlyThreeFloatsCount) {
    GU_Detail detail;
    detail.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_INT);
    EXPECT_LT(hueslice::resolveColourAttribute(detail).offset, 0);
    GU_Detail floatLayer = quadRow({{1, 0, 0}});
    floatLayer.addDetailAttrib("currentlayer", 4, GB_ATTRIB_FLOAT);
    EXPECT_GE(hueslice::resolveColourAttribute(floatLayer).offset, 0)
        << "a float layer attribute is not the layer";
}

}  // namespace
