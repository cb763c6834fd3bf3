#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "SOP_Node.h"
#include "io/io.h"
#include "io/scene/scene.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

// A node whose parameters are a list of entries (toggle, toggle, colour, group name) and a
// button, as the plug-in's are.
class TestNode : public SOP_Node {
  public:
    using SOP_Node::SOP_Node;
    UT_ErrorSeverity cookGeometry(OP_Context&) override { return UT_ERROR_NONE; }
};

PRM_Name numobjName("numobj", "Number of Entries");
PRM_Name enableName("enable%d", "Enable");
PRM_Name isolateName("isolate%d", "Isolate");
PRM_Name colName("col%d", "Colour");
PRM_Name groupName("group%d", "Group");
PRM_Name resetName("reset", "Reset");
PRM_Template entryTemplates[] = {
    PRM_Template(PRM_Type(PRM_CODE_TOGGLE_JOINED), 1, &enableName, PRMoneDefaults),
    PRM_Template(PRM_Type(PRM_CODE_TOGGLE), 1, &isolateName),
    PRM_Template(PRM_Type(PRM_CODE_RGB), 3, &colName, PRMoneDefaults),
    PRM_Template(PRM_Type(PRM_CODE_STRING_MENU), 1, &groupName),
    PRM_Template(),
};
PRM_Template topTemplates[] = {
    PRM_Template(PRM_MULTITYPE_LIST, entryTemplates, 0.0f, &numobjName, PRMzeroDefaults, nullptr,
                 0),
    PRM_Template(PRM_Type(PRM_CODE_BUTTON), 1, &resetName),
    PRM_Template(),
};

class Scene : public ::testing::Test {
  protected:
    OP_Operator op{"colourgroups", "Colour Groups", nullptr, topTemplates, 1, 1};
    TestNode node{nullptr, "node1", &op};
};

TEST_F(Scene, AppliesValuesAndKeysAndSavesThemBack) {
    applyScene(R"({"parameters": {
        "col2": {"keys": [[0, [1, 0, 0]], [10, [0, 0.1, 1]]]},
        "numobj": 2,
        "enable1": 0, "isolate2": 1,
        "col1": [0.3, 0.2, "inf"],
        "group1": "red <&> one",
        "group2": ""}})",
               "scene.json", node);
    EXPECT_EQ(node.evalInt("numobj", 0, 0.0), 2);
    EXPECT_EQ(node.getParm("enable1")->evalFloat(0, 0.0), 0.0);
    EXPECT_EQ(node.getParm("col1")->evalFloat(0, 0.0), 0.3);
    EXPECT_EQ(node.getParm("col2")->evalFloat(1, 5.0), 0.05);
    EXPECT_EQ(node.getParm("group1")->evalString(), "red <&> one");

    const std::string saved = saveScene(node);
    OP_Operator otherOp{"colourgroups", "Colour Groups", nullptr, topTemplates, 1, 1};
    TestNode other{nullptr, "node2", &otherOp};
    applyScene(saved, "saved.json", other);
    EXPECT_EQ(saveScene(other), saved);
    EXPECT_EQ(other.getParm("col2")->keys(2).size(), 2u);
    EXPECT_EQ(other.getParm("col1")->evalFloat(2, 0.0), std::numeric_limits<double>::infinity());
}

TEST_F(Scene, ConstantReplacesEarlierKeys) {
    applyScene(R"({"parameters": {"numobj": 1, "isolate1": {"keys": [[0, 0], [1, 1]]}}})", "s.json",
               node);
    applyScene(R"({"parameters": {"isolate1": 1}})", "s.json", node);
    EXPECT_FALSE(node.getParm("isolate1")->isAnimated(0));
    EXPECT_EQ(node.getParm("isolate1")->evalFloat(0, 0.0), 1.0);
}

struct BadScene {
    const char* label;
    const char* text;
    const char* message;
};

class SceneRefuses : public Scene, public ::testing::WithParamInterface<BadScene> {};

