#include <HOST_Internals.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include <HOST_PluginLoader.h>
#include <HOST_Session.h>
#include <gtest/gtest.h>

#include "test_geometry.h"

namespace {

using testing_support::originalIndices;
using testing_support::quadRow;

// Loads the built plug-in the way the host does: by file name and exported names only.
class PluginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        plugin = HOST_Plugin::load(HUESLICE_PLUGIN_PATH, session->operatorTable(), error);
        ASSERT_NE(plugin, nullptr) << error;
    }
    void TearDown() override { session.reset(); }  // nodes and operators before the library

    std::unique_ptr<HOST_Plugin> plugin;
    std::unique_ptr<HOST_Session> session = std::make_unique<HOST_Session>();
};

TEST_F(PluginTest, ReportsItsVersionAndAHexTag) {
    EXPECT_EQ(plugin->version(), "7.0");
    ASSERT_FALSE(plugin->tag().empty());
    EXPECT_EQ(plugin->tag().find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST_F(PluginTest, RegistersOneOperatorAndDrivesANodeEndToEnd) {
    ASSERT_EQ(session->operatorTable().entries(), 1u);
    OP_Operator* op = session->operatorTable().getOperator("hueslice");
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->getLabel(), "Hueslice");
    EXPECT_EQ(op->minInputs(), 1u);
    EXPECT_EQ(op->maxInputs(), 1u);

    SOP_Node* node = session->createNode("hueslice");
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->describeInput(0), "Geometry with colours");

    //   prim: 0 red, 1 blue, 2 red, 3 green; the input already has a group "walls".
    GU_Detail input = quadRow({{1, 0, 0}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}});
    HOST_Internals::addMember(*input.primitiveGroups().newGroup("walls", 0), 3);
    node->setInput(0, std::make_shared<const GU_Detail>(input));
    EXPECT_EQ(node->cookIfNeeded(0.0), UT_ERROR_NONE);
    EXPECT_EQ(node->pressButton("init"), 1);
    ASSERT_TRUE(node->needsCook());
    node->cookIfNeeded(0.0);
    const GU_Detail& out = *node->getCookedGeo();
    EXPECT_EQ(node->evalInt("numobj", 0, 0.0), 3);
    // Hue order: red (0), green (120), blue (240).
    EXPECT_EQ(originalIndices(out, "group1"), (std::vector<int>{0, 2}));
    EXPECT_EQ(originalIndices(out, "group2"), (std::vector<int>{3}));
    EXPECT_EQ(originalIndices(out, "group3"), (std::vector<int>{1}));
    EXPECT_EQ(originalIndices(out, "walls"), (std::vector<int>{3}));

    EXPECT_EQ(node->parmMenu("group2"), (std::vector<std::string>{"walls"}));
}

TEST(PluginLibrary, ExportsExactlyTheThreeEntryPoints) {
    const std::string command = std::string("nm -D --defined-only '") + HUESLICE_PLUGIN_PATH + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        char address[64], type[8], name[900];
        if (std::sscanf(line, "%63s %7s %899s", address, type, name) == 3)
            exported.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0) << "nm failed";
    EXPECT_EQ(exported,
              (std::set<std::string>{"HoudiniDSOVersion", "HoudiniGetTagInfo", "newSopOperator"}));
}

}  // namespace
