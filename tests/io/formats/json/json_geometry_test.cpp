#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "io/formats/json/json_geometry.h"
#include "io/io.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using testing::expectSameDetail;
using testing::inputErrorOf;
using testing::makeSquare;

TEST(JsonGeometry, RoundTripKeepsEverythingBitForBit) {
    const float inf = std::numeric_limits<float>::infinity();
    GU_Detail geo = testing::makeMesh({{0.1f, -0.0f, FLT_MAX},
                                       {std::numeric_limits<float>::quiet_NaN(), inf, -inf},
                                       {FLT_TRUE_MIN, -FLT_MIN, 1.0f / 3.0f},
                                       {16777217.0f, 1e-30f, -2.5f}},
                                      {{0, 1, 2}, {3}, {3, 2, 1, 0}});
    testing::setColour(geo, 0, 1.0f / 255.0f, -0.0f, std::numeric_limits<float>::quiet_NaN());
    testing::setColour(geo, 2, inf, 0.7f, 2.0f / 3.0f);
    const int ids = geo.addPrimitiveAttrib("id", 8, GB_ATTRIB_INT);
    const std::int32_t extremes[2] = {INT32_MIN, INT32_MAX};
    std::memcpy(geo.primitiveAttribData(1) + ids, extremes, sizeof extremes);
    const int layer = geo.addDetailAttrib("currentlayer", 4, GB_ATTRIB_INT);
    const std::int32_t three = 3;
    std::memcpy(geo.detailAttribData() + layer, &three, 4);
    geo.addPrimitiveAttrib("Cd3", 12, GB_ATTRIB_FLOAT);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("zeta", 0), 2);
    geo.primitiveGroups().newGroup("empty", 0);
    GB_PrimitiveGroup* hidden = geo.primitiveGroups().newGroup(kHiddenGroupName, 0);
    HOST_Internals::addMember(*hidden, 0);
    HOST_Internals::addMember(*hidden, 2);

    const std::string text = writeJsonGeometry(geo, "out.json");
    GU_Detail back;
    readJsonGeometry(text, "out.json", back);
    expectSameDetail(geo, back);
    // A second trip is byte-identical: nothing drifts.
    EXPECT_EQ(text, writeJsonGeometry(back, "out.json"));
}

TEST(JsonGeometry, FailedReadLeavesOutputUntouched) {
    GU_Detail out = makeSquare();
    EXPECT_THROW(readJsonGeometry(R"({"points": [], "primitives": [[0]]})", "m.json", out),
                 InputError);
    expectSameDetail(makeSquare(), out);
}

struct BadJson {
    const char* text;
    const char* message;
};

class JsonGeometryRefuses : public ::testing::TestWithParam<BadJson> {};

TEST_P(JsonGeometryRefuses, WithExactMessage) {
    GU_Detail out;
    EXPECT_EQ(GetParam().message,
              inputErrorOf([&] { readJsonGeometry(GetParam().text, "m.json", out); }));
}

const std::string kDeep = std::string(300, '[') + std::string(300, ']');

