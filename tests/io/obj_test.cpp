#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "io/io.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using testing::colourOf;
using testing::inputErrorOf;

std::vector<unsigned> membersOf(const GU_Detail& geo, const char* group) {
    const GB_PrimitiveGroup* g = geo.primitiveGroups().find(group);
    return g ? g->members() : std::vector<unsigned>{99999};
}

TEST(ObjRead, FacesKeepFileOrderGroupsAndMaterialColours) {
    const std::string obj =
        "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
        "g left top\nusemtl red\nf 1 2 3\n"
        "g right\nusemtl blue\nf 1 3 4\n"
        "g left\nf -4 -3 -2 -1\n"
        "g\nusemtl missing\nf 1 2 3\n";
    const std::string mtl = "newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 0.5\n";
    GU_Detail geo;
    const Notes notes = readObj(obj, "m.obj", std::string_view(mtl), "m.mtl", geo);
    ASSERT_EQ(geo.primitiveCount(), 4);
    EXPECT_EQ(geo.primitives()(2)->vertexCount, 4u);
    EXPECT_EQ(membersOf(geo, "left"), (std::vector<unsigned>{0, 2}));
    EXPECT_EQ(membersOf(geo, "top"), (std::vector<unsigned>{0}));
    EXPECT_EQ(membersOf(geo, "right"), (std::vector<unsigned>{1}));
    EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(colourOf(geo, 1), (std::vector<float>{0, 0, 0.5f}));
    EXPECT_EQ(colourOf(geo, 2), (std::vector<float>{0, 0, 0.5f}));
    EXPECT_EQ(colourOf(geo, 3), (std::vector<float>{1, 1, 1}));
    EXPECT_EQ(notes, Notes{"m.obj: material 'missing' is not in m.mtl; its faces are white"});
}

TEST(ObjRead, MissingMaterialLibraryIsANoteNotAnError) {
    GU_Detail geo;
    const Notes notes = readObj("mtllib gone.mtl\nv 0 0 0\nusemtl red\nf 1\n", "m.obj",
                                std::nullopt, "gone.mtl", geo);
    EXPECT_EQ(notes, Notes{"m.obj: material library 'gone.mtl' not found; faces get no colour"});
    EXPECT_EQ(geo.primitiveCount(), 1);
    EXPECT_TRUE(colourOf(geo, 0).empty());
}

struct BadObj {
    const char* label;
    const char* obj;
    const char* mtl;
    const char* message;
};

class ObjRefuses : public ::testing::TestWithParam<BadObj> {};

TEST_P(ObjRefuses, WithExactMessage) {
    GU_Detail geo;
    EXPECT_EQ(GetParam().message, inputErrorOf([&] {
                  readObj(GetParam().obj, "m.obj", std::string_view(GetParam().mtl), "m.mtl", geo);
              }));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ObjRefuses,
    ::testing::Values(
        BadObj{"index_zero", "v 0 0 0\nf 0 1 1\n", "",
               "m.obj:2: face 0 has index 0 (indices count from 1)"},
        BadObj{"beyond_count", "v 0 0 0\nv 1 0 0\nf 1 2 3\n", "",
               "m.obj:3: face 0 has index 3 but there are 2 points"},
        BadObj{"beyond_minus_count", "v 0 0 0\nf -1 -2 -1\n", "",
               "m.obj:2: face 0 has index -2 but only 1 point comes before it"},
        BadObj{"int_min", "v 0 0 0\nf 1 1 -2147483648\n", "",
               "m.obj:2: face 0 has index -2147483648 but only 1 point comes before it"},
        BadObj{"huge", "v 0 0 0\nf 1 1 99999999999999999999999\n", "",
               "m.obj:2: face 0 has a bad vertex reference '99999999999999999999999'"},
        BadObj{"garbage", "v 0 0 0\nf 1 a 1\n", "",
               "m.obj:2: face 0 has a bad vertex reference 'a'"},
        BadObj{"four_parts", "v 0 0 0\nf 1/1/1/1\n", "",
               "m.obj:2: face 0 has a bad vertex reference '1/1/1/1'"},
        BadObj{"bad_normal", "v 0 0 0\nvn 0 0 1\nf 1//-3\n", "",
               "m.obj:3: face 0 has index -3 but only 1 normal comes before it"},
        BadObj{"empty_face", "v 0 0 0\nf\n", "", "m.obj:2: face has no vertices"},
        BadObj{"short_vertex", "v 0 0\n", "", "m.obj:1: vertex needs 3 numeric coordinates"},
        BadObj{"kd_two_numbers", "v 0 0 0\nusemtl a\nf 1\n", "newmtl a\nKd 0.5 0.5\n",
               "m.mtl:2: Kd needs 3 numbers"}),
    [](const auto& param) { return std::string(param.param.label); });

TEST(ObjRead, BareGroupAndUnnamedMaterialDoNotCrash) {
    GU_Detail geo;
    const Notes notes =
        readObj("v 0 0 0\ng\nusemtl\nf 1\n", "m.obj", std::string_view(""), "m.mtl", geo);
    EXPECT_EQ(geo.primitiveCount(), 1);
    EXPECT_EQ(geo.primitiveGroups().entries(), 0u);
    EXPECT_EQ(notes, Notes{"m.obj: usemtl without a name; those faces have no material"});
}

