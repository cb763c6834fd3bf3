#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "io/formats/obj/obj.h"
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
    std::string obj;
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
        BadObj{"forward_beyond_count", "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 1 1 0\nf 2 3 5\nf 1 9 9\n", "",
               "m.obj:5: face 1 has index 5 but there are 3 points"},
        BadObj{"short_vertex", "v 0 0\n", "", "m.obj:1: vertex needs 3 numeric coordinates"},
        BadObj{"two_decimal_points", "v 1.2.3 0 0\n", "",
               "m.obj:1: vertex needs 3 numeric coordinates"},
        BadObj{"point_without_digits", "v 0 . 0\n", "",
               "m.obj:1: vertex needs 3 numeric coordinates"},
        BadObj{"sign_without_digits", "v 0 0 -\n", "",
               "m.obj:1: vertex needs 3 numeric coordinates"},
        BadObj{"kd_two_numbers", "v 0 0 0\nusemtl a\nf 1\n", "newmtl a\nKd 0.5 0.5\n",
               "m.mtl:2: Kd needs 3 numbers"},
        BadObj{"vertex_colour_beyond_float", "v 0 0 0 1\nv 0 0 0 0.5 1e39 0\n", "",
               "m.obj:2: vertex colour is beyond the float range"},
        BadObj{"empty_file", "", "", "m.obj: empty file"},
        BadObj{"utf16_with_byte_order_mark", std::string("\xFF\xFEv\0 \0001\0", 8), "",
               "m.obj: the file is UTF-16 text; obj files are read as UTF-8"},
        BadObj{"utf16_big_endian_without_mark", std::string("\0v\0 \0001", 5), "",
               "m.obj: the file is UTF-16 text; obj files are read as UTF-8"}),
    [](const auto& param) { return std::string(param.param.label); });

// Positive indices are resolved as they are read when their vertex is known, and at the end when
// it comes later in the file; both kinds must land on the right vertex.
TEST(ObjRead, FacesMayReferToVerticesDefinedAfterThem) {
    const std::string obj = "f 4 1 2\nv 0 0 0\nv 1 0 0\nf 1 2 -1\nv 1 1 0\nf 3 1 4\nv 0 1 0\n";
    GU_Detail geo;
    readObj(obj, "m.obj", std::nullopt, "", geo);
    ASSERT_EQ(geo.primitiveCount(), 3);
    const std::vector<std::vector<unsigned>> expected = {{3, 0, 1}, {0, 1, 1}, {2, 0, 3}};
    for (long long f = 0; f < 3; ++f) {
        const GB_Primitive& prim = *geo.primitives()(f);
        const unsigned* v = geo.primitiveVertices(prim);
        EXPECT_EQ(std::vector<unsigned>(v, v + prim.vertexCount),
                  expected[static_cast<std::size_t>(f)])
            << "face " << f;
    }
}

TEST(ObjRead, BareGroupAndUnnamedMaterialDoNotCrash) {
    GU_Detail geo;
    const Notes notes =
        readObj("v 0 0 0\ng\nusemtl\nf 1\n", "m.obj", std::string_view(""), "m.mtl", geo);
    EXPECT_EQ(geo.primitiveCount(), 1);
    EXPECT_EQ(geo.primitiveGroups().entries(), 0u);
    EXPECT_EQ(notes, Notes{"m.obj: usemtl without a name; those faces have no material"});
}

// ---- Vertex colours ----

// Point 1 blue, 2 and 3 red, 4 green.
const std::string kBorderVertices = "v 0 0 0 0 0 1\nv 1 0 0 1 0 0\nv 1 1 0 1 0 0\nv 0 1 0 0 1 0\n";