INSTANTIATE_TEST_SUITE_P(
    Table, JsonGeometryRefuses,
    ::testing::Values(
        BadJson{"",
                "m.json:1: malformed json: syntax error while parsing value - unexpected end "
                "of input; expected '[', '{', or a literal"},
        BadJson{"{\"points\": [],\n\"primitives\": [,]}",
                "m.json:2: malformed json: syntax error while parsing value - unexpected ','; "
                "expected '[', '{', or a literal"},
        BadJson{"[]", "m.json:1: expected an object at the top, found an array"},
        BadJson{R"({"points": []})", "m.json: missing key 'primitives'"},
        BadJson{"{\"points\": [],\n \"primitives\": [],\n \"primtive_groups\": {}}",
                "m.json:3: unknown key 'primtive_groups'"},
        BadJson{"{\"points\": [],\n \"points\": [], \"primitives\": []}",
                "m.json:2: key 'points' appears twice in one object"},
        BadJson{"{\"points\": [[0,0]], \"primitives\": []}",
                "m.json:1: point 0 must be an array of 3 numbers"},
        BadJson{"{\"points\": [[0,0,\"x\"]], \"primitives\": []}",
                "m.json:1: point 0 has a coordinate that is not a float"},
        BadJson{"{\"points\": [[0,0,1e39]], \"primitives\": []}",
                "m.json:1: point 0 has a coordinate that is not a float"},
        BadJson{"{\"points\": [[0,0,0]],\n\"primitives\": [[0],\n[]]}",
                "m.json:3: primitive 1 has no vertices"},
        BadJson{"{\"points\": [[0,0,0]], \"primitives\": [[0, 1]]}",
                "m.json:1: primitive 0 has index 1 but there is 1 point"},
        BadJson{"{\"points\": [[0,0,0]], \"primitives\": [[-1]]}",
                "m.json:1: primitive 0 has negative index -1"},
        BadJson{"{\"points\": [[0,0,0]], \"primitives\": [[0.5]]}",
                "m.json:1: primitive 0 has an index that is not an integer"},
        BadJson{R"({"points": [[0,0,0]], "primitives": [[0]],
                    "primitive_attributes": {"Cd": {"type": "vector", "size": 3, "values": []}}})",
                "m.json:2: primitive attribute 'Cd' has unknown type \"vector\" (expected "
                "\"float\" or \"int\")"},
        BadJson{R"({"points": [[0,0,0]], "primitives": [[0]],
                    "primitive_attributes": {"Cd": {"type": "float", "size": 65, "values": []}}})",
                "m.json:2: primitive attribute 'Cd' size must be an integer from 1 to 64"},
        BadJson{R"({"points": [[0,0,0]], "primitives": [[0]],
                    "primitive_attributes": {"Cd": {"type": "float", "size": 3, "values": []}}})",
                "m.json:2: primitive attribute 'Cd' has 0 values but there is 1 primitive"},
        BadJson{R"({"points": [[0,0,0]], "primitives": [[0]],
                    "primitive_attributes": {"Cd": {"type": "float", "size": 3,
                    "values": [[1, 2]]}}})",
                "m.json:3: primitive attribute 'Cd' value 0 must be an array of 3 numbers"},
        BadJson{R"({"points": [[0,0,0]], "primitives": [[0]],
                    "primitive_attributes": {"n": {"type": "int", "size": 1,
                    "values": [[2147483648]]}}})",
                "m.json:3: primitive attribute 'n' value 0 has a value that is not a 32-bit "
                "integer"},
        BadJson{R"({"points": [[0,0,0]], "primitives": [[0]],
                    "primitive_attributes": {"n": {"type": "int", "size": 1,
                    "values": [[1.5]]}}})",
                "m.json:3: primitive attribute 'n' value 0 has a value that is not a 32-bit "
                "integer"},
        BadJson{R"({"points": [], "primitives": [],
                    "detail_attributes": {"": {"type": "int", "size": 1, "value": [1]}}})",
                "m.json:2: detail attribute with an empty name"},
        BadJson{R"({"points": [[0,0,0]], "primitives": [[0], [0]],
                    "primitive_groups": {"g": [1, 0]}})",
                "m.json:2: group 'g' members must be ascending without repeats (0 after 1)"},
        BadJson{R"({"points": [[0,0,0]], "primitives": [[0], [0]],
                    "primitive_groups": {"g": [1, 1]}})",
                "m.json:2: group 'g' members must be ascending without repeats (1 after 1)"},
        BadJson{R"({"points": [[0,0,0]], "primitives": [[0]],
                    "primitive_groups": {"g": [1]}})",
                "m.json:2: group 'g' has member 1 but there is 1 primitive"},
        BadJson{kDeep.c_str(), "m.json:1: nesting deeper than 256 levels"}));

// The writer remembers the text of recently written floats in slots chosen by their bits; many
// distinct values, repeats and values that share a slot must each still be written exactly as
// the JSON library writes the number, and the streamed text must be the returned text.
TEST(JsonGeometry, EveryFloatIsWrittenAsTheJsonLibraryWritesIt) {
    GU_Detail geo;
    std::vector<float> values;
    std::uint32_t state = 12345;
    for (int i = 0; i < 60000; ++i) {
        state = state * 1664525u + 1013904223u;
        // Finite floats of every magnitude; every fourth value repeats an earlier one.
        std::uint32_t bits = state & 0xBFFFFFFFu;
        float f = 0.0f;
        std::memcpy(&f, &bits, sizeof f);
        values.push_back(i % 4 == 3 ? values[static_cast<std::size_t>(i) / 2] : f);
    }
    for (std::size_t i = 0; i + 2 < values.size(); i += 3)
        geo.appendPoint(UT_Vector3(values[i], values[i + 1], values[i + 2]));

    std::string streamed;
    writeJsonGeometry(geo, "m.json", [&](std::string_view piece) { streamed.append(piece); });
    const std::string text = writeJsonGeometry(geo, "m.json");
    ASSERT_EQ(streamed, text);
    std::size_t at = text.find("\"points\": [\n") + 12;
    for (const UT_Vector3& p : geo.points()) {
        std::string expected = "    [";
        for (int c = 0; c < 3; ++c) {
            expected +=
                (c ? "," : "") +
                nlohmann::json(static_cast<double>(std::strtod(floatText(p[c]).c_str(), nullptr)))
                    .dump();
        }
        expected += "]";
        ASSERT_EQ(text.compare(at, expected.size(), expected), 0)
            << expected << " at " << text.substr(at, expected.size());
        at = text.find('\n', at) + 1;
    }
}

}  // namespace
}  // namespace hueslice::io