TEST_P(SceneRefuses, WithExactMessageAndChangesNothing) {
    applyScene(R"({"parameters": {"numobj": 1, "group1": "keep"}})", "setup.json", node);
    const std::string before = saveScene(node);
    EXPECT_EQ(GetParam().message,
              testing::inputErrorOf([&] { applyScene(GetParam().text, "scene.json", node); }));
    EXPECT_EQ(saveScene(node), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SceneRefuses,
    ::testing::Values(
        BadScene{"unknown", "{\"parameters\": {\"numobj\": 3,\n \"colour1\": [1, 0, 0]}}",
                 "scene.json:2: unknown parameter 'colour1'"},
        BadScene{"beyond_count", "{\"parameters\": {\"group2\": \"x\"}}",
                 "scene.json:1: parameter 'group2': there is only 1 entry in 'numobj'"},
        BadScene{"string_for_toggle", "{\"parameters\": {\"enable1\": \"on\"}}",
                 "scene.json:1: parameter 'enable1': expected a number, found a string"},
        BadScene{"fraction_for_toggle", "{\"parameters\": {\"enable1\": 0.5}}",
                 "scene.json:1: parameter 'enable1': expected a whole number"},
        BadScene{"two_numbers_for_colour", "{\"parameters\": {\"col1\": [1, 0]}}",
                 "scene.json:1: parameter 'col1': expected an array of 3 numbers"},
        BadScene{"number_for_string", "{\"parameters\": {\"group1\": 3}}",
                 "scene.json:1: parameter 'group1': expected a string, found a number"},
        BadScene{"negative_count", "{\"parameters\": {\"numobj\": -1}}",
                 "scene.json:1: parameter 'numobj': count must be from 0 to 100000"},
        BadScene{"huge_count", "{\"parameters\": {\"numobj\": 100001}}",
                 "scene.json:1: parameter 'numobj': count must be from 0 to 100000"},
        BadScene{"button", "{\"parameters\": {\"reset\": 1}}",
                 "scene.json:1: parameter 'reset': a button takes no value"},
        BadScene{"keyed_string", "{\"parameters\": {\"group1\": {\"keys\": [[0, \"a\"]]}}}",
                 "scene.json:1: parameter 'group1': expected a string, found an object"},
        BadScene{"keys_out_of_order",
                 "{\"parameters\": {\"col1\": {\"keys\": [[5, [1,1,1]], [2, [0,0,0]]]}}}",
                 "scene.json:1: parameter 'col1': key times must increase (key 1 at 2)"},
        BadScene{"keys_repeated", "{\"parameters\": {\"isolate1\": {\"keys\": [[1, 0], [1, 1]]}}}",
                 "scene.json:1: parameter 'isolate1': key times must increase (key 1 at 1)"},
        BadScene{"keyed_count", "{\"parameters\": {\"numobj\": {\"keys\": [[0, 1]]}}}",
                 "scene.json:1: parameter 'numobj': a list count cannot be keyframed"},
        BadScene{"later_error_after_good_values",
                 "{\"parameters\": {\"numobj\": 4, \"group1\": \"changed\",\n\"enable1\": [1]}}",
                 "scene.json:2: parameter 'enable1': expected a number, found an array"},
        BadScene{"unknown_top_key", "{\"parameter\": {}}",
                 "scene.json:1: unknown key 'parameter'"}),
    [](const auto& param) { return std::string(param.param.label); });

// Every non-finite value on every component, constant and keyed, survives a save and a read:
// the text must tell NaN from both infinities, and keys must be saved for whichever components
// carry them, not only the first.
class SceneNonFinite : public Scene, public ::testing::WithParamInterface<std::tuple<int, double>> {
  protected:
    // Identical when both are NaN, otherwise equal (so the sign of an infinity counts).
    static void expectSame(double a, double b, const std::string& where) {
        if (std::isnan(b)) {
            EXPECT_TRUE(std::isnan(a)) << where << ": " << a;
        } else {
            EXPECT_EQ(a, b) << where;
        }
    }

    // Saves `node`, reads the text into a fresh node and checks that both agree on every
    // component of col1 at each of `times`; the fresh node must save the same text again.
    void expectRoundTrip(const std::vector<double>& times) {
        const std::string saved = saveScene(node);
        TestNode other{nullptr, "node2", &op};
        applyScene(saved, "saved.json", other);
        for (int c = 0; c < 3; ++c) {
            for (double t : times) {
                expectSame(other.getParm("col1")->evalFloat(c, t),
                           node.getParm("col1")->evalFloat(c, t),
                           "component " + std::to_string(c) + " at " + std::to_string(t) + " in\n" +
                               saved);
            }
        }
        EXPECT_EQ(saveScene(other), saved);
    }
};

TEST_P(SceneNonFinite, ConstantOnOneComponent) {
    const auto [component, value] = GetParam();
    applyScene(R"({"parameters": {"numobj": 1, "col1": [0.25, 0.5, 0.75]}})", "s.json", node);
    node.getParm("col1")->setFloat(component, 0.0, value);
    expectRoundTrip({0.0});
}

TEST_P(SceneNonFinite, KeysOnOneComponentOnly) {
    const auto [component, value] = GetParam();
    applyScene(R"({"parameters": {"numobj": 1, "col1": [0.25, 0.5, 0.75]}})", "s.json", node);
    node.getParm("col1")->setKeys(component, {{1.0, 0.0}, {3.0, 1.0}, {5.0, value}});
    ASSERT_TRUE(node.getParm("col1")->isAnimated(component));
    expectRoundTrip({0.0, 1.0, 2.0, 3.0, 5.0, 6.0});
}

INSTANTIATE_TEST_SUITE_P(
    EveryComponent, SceneNonFinite,
    ::testing::Combine(::testing::Values(0, 1, 2),
                       ::testing::Values(std::numeric_limits<double>::quiet_NaN(),
                                         std::numeric_limits<double>::infinity(),
                                         -std::numeric_limits<double>::infinity())),
    [](const auto& p) {
        const double v = std::get<1>(p.param);
        return std::string("Component") + std::to_string(std::get<0>(p.param)) +
               (std::isnan(v) ? "Nan" : (v > 0 ? "Infinity" : "NegativeInfinity"));
    });

TEST_F(Scene, ReadsEachNonFiniteSpelling) {
    applyScene(R"({"parameters": {"numobj": 1, "col1": ["-inf", "nan", "inf"]}})", "s.json", node);
    EXPECT_EQ(node.getParm("col1")->evalFloat(0, 0.0), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(node.getParm("col1")->evalFloat(1, 0.0)));
    EXPECT_EQ(node.getParm("col1")->evalFloat(2, 0.0), std::numeric_limits<double>::infinity());
}

// The counts just inside the limits are taken; those just outside are refused above.
TEST_F(Scene, CountsFromZeroToTheLimitAreTaken) {
    for (int count : {0, 1, kMaxEntries}) {
        applyScene("{\"parameters\": {\"numobj\": " + std::to_string(count) + "}}", "s.json", node);
        EXPECT_EQ(node.evalInt("numobj", 0, 0.0), count);
    }
}

}  // namespace
}  // namespace hueslice::io