TEST(ObjVertexColours, FacesTakeTheColourMostCornersShare) {
    GU_Detail geo;
    ColourSource source;
    const Notes notes = readObj(kBorderVertices + "f 1 2 3\nf 1 2 4\nf 1 2 3 4\n", "m.obj",
                                std::nullopt, "", geo, {}, &source);
    EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(colourOf(geo, 1), (std::vector<float>{0, 0, 1})) << "a tie: the first corner";
    EXPECT_EQ(colourOf(geo, 2), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(notes, Notes{"m.obj: 3 faces take the colour most of their corners share (vertex "
                           "colours); 1 face had a tie, settled by the earliest corner"});
    EXPECT_EQ(source.cornerColour, 3);
    EXPECT_EQ(source.ties, 1);
}

struct VertexLines {
    const char* label;
    std::string obj;
    std::vector<float> colour;  // of face 0; empty for no colour attribute
    Notes notes;
};

class ObjVertexLines : public ::testing::TestWithParam<VertexLines> {};

TEST_P(ObjVertexLines, GiveTheFaceColour) {
    GU_Detail geo;
    const Notes notes = readObj(GetParam().obj, "m.obj", std::nullopt, "", geo);
    EXPECT_EQ(colourOf(geo, 0), GetParam().colour);
    EXPECT_EQ(notes, GetParam().notes);
}

const std::string kOneFaceNote =
    "m.obj: 1 face takes the colour most of its corners share (vertex colours); no face had a "
    "tie";

INSTANTIATE_TEST_SUITE_P(
    Forms, ObjVertexLines,
    ::testing::Values(
        VertexLines{
            "zero_to_one", "v 0 0 0 0.5 0.25 1\nf 1 1 1\n", {0.5f, 0.25f, 1}, {kOneFaceNote}},
        VertexLines{"above_one_means_0_to_255",
                    "v 0 0 0 0 0 1\nv 1 0 0 255 51 0\nv 0 1 0 255 51 0\nf 1 2 3\n",
                    {1, static_cast<float>(51.0 / 255.0), 0},
                    {"m.obj:2: a vertex colour above 1 here, so vertex colours are read as 0..255",
                     kOneFaceNote}},
        VertexLines{
            "exactly_one_stays_0_to_1", "v 0 0 0 1 1 1\nf 1 1 1\n", {1, 1, 1}, {kOneFaceNote}},
        VertexLines{"weight_is_not_a_colour", "v 0 0 0 1\nf 1 1 1\n", {}, {}},
        VertexLines{"two_extra_numbers_are_not_a_colour", "v 0 0 0 1 0.5\nf 1 1 1\n", {}, {}},
        VertexLines{"alpha_after_the_colour_is_ignored",
                    "v 0 0 0 0 1 0 0.5\nf 1 1 1\n",
                    {0, 1, 0},
                    {kOneFaceNote}},
        VertexLines{
            "partly_coloured_vertices_do_not_vote",
            "v 0 0 0\nv 1 0 0 0 0 1\nv 0 1 0\nf 1 2 3\nf 1 3 1\n",
            {0, 0, 1},
            {"m.obj:1: 2 of 3 vertices have no colour, the first here; they do not vote "
             "for their faces' colour",
             kOneFaceNote, "m.obj: 1 face has no material and no coloured corner; it is white"}}),
    [](const auto& param) { return std::string(param.param.label); });

TEST(ObjVertexColours, MaterialsWinUnlessVertexColoursAreAskedFor) {
    const std::string obj =
        "mtllib m.mtl\n" + kBorderVertices + "usemtl green\nf 1 2 3\nusemtl\nf 1 2 3\n";
    const std::string mtl = "newmtl green\nKd 0 1 0\n";
    GU_Detail geo;
    ColourSource source;
    Notes notes = readObj(obj, "m.obj", std::string_view(mtl), "m.mtl", geo, {}, &source);
    EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{0, 1, 0}));
    EXPECT_EQ(colourOf(geo, 1), (std::vector<float>{1, 0, 0})) << "no material: the corners";
    EXPECT_EQ(source.ownColour, 1);
    EXPECT_EQ(source.cornerColour, 1);
    EXPECT_FALSE(source.cornersFirst);
    EXPECT_EQ(notes.back(),
              "m.obj: 1 face has a material colour; its vertex colours are not used "
              "(--vertex-colours uses them)");

    notes = readObj(obj, "m.obj", std::string_view(mtl), "m.mtl", geo, ReadOptions{true}, &source);
    EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(source.cornerColour, 2);
    EXPECT_TRUE(source.cornersFirst);
}

// ---- What is not read ----

struct Skipped {
    const char* label;
    std::string obj;
    Notes notes;
};

class ObjSkips : public ::testing::TestWithParam<Skipped> {};

TEST_P(ObjSkips, WithANote) {
    GU_Detail geo;
    EXPECT_EQ(readObj(GetParam().obj, "m.obj", std::nullopt, "", geo), GetParam().notes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ObjSkips,
    ::testing::Values(
        Skipped{"points_and_lines_beside_faces",
                "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\np 1\nl 1 2\nl 2 3\n",
                {"m.obj:5: skipped 1 point element (p) and 2 line elements (l), the first here; "
                 "only faces are read"}},
        Skipped{"only_lines",
                "v 0 0 0\nv 1 0 0\nl 1 2\n",
                {"m.obj:3: skipped 1 line element (l), the first here; only faces are read",
                 "m.obj: no faces were read (the file has only points and lines), so there is "
                 "nothing to group"}},
        Skipped{"only_comments",
                "# nothing\n\n",
                {"m.obj: no faces were read (the file has no elements), so there is nothing to "
                 "group"}},
        Skipped{"coloured_points_only",
                "v 0 0 0 1 0 0\n",
                {"m.obj: no faces were read (the file has only vertices), so there is nothing to "
                 "group; vertex colours colour faces only, with --vertex-colours too"}},
        Skipped{"utf8_byte_order_mark_is_not_a_keyword", "\xEF\xBB\xBFv 0 0 0\nf 1 1 1\n", {}}),
    [](const auto& param) { return std::string(param.param.label); });

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

// Faces in overlapping groups: each face's own set of groups, in creation order, opens a `g`
// line whenever it differs from the face before.
TEST(ObjWrite, OverlappingGroupsGiveEachFaceItsOwnSetOfGroups) {
    GU_Detail geo = testing::makeMesh(
        {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}},
        {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}});
    const std::vector<std::pair<const char*, std::vector<unsigned>>> groups = {
        {"a", {0, 1, 2}}, {"b", {1, 2, 4, 6}}, {"c", {2, 3, 6}}};
    for (const auto& [groupName, members] : groups) {
        GB_PrimitiveGroup* g = geo.primitiveGroups().newGroup(groupName, 0);
        for (unsigned m : members)
            HOST_Internals::addMember(*g, m);
    }
    std::string streamed;
    const ObjStream stream = streamObj(geo, "m.mtl", "m.obj");
    stream.writeObj([&](std::string_view piece) { streamed.append(piece); });
    const ObjText text = writeObj(geo, "m.mtl", "m.obj");
    EXPECT_EQ(streamed, text.obj);
    const std::string faces = text.obj.substr(text.obj.find("g "));
    EXPECT_EQ(faces,
              "g a\nf 1 2 3\ng a b\nf 1 2 3\ng a b c\nf 1 2 3\ng c\nf 1 2 3\ng b\nf 1 2 3\n"
              "g ungrouped\nf 1 2 3\ng b c\nf 1 2 3\n");
}

}  // namespace
}  // namespace hueslice::io