TEST(ObjWrite, KdRoundTripsBitExactForEveryByteColour) {
    GU_Detail geo;
    geo.appendPoint(UT_Vector3(0.1f, 0.2f, 1e-7f));
    const unsigned point = 0;
    for (int b = 0; b < 256; ++b) {
        geo.appendPrimitive(&point, 1);
        const float c = static_cast<float>(b) / 255.0f;
        testing::setColour(geo, b, c, 1.0f - c, c / 3.0f);
    }
    const ObjText text = writeObj(geo, "m.mtl", "m.obj");
    GU_Detail back;
    EXPECT_TRUE(readObj(text.obj, "m.obj", std::string_view(text.mtl), "m.mtl", back).empty());
    ASSERT_EQ(back.primitiveCount(), 256);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(colourOf(back, b), colourOf(geo, b)) << b;
    EXPECT_EQ(back.points()[0].z(), 1e-7f);
}

TEST(ObjWrite, GroupsRoundTripAndWhitespaceNamesAreRenamedWithAWarning) {
    GU_Detail geo = testing::makeSquare();
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("two words", 0), 1);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup(kHiddenGroupName, 0), 1);
    const ObjText text = writeObj(geo, "m.mtl", "m.obj");
    EXPECT_TRUE(text.mtl.empty());
    EXPECT_EQ(
        text.warnings,
        Notes{
            "m.obj: group 'two words' written as 'two_words' (obj names cannot hold whitespace)"});
    GU_Detail back;
    readObj(text.obj, "m.obj", std::nullopt, "", back);
    EXPECT_EQ(membersOf(back, "two_words"), (std::vector<unsigned>{1}));
    EXPECT_EQ(membersOf(back, kHiddenGroupName), (std::vector<unsigned>{1}));
}

// Groups whose names OBJ cannot hold as they are, written and read back: each must come back as
// a group of its own with its own members.
struct GroupNameCase {
    const char* label;
    std::vector<std::string> names;
    std::vector<std::string> written;
};

class ObjGroupNames : public ::testing::TestWithParam<GroupNameCase> {};

TEST_P(ObjGroupNames, DistinctGroupsStayDistinct) {
    const GroupNameCase& c = GetParam();
    GU_Detail geo = testing::makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {});
    const unsigned tri[3] = {0, 1, 2};
    for (std::size_t g = 0; g < c.names.size(); ++g) {
        geo.appendPrimitive(tri, 3);
        HOST_Internals::addMember(*geo.primitiveGroups().newGroup(c.names[g].c_str(), 0),
                                  static_cast<unsigned>(g));
    }
    const ObjText text = writeObj(geo, "x.mtl", "x.obj");
    GU_Detail back;
    readObj(text.obj, "x.obj", std::nullopt, "", back);
    ASSERT_EQ(back.primitiveGroups().groups().size(), c.names.size());
    for (std::size_t g = 0; g < c.written.size(); ++g) {
        EXPECT_EQ(membersOf(back, c.written[g].c_str()),
                  (std::vector<unsigned>{static_cast<unsigned>(g)}))
            << c.written[g];
    }
    std::size_t renamed = 0;
    for (std::size_t g = 0; g < c.names.size(); ++g)
        renamed += c.names[g] != c.written[g];
    EXPECT_EQ(text.warnings.size(), renamed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ObjGroupNames,
    ::testing::Values(
        GroupNameCase{"BlankAndUnderscore", {"a b", "a_b"}, {"a_b_2", "a_b"}},
        GroupNameCase{"UnderscoreFirst", {"a_b", "a b"}, {"a_b", "a_b_2"}},
        GroupNameCase{"NumberedNameTaken",
                      {"a\tb", "a b", "a_b", "a_b_2"},
                      {"a_b_3", "a_b_4", "a_b", "a_b_2"}},
        GroupNameCase{"LineBreaks", {"x\ny", "x\ry", "x_y"}, {"x_y_2", "x_y_3", "x_y"}},
        GroupNameCase{
            "OneWordNamesUnchanged", {"red", "caf\xc3\xa9", "#1"}, {"red", "caf\xc3\xa9", "#1"}}),
    [](const ::testing::TestParamInfo<GroupNameCase>& p) { return std::string(p.param.label); });

TEST(ObjRead, MaterialNamesAreTheRestOfTheLineInBothFiles) {
    const std::string obj =
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl  dark red \nf 1 2 3\n"
        "usemtl dark\nf 1 2 3\n";
    const std::string mtl =
        "newmtl dark\nKd 0 0 1\nnewmtl dark red\t\nKd 0.5 0 0\n"
        "newmtl dark red\nKd 0 1 0\n";
    GU_Detail geo;
    EXPECT_TRUE(readObj(obj, "m.obj", std::string_view(mtl), "m.mtl", geo).empty());
    EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{0.5f, 0, 0})) << "the first definition counts";
    EXPECT_EQ(colourOf(geo, 1), (std::vector<float>{0, 0, 1}));
}

TEST(ObjRead, NamesWithANulAreRefusedAtTheirLine) {
    const std::string nul(1, '\0');
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    EXPECT_EQ(inputErrorOf([&] {
                  GU_Detail geo;
                  readObj(tri + "g a b" + nul + "\nf 1 2 3\n", "m.obj", std::nullopt, "", geo);
              }),
              "m.obj:4: group name holds a NUL byte");
    EXPECT_EQ(inputErrorOf([&] {
                  GU_Detail geo;
                  readObj(tri + "usemtl red\nf 1 2 3\n", "m.obj",
                          std::string_view("newmtl x\nnewmtl red" + nul + "\n"), "m.mtl", geo);
              }),
              "m.mtl:2: material name holds a NUL byte");
}

}  // namespace
}  // namespace hueslice::io
