#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cli_harness.h"
#include "support/image_files.h"
#include "support/package_files.h"

namespace {

using cli_testing::CliTest;
using cli_testing::meshPly;

//   four quads in a row, coloured red, green, red, blue; the input has a group "walls" = {1}
//
//   3---2---5---7---9
//   | R | G | R | B |
//   0---1---4---6---8
const char* kMeshJson = R"({
  "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0],[2,0,0],[2,1,0],[3,0,0],[3,1,0],[4,0,0],[4,1,0]],
  "primitives": [[0,1,2,3],[1,4,5,2],[4,6,7,5],[6,8,9,7]],
  "primitive_attributes": {"Cd": {"type": "float", "size": 3,
                                  "values": [[1,0,0],[0,1,0],[1,0,0],[0,0,1]]}},
  "primitive_groups": {"walls": [1]}
})";

const char* kInitialisedTable =
    "entry  group   colour  members\n"
    "1      group1  1 0 0   2\n"
    "2      group2  0 1 0   1\n"
    "3      group3  0 0 1   1\n"
    "hidden primitives: 0\n";

TEST_F(CliTest, DemoWritesEveryFileAndPrintsTheTable) {
    const auto r = run({"demo", "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name :
         {"input.json", "output.json", "output.obj", "output.mtl", "output.svg", "scene.json",
          "scan-input.ply", "scan.3mf", "scan-parts/group1.stl", "scan-parts/group4.stl"}) {
        EXPECT_TRUE(exists(std::string("out/") + name)) << name;
    }
    // The scan's thousands of shades come down to its four paints, a group each.
    EXPECT_NE(r.out.find("palette: 4 colours for 3072 faces\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("4      group4  0.19607843 0.3882353 0.8392157    768\n"),
              std::string::npos)
        << r.out;
    // The two blues one fraction of a step apart: the second entry never gets a primitive.
    EXPECT_NE(r.out.find("group6  0.3 0.5 0.9015  0\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "hueslice: entries 5 and 6 quantise alike: entry 6 gets no primitives\n");
}

TEST_F(CliTest, CookAndInitialiseJson) {
    write("mesh.json", kMeshJson);
    const auto r = run({"cook", "mesh.json", "--initialise", "-o", "out.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kInitialisedTable);
    const std::string out = read("out.json");
    EXPECT_NE(out.find("\"walls\""), std::string::npos) << "input groups are kept";
    EXPECT_NE(out.find("\"group1\""), std::string::npos);
}

class PlyEncodingTest : public CliTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PlyEncodingTest, CookAndInitialiseGivesTheSameGroups) {
    write("mesh.ply", meshPly(GetParam()));
    const auto r = run({"cook", "mesh.ply", "--initialise"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kInitialisedTable);
}

INSTANTIATE_TEST_SUITE_P(Encodings, PlyEncodingTest,
                         ::testing::Values("ascii", "binary_little_endian", "binary_big_endian"));

TEST_F(CliTest, CookAndInitialiseObjWithMaterials) {
    write("mesh.obj",
          "mtllib mesh.mtl\n"
          "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\nv 3 0 0\nv 3 1 0\nv 4 0 0\n"
          "v 4 1 0\n"
          "usemtl red\nf 1 2 3 4\nusemtl green\nf 2 5 6 3\nusemtl red\nf 5 7 8 6\n"
          "usemtl blue\nf 7 9 10 8\n");
    write("mesh.mtl", "newmtl red\nKd 1 0 0\nnewmtl green\nKd 0 1 0\nnewmtl blue\nKd 0 0 1\n");
    const auto r = run({"cook", "mesh.obj", "--initialise"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kInitialisedTable);
}

TEST_F(CliTest, SetsActInCommandLineOrder) {
    write("mesh.json", kMeshJson);
    // Initialise names the groups; the --set after it renames one, the one before is overwritten.
    const auto r = run({"cook", "mesh.json", "--set", "group1=early", "--initialise", "--set",
                        "group2=leaves", "--set", "enable3=0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "entry  group   colour  members\n"
              "1      group1  1 0 0   2\n"
              "2      leaves  0 1 0   1\n"
              "3      group3  0 0 1   - (disabled)\n"
              "hidden primitives: 0\n");
}

TEST_F(CliTest, SceneRoundTripWithAKeyframe) {
    write("mesh.json", kMeshJson);
    auto r = run({"cook", "mesh.json", "--set", "numobj=2", "--set", "group1=reds", "--set",
                  "col1=1,0,0", "--set", "group2=blues", "--set", "col2=0,0,1", "--save-scene",
                  "scene.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string first = r.out;

    r = run({"cook", "mesh.json", "--scene", "scene.json", "--save-scene", "again.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, first);
    EXPECT_EQ(read("again.json"), read("scene.json"));

    // Entry parameters are read at time 0, whatever time the node cooks at.
    write("keyed.json", R"({"parameters": {"numobj": 1, "group1": "picked",
                            "col1": {"keys": [[0, [0, 1, 0]], [10, [0, 0, 1]]]}}})");
    r = run({"cook", "mesh.json", "--scene", "keyed.json", "--time", "10", "--save-scene",
             "keyed_out.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("picked  0 1 0   1\n"), std::string::npos) << r.out;
    EXPECT_NE(read("keyed_out.json").find("keys"), std::string::npos) << "keys are saved";
}

TEST_F(CliTest, IsolationShowsInObjAndSvg) {
    write("mesh.json", kMeshJson);
    const auto r = run({"cook", "mesh.json", "--initialise", "--set", "isolate2=1", "-o", "out.obj",
                        "--svg", "out.svg"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("hidden primitives: 3\n"), std::string::npos) << r.out;
    EXPECT_NE(read("out.obj").find("3d_hidden_primitives"), std::string::npos);
    const std::string svg = read("out.svg");
    std::size_t polygons = 0;
    for (std::size_t at = svg.find("<polygon"); at != std::string::npos;
         at = svg.find("<polygon", at + 1)) {
        ++polygons;
    }
    EXPECT_EQ(polygons, 1u) << "only the green face is drawn";
}

TEST_F(CliTest, JsonRoundTripKeepsTheInputAndAddsTheGroups) {
    write("mesh.json", kMeshJson);
    ASSERT_EQ(run({"cook", "mesh.json", "-o", "copy.json"}).status, 0);
    ASSERT_EQ(run({"cook", "copy.json", "-o", "copy2.json"}).status, 0);
    EXPECT_EQ(read("copy.json"), read("copy2.json")) << "a copy-only cook is the identity";
    ASSERT_EQ(run({"cook", "copy.json", "--initialise", "-o", "grouped.json"}).status, 0);
    const std::string grouped = read("grouped.json");
    const std::string copy = read("copy.json");
    // Everything before the groups is unchanged.
    const std::size_t groups = copy.find("\"primitive_groups\"");
    ASSERT_NE(groups, std::string::npos);
    EXPECT_EQ(grouped.substr(0, groups), copy.substr(0, groups));
    EXPECT_NE(grouped.find("\"group3\""), std::string::npos);
}

TEST_F(CliTest, InfoShowsThePaletteInInitialiseOrderAndFlagsSharedKeys) {
    write("mesh.json", R"({"points": [[0,0,0],[1,0,0],[1,1,0]],
        "primitives": [[0,1,2],[0,1,2],[0,1,2]],
        "primitive_attributes": {"Cd": {"type": "float", "size": 3,
                                        "values": [[0,0,1],[0.5,0,0],[0.501,0,0]]}}})");
    const auto r = run({"info", "mesh.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("primitives: 3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  1  colour 0.5 0 0  key 127 0 0  faces 1  same key as 2"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  3  colour 0 0 1  key 0 0 255  faces 1\n"), std::string::npos);
}

TEST_F(CliTest, InfoCountsRunsOfOneColourAsOftenAsScatteredFaces) {
    // Runs of one colour, a -0 that is the same colour as the 0 before it, and colours that come
    // back after others.
    write("mesh.json", R"({"points": [[0,0,0],[1,0,0],[1,1,0]],
        "primitives": [[0,1,2],[0,1,2],[0,1,2],[0,1,2],[0,1,2],[0,1,2],[0,1,2]],
        "primitive_attributes": {"Cd": {"type": "float", "size": 3, "values":
            [[0,0,1],[0,0,1],[-0.0,0,1],[1,0,0],[0,0,1],[1,0,0],[1,0,0]]}}})");
    const auto r = run({"info", "mesh.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("palette (2 colours"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("colour 0 0 1  key 0 0 255  faces 4\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("colour 1 0 0  key 255 0 0  faces 3\n"), std::string::npos) << r.out;
}

// ---- Where colours come from ----

// The quads of kMeshJson with colours on their points instead: points 0, 3 and 1 blue, 2, 4
// and 5 red, the rest green, so that quad 0 (blue, blue, red, blue) is blue by three corners,
// quad 1 (blue, red, red, red) red, quad 2 (red, green, green, red) a red-green tie that goes to
// red, and quad 3 green.
std::string vertexColouredPly(bool faceColoursToo) {
    const char* colours[10] = {"0 0 255", "0 0 255", "255 0 0", "0 0 255", "255 0 0",
                               "255 0 0", "0 255 0", "0 255 0", "0 255 0", "0 255 0"};
    std::string ply =
        "ply\nformat ascii 1.0\nelement vertex 10\nproperty float x\nproperty float y\n"
        "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
        "element face 4\nproperty list uchar int vertex_indices\n";
    if (faceColoursToo)
        ply += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    ply += "end_header\n";
    const char* points[10] = {"0 0 0", "1 0 0", "1 1 0", "0 1 0", "2 0 0",
                              "2 1 0", "3 0 0", "3 1 0", "4 0 0", "4 1 0"};
    for (int p = 0; p < 10; ++p)
        ply += std::string(points[p]) + " " + colours[p] + "\n";
    const char* faces[4] = {"4 0 1 2 3", "4 1 4 5 2", "4 4 6 7 5", "4 6 8 9 7"};
    for (const char* face : faces)
        ply += std::string(face) + (faceColoursToo ? " 128 128 128\n" : "\n");
    return ply;
}

TEST_F(CliTest, VertexColoursGroupByTheColourMostCornersShare) {
    write("mesh.ply", vertexColouredPly(false));
    const auto r = run({"cook", "mesh.ply", "--initialise"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "entry  group   colour  members\n"
              "1      group1  1 0 0   2\n"
              "2      group2  0 1 0   1\n"
              "3      group3  0 0 1   1\n"
              "hidden primitives: 0\n");
    EXPECT_EQ(r.err,
              "hueslice: mesh.ply: 4 faces take the colour most of their corners share (vertex "
              "colours); 1 face had a tie, settled by the earliest corner\n");

    // Written as JSON, the voted colours are the faces' own and group the same way.
    ASSERT_EQ(run({"cook", "mesh.ply", "-o", "voted.json"}).status, 0);
    const auto back = run({"cook", "voted.json", "--initialise"});
    EXPECT_EQ(back.out, r.out);
    EXPECT_EQ(back.err, "");
    const auto info = run({"info", "voted.json"});
    EXPECT_NE(info.out.find("colour source: face colours\n  faces with a colour of their own: 4\n"),
              std::string::npos)
        << info.out;
}

TEST_F(CliTest, HelpPromisesTheMajorityAndVertexColoursFlagKeepsIt) {
    const auto help = run({"cook", "--help"});
    EXPECT_NE(help.out.find("colour most of their corners share"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("even faces with a colour of their own"), std::string::npos);
    // Grey faces of their own, overruled by the flag.
    write("mesh.ply", vertexColouredPly(true));
    const auto plain = run({"cook", "mesh.ply", "--initialise"});
    EXPECT_NE(plain.out.find("1      group1  0.5019608 0.5019608 0.5019608  4\n"),
              std::string::npos)
        << plain.out;
    const auto forced = run({"cook", "mesh.ply", "--vertex-colours", "--initialise"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.out.find("1      group1  1 0 0   2\n"), std::string::npos) << forced.out;
}

struct SourceCase {
    const char* label;
    std::vector<std::pair<std::string, std::string>> files;  // the first one is read
    std::vector<std::string> flags;
    std::string source;  // the colour source block of `info`
};

void PrintTo(const SourceCase& c, std::ostream* os) {
    *os << c.label;
}

class InfoColourSource : public CliTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(InfoColourSource, NamesTheRuleAndCountsTheFaces) {
    for (const auto& [name, bytes] : GetParam().files)
        write(name, bytes);
    std::vector<std::string> args = {"info", GetParam().files[0].first};
    args.insert(args.end(), GetParam().flags.begin(), GetParam().flags.end());
    const auto r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(GetParam().source), std::string::npos) << r.out;
}

std::string sourceBlock(const std::string& rule, int own, int corners, int ties, int none) {
    return "colour source: " + rule +
           "\n  faces with a colour of their own: " + std::to_string(own) +
           "\n  faces coloured by their corners: " + std::to_string(corners) +
           "\n  ties among corners: " + std::to_string(ties) +
           "\n  faces without colour: " + std::to_string(none) + "\n";
}

// A square of two triangles with a red material, its buffer in a data URI.
std::string gltfSquare() {
    const std::vector<float> positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    const std::vector<std::uint16_t> indices = {0, 1, 2, 1, 3, 2};
    const std::string buffer = package_files::bytesOf(positions) + package_files::bytesOf(indices);
    return R"({"asset": {"version": "2.0"}, "buffers": [{"byteLength": 60, "uri": )"
           R"("data:application/octet-stream;base64,)" +
           package_files::base64(buffer) +
           R"("}], "bufferViews": [{"buffer": 0, "byteLength": 48},)"
           R"( {"buffer": 0, "byteOffset": 48, "byteLength": 12}], "accessors": [)"
           R"({"bufferView": 0, "componentType": 5126, "count": 4, "type": "VEC3"},)"
           R"( {"bufferView": 1, "componentType": 5123, "count": 6, "type": "SCALAR"}],)"
           R"( "materials": [{"pbrMetallicRoughness": {"baseColorFactor": [1, 0, 0, 1]}}],)"
           R"( "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1,)"
           R"( "material": 0}]}]})";
}

const std::string kByCorners = "vertex colours (the colour most of a face's corners share)";
const std::string kTriangleObj = "v 0 0 0 1 0 0\nv 1 0 0 1 0 0\nv 0 1 0 0 0 1\nv 1 1 0\n";

INSTANTIATE_TEST_SUITE_P(
    Readers, InfoColourSource,
    ::testing::Values(
        SourceCase{
            "JsonAttribute", {{"m.json", kMeshJson}}, {}, sourceBlock("face colours", 4, 0, 0, 0)},
        SourceCase{"JsonWithoutColour",
                   {{"m.json", R"({"points": [[0,0,0]], "primitives": [[0,0,0]]})"}},
                   {},
                   sourceBlock("none", 0, 0, 0, 1)},
        SourceCase{"PlyFaceColours",
                   {{"m.ply", meshPly("binary_big_endian")}},
                   {},
                   sourceBlock("face colours", 4, 0, 0, 0)},
        SourceCase{"PlyVertexColours",
                   {{"m.ply", vertexColouredPly(false)}},
                   {},
                   sourceBlock(kByCorners, 0, 4, 1, 0)},
        SourceCase{"PlyBothForced",
                   {{"m.ply", vertexColouredPly(true)}},
                   {"--vertex-colours"},
                   sourceBlock(kByCorners, 0, 4, 1, 0)},
        SourceCase{"ObjMaterials",
                   {{"m.obj", "mtllib m.mtl\nv 0 0 0\nusemtl a\nf 1 1 1\nusemtl\nf 1 1 1\n"},
                    {"m.mtl", "newmtl a\nKd 1 0 0\n"}},
                   {},
                   sourceBlock("face colours", 1, 0, 0, 1)},
        SourceCase{"ObjVertexColoursPartly",
                   {{"m.obj", kTriangleObj + "f 1 2 3\nf 4 4 4\n"}},
                   {},
                   sourceBlock(kByCorners, 0, 1, 0, 1)},
        SourceCase{"ObjMaterialsAndVertexColours",
                   {{"m.obj", "mtllib m.mtl\n" + kTriangleObj +
                                  "usemtl a\nf 1 2 3\nusemtl\nf 3 2 4\nf 3 4 4\n"},
                    {"m.mtl", "newmtl a\nKd 0 1 0\n"}},
                   {},
                   sourceBlock("face colours, else " + kByCorners, 1, 2, 1, 0)},
        SourceCase{"ObjVertexColoursFirst",
                   {{"m.obj", "mtllib m.mtl\n" + kTriangleObj + "usemtl a\nf 1 2 3\nf 4 4 4\n"},
                    {"m.mtl", "newmtl a\nKd 0 1 0\n"}},
                   {"--vertex-colours"},
                   sourceBlock(kByCorners + ", else face colours", 1, 1, 0, 0)},
        SourceCase{
            "ObjTexture",
            {{"m.obj",
              "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
              "usemtl t\nf 1/1 2/2 3/3\nusemtl a\nf 1 2 3\n"},
             {"m.mtl", "newmtl t\nmap_Kd tex.png\nnewmtl a\nKd 1 0 0\n"},
             {"tex.png", image_files::rgbPng(2, 1, "\x10\x20\x30\x10\x20\x30")}},
            {},
            sourceBlock("textures (times the material colour), else face colours", 1, 0, 0, 0) +
                "  faces coloured from textures: 1\n  texture of material 't': image "
                "\"tex.png\", 2 x 1, 1 face\n"},
        SourceCase{"GltfMaterial",
                   {{"m.gltf", gltfSquare()}},
                   {},
                   sourceBlock("face colours", 2, 0, 0, 0) + "  faces coloured from textures: 0\n"},
        SourceCase{
            "ThreeMfColours",
            {{"m.3mf", package_files::threeMf(
                           R"(<m:colorgroup id="1"><m:color color="#FF0000"/></m:colorgroup>)" +
                               package_files::meshObject(2, "", {R"(pid="1" p1="0")", ""}),
                           R"(<item objectid="2"/>)")}},
            {},
            sourceBlock("face colours", 1, 0, 0, 1)},
        SourceCase{"ThreeMfWithoutColour",
                   {{"m.3mf", package_files::threeMf(package_files::meshObject(2, "", {"", ""}),
                                                     R"(<item objectid="2"/>)")}},
                   {},
                   sourceBlock("none", 0, 0, 0, 2)}),
    [](const ::testing::TestParamInfo<SourceCase>& p) { return p.param.label; });

// ---- Entries that quantise alike ----

struct CollisionCase {
    const char* label;
    std::vector<std::string> sets;  // after numobj=3 and entries a, b, c coloured 0.5, 0.6, 0.7
    std::string err;
};

void PrintTo(const CollisionCase& c, std::ostream* os) {
    *os << c.label;
}

class CookCollisions : public CliTest, public ::testing::WithParamInterface<CollisionCase> {};

TEST_P(CookCollisions, WarnOncePerKeyNamingTheEntriesThatGetNothing) {
    write("mesh.json", kMeshJson);
    std::vector<std::string> args = {"cook",  "mesh.json",    "--set", "numobj=3",
                                     "--set", "group1=a",     "--set", "group2=b",
                                     "--set", "group3=c",     "--set", "col1=0.5,0,0",
                                     "--set", "col2=0.6,0,0", "--set", "col3=0.7,0,0"};
    for (const std::string& set : GetParam().sets) {
        args.push_back("--set");
        args.push_back(set);
    }
    const auto r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, CookCollisions,
    ::testing::Values(
        CollisionCase{"DistinctKeys", {}, ""},
        CollisionCase{"TwoEnabledNamed",
                      {"col2=0.501,0,0"},
                      "hueslice: entries 1 and 2 quantise alike: entry 2 gets no primitives\n"},
        CollisionCase{"ThreeAlike",
                      {"col2=0.501,0,0", "col3=0.5019,0,0"},
                      "hueslice: entries 1, 2 and 3 quantise alike: entries 2 and 3 get no "
                      "primitives\n"},
        CollisionCase{"LaterEntryDisabled", {"col2=0.501,0,0", "enable2=0"}, ""},
        CollisionCase{"LaterEntrySharesTheGroup", {"col2=0.501,0,0", "group2=a"}, ""},
        CollisionCase{"FirstEntryDisabled",
                      {"col3=0.501,0,0", "enable1=0"},
                      "hueslice: entries 1 and 3 quantise alike: entry 3 gets no primitives "
                      "(entry 1 is disabled)\n"}),
    [](const ::testing::TestParamInfo<CollisionCase>& p) { return p.param.label; });

// The summary lists 20 colliding colours and counts the rest on one more line, only when there
// is a rest.
TEST_F(CliTest, CollisionSummaryCountsOnlyColoursBeyondTheListed) {
    write("mesh.json", kMeshJson);
    const std::string more = "colours that several entries quantise alike\n";
    for (const auto& [keys, last] : {std::pair{19, std::string()}, std::pair{20, std::string()},
                                     std::pair{21, "hueslice: and 1 more " + more},
                                     std::pair{23, "hueslice: and 3 more " + more}}) {
        SCOPED_TRACE(keys);
        std::vector<std::string> args = {"cook", "mesh.json", "--set",
                                         "numobj=" + std::to_string(2 * keys)};
        for (int k = 1; k <= keys; ++k) {
            const std::string colour = std::to_string(k / 64.0) + ",0,0";
            for (const int entry : {2 * k - 1, 2 * k}) {
                const std::string n = std::to_string(entry);
                args.insert(args.end(),
                            {"--set", "col" + n + "=" + colour, "--set", "group" + n + "=g" + n});
            }
        }
        const auto r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto lines = static_cast<int>(std::count(r.err.begin(), r.err.end(), '\n'));
        EXPECT_EQ(lines, std::min(keys, 20) + (last.empty() ? 0 : 1)) << r.err;
        EXPECT_EQ(r.err.find("and 0 more"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), last.size())), last);
    }
}

TEST_F(CliTest, ParamsShowsTheDialogWithGreyedOutEntries) {
    write("scene.json", R"({"parameters": {"numobj": 2, "enable2": 0}})");
    const auto r = run({"params", "--scene", "scene.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("numobj  \"Number of groups\"  2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("col2  \"Colour\"  1 1 1  (greyed out)\n"), std::string::npos);
    EXPECT_NE(r.out.find("col1  \"Colour\"  1 1 1\n"), std::string::npos);
    EXPECT_NE(r.out.find("group menu: (empty)\n"), std::string::npos);
}

TEST_F(CliTest, VersionNamesTheInterfaceAndTag) {
    const auto r = run({"--version"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("interface version: 7.0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("build tag: "), std::string::npos);
}

// ---- Printing and viewing ----

// A row of `quads` unit quads whose colours cycle red, green, blue, as ascii PLY.
std::string quadRowPly(int quads) {
    std::string ply = "ply\nformat ascii 1.0\nelement vertex " + std::to_string(2 * quads + 2) +
                      "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
                      std::to_string(quads) +
                      "\nproperty list uchar int vertex_indices\nproperty uchar red\n"
                      "property uchar green\nproperty uchar blue\nend_header\n";
    for (int i = 0; i <= quads; ++i)
        ply += std::to_string(i) + " 0 0\n" + std::to_string(i) + " 1 0\n";
    const char* colours[] = {"255 0 0", "0 255 0", "0 0 255"};
    for (int i = 0; i < quads; ++i) {
        ply += "4 " + std::to_string(2 * i) + " " + std::to_string(2 * i + 2) + " " +
               std::to_string(2 * i + 3) + " " + std::to_string(2 * i + 1) + " " + colours[i % 3] +
               "\n";
    }
    return ply;
}

TEST_F(CliTest, SplitWritesOneStlPerGroupAndPrintsChangedNames) {
    write("mesh.ply", meshPly("ascii"));
    const auto r = run({"cook", "mesh.ply", "--initialise", "--set", "group2=top/side", "--set",
                        "enable3=0", "--split", "parts"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "hueslice: parts: 4 polygons with more than 3 vertices written as triangle "
              "fans\nhueslice: parts: group 'top/side' written as 'top_side.stl'\n");
    // Two red quads, one green and the blue one in no group, as binary triangles.
    EXPECT_EQ(read("parts/group1.stl").size(), 84u + 4 * 50);
    EXPECT_EQ(read("parts/top_side.stl").size(), 84u + 2 * 50);
    EXPECT_EQ(read("parts/ungrouped.stl").size(), 84u + 2 * 50);
}

TEST_F(CliTest, HiddenFacesHaveNoSplitFile) {
    write("mesh.ply", meshPly("ascii"));
    const auto r = run({"cook", "mesh.ply", "--initialise", "--set", "isolate1=1", "--split",
                        "parts", "--split-format", "3mf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists("parts/group1.3mf"));
    EXPECT_FALSE(exists("parts/group2.3mf"));
    EXPECT_FALSE(exists("parts/ungrouped.3mf"));
}

// The formats that --help and --split-format name are those the program reads and writes.
TEST_F(CliTest, HelpAndSplitFormatNameTheFormatsOfTheTable) {
    const auto help = run({"cook", "--help"});
    for (const char* text : {"Mesh: .json, .ply, .obj, .3mf, .gltf or .glb",
                             ".json, .stl, .ply, .obj, .3mf, .gltf, .glb or .svg;",
                             ":{stl,ply,obj,3mf,glb}", "(default stl)"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text << "\n" << help.out;
    write("mesh.ply", quadRowPly(2));
    const auto r = run({"cook", "mesh.ply", "--split", "parts", "--split-format", "svg"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "hueslice: --split-format: svg not in {stl,ply,obj,3mf,glb} (see --help)\n");
    EXPECT_FALSE(exists("parts"));
}

// An empty name once meant "no such output" and the run wrote nothing without a word.
TEST_F(CliTest, AnEmptyFileNameIsAUsageError) {
    write("mesh.ply", quadRowPly(2));
    for (const char* option : {"--split", "-o", "--svg", "--save-scene", "--scene"}) {
        const auto r = run({"cook", "mesh.ply", option, ""});
        EXPECT_EQ(r.status, 2) << option;
        EXPECT_NE(r.err.find(": an empty name names no file (see --help)\n"), std::string::npos)
            << r.err;
    }
}

// The split folder is made before the outputs are checked, so another output may go inside it.
TEST_F(CliTest, AnOutputMayGoInsideTheSplitFolderItMakes) {
    write("mesh.ply", quadRowPly(2));
    const auto r = run({"cook", "mesh.ply", "--initialise", "-o", "parts/all.obj", "--split",
                        "parts", "--split-format", "ply"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists("parts/all.obj"));
    EXPECT_TRUE(exists("parts/group1.ply"));
}

TEST_F(CliTest, SplitFolderIsReplacedOnlyWhenEveryFileIsWritten) {
    write("mesh.ply", quadRowPly(300));
    std::filesystem::create_directory(dir / "parts");
    write("parts/group1.stl", "old\n");
    write("parts/notes.txt", "mine\n");
    // Each group's file is larger than the 4 KB the limit allows, so no file can be written.
    const auto r = run({"cook", "mesh.ply", "--initialise", "--split", "parts", "--split-format",
                        "ply", "--save-scene", "scene.json"},
                       "ulimit -f 8 &&");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write file: File too large"), std::string::npos) << r.err;
    EXPECT_EQ(read("parts/group1.stl"), "old\n");
    std::set<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "parts"))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"group1.stl", "notes.txt"}));
    EXPECT_FALSE(exists("scene.json"));

    const auto fresh =
        run({"cook", "mesh.ply", "--initialise", "--split", "new"}, "ulimit -f 8 &&");
    EXPECT_EQ(fresh.status, 1);
    EXPECT_FALSE(exists("new")) << "a folder made for a failed split is removed";
}

TEST_F(CliTest, ThreeMfAndGlbComeBackWithTheirGroups) {
    write("mesh.ply", meshPly("binary_little_endian"));
    for (const char* file : {"out.3mf", "out.glb", "out.gltf"}) {
        SCOPED_TRACE(file);
        const auto cook = run({"cook", "mesh.ply", "--initialise", "-o", file});
        ASSERT_EQ(cook.status, 0) << cook.err;
        const auto again = run({"cook", file, "--initialise", "-o", "again.json"});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(again.out,
                  "entry  group   colour  members\n"
                  "1      group1  1 0 0   4\n"
                  "2      group2  0 1 0   2\n"
                  "3      group3  0 0 1   2\n"
                  "hidden primitives: 0\n");
    }
}

TEST_F(CliTest, GltfBuffersAreReadFromBesideTheFile) {
    write("mesh.ply", meshPly("ascii"));
    ASSERT_EQ(run({"cook", "mesh.ply", "-o", "full.gltf"}).status, 0);
    // Move the embedded buffer out into a file of its own.
    std::string gltf = read("full.gltf");
    const std::string prefix = "data:application/octet-stream;base64,";
    const std::size_t start = gltf.find(prefix);
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = gltf.find('"', start);
    const std::string encoded = gltf.substr(start + prefix.size(), end - start - prefix.size());
    std::filesystem::create_directory(dir / "sub");
    write("sub/mesh.b64", encoded);
    ASSERT_EQ(std::system(("base64 -d '" + (dir / "sub/mesh.b64").string() + "' > '" +
                           (dir / "sub/mesh.bin").string() + "'")
                              .c_str()),
              0);
    write("sub/split.gltf", gltf.replace(start, end - start, "mesh.bin"));
    const auto r = run({"info", "sub/split.gltf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("primitives: 8"), std::string::npos) << r.out;
}

TEST_F(CliTest, GlbForViewingPassesTheValidator) {
    if (std::system("command -v node > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "node is not installed, so the glTF validator cannot run";
    write("mesh.ply", meshPly("ascii"));
    ASSERT_EQ(
        run({"cook", "mesh.ply", "--initialise", "--set", "enable2=0", "-o", "view.glb"}).status,
        0);
    const std::string command = "node '" HUESLICE_SOURCE_DIR "/tests/validator/validate.js' '" +
                                (dir / "view.glb").string() + "' > /dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST_F(CliTest, ObjGroupsAreWrittenTogetherUnlessKeepOrder) {
    write("mesh.ply", meshPly("ascii"));
    const auto count = [](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = text.find("\ng "); at != std::string::npos;
             at = text.find("\ng ", at + 1))
            ++n;
        return n;
    };
    ASSERT_EQ(run({"cook", "mesh.ply", "--initialise", "-o", "together.obj"}).status, 0);
    ASSERT_EQ(run({"cook", "mesh.ply", "--initialise", "-o", "input.obj", "--keep-order"}).status,
              0);
    EXPECT_EQ(count(read("together.obj")), 3u);
    EXPECT_EQ(count(read("input.obj")), 4u);  // red, green, red, blue
}

struct ErrorCase {
    const char* label;
    std::vector<std::string> args;
    int status;
    std::string message;
};

class CliErrorTest : public CliTest, public ::testing::WithParamInterface<ErrorCase> {};

// Every failure: one line, the right status, and the old output file untouched.
TEST_P(CliErrorTest, FailsWithOneLineAndKeepsTheOldOutput) {
    write("mesh.json", kMeshJson);
    write("out.json", "old output\n");
    write("bad_index.json", R"({"points": [[0,0,0]], "primitives": [[0,1,0]]})");
    const std::string ply = meshPly("binary_little_endian");
    write("truncated.ply", ply.substr(0, ply.size() - 10));
    write("huge.ply",
          "ply\nformat ascii 1.0\nelement face 555555555555\n"
          "property list uchar int vertex_indices\nend_header\n");
    write("scene.json", "{\"parameters\": {\n  \"numobj\": 1,\n  \"colour1\": [1, 0, 0]\n}}\n");
    const auto r = run(GetParam().args);
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.err, GetParam().message + "\n");
    EXPECT_EQ(read("out.json"), "old output\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliErrorTest,
    ::testing::Values(
        ErrorCase{"UnknownSetToken",
                  {"cook", "mesh.json", "--set", "colour1=1,0,0", "-o", "out.json"},
                  2,
                  "hueslice: --set colour1=1,0,0: unknown parameter 'colour1'"},
        ErrorCase{"WrongSetType",
                  {"cook", "mesh.json", "--set", "col1=red", "-o", "out.json"},
                  2,
                  "hueslice: --set col1=red: expected three numbers R,G,B"},
        ErrorCase{"ButtonSet",
                  {"cook", "mesh.json", "--set", "init=1", "-o", "out.json"},
                  2,
                  "hueslice: --set init=1: 'init' is a button; use --initialise or --sort"},
        ErrorCase{"SceneUnknownToken",
                  {"cook", "mesh.json", "--scene", "scene.json", "-o", "out.json"},
                  1,
                  "hueslice: scene.json:3: unknown parameter 'colour1'"},
        ErrorCase{"MissingInput",
                  {"cook", "nothing.json", "-o", "out.json"},
                  1,
                  "hueslice: nothing.json: cannot read file: No such file or directory"},
        ErrorCase{"IndexOutOfRange",
                  {"cook", "bad_index.json", "-o", "out.json"},
                  1,
                  "hueslice: bad_index.json:1: primitive 0 has index 1 but there is 1 point"},
        ErrorCase{"TruncatedBinary",
                  {"cook", "truncated.ply", "-o", "out.json"},
                  1,
                  "hueslice: truncated.ply: byte 411: file ends inside face 3 (list of 4 values)"},
        ErrorCase{"CountBeyondTheFile",
                  {"cook", "huge.ply", "-o", "out.json"},
                  1,
                  "hueslice: huge.ply:3: element 'face' declares 555555555555 rows but the file "
                  "has room for at most 0"},
        ErrorCase{"OutputFolderMissing",
                  {"cook", "mesh.json", "-o", "missing/out.json"},
                  1,
                  "hueslice: missing/out.json: cannot create file: No such file or directory"},
        // Regression: the JSON output was replaced before the SVG output failed.
        ErrorCase{"OneOfSeveralOutputsFails",
                  {"cook", "mesh.json", "-o", "out.json", "--svg", "missing/out.svg"},
                  1,
                  "hueslice: missing/out.svg: cannot create file: No such file or directory"},
        ErrorCase{"MissingPlugin",
                  {"cook", "mesh.json", "--plugin", "/nonexistent.so", "-o", "out.json"},
                  1,
                  "hueslice: /nonexistent.so: no such file"},
        ErrorCase{"NoCommand",
                  {},
                  2,
                  "hueslice: a command is needed: demo, cook, info or params (see --help)"}),
    [](const ::testing::TestParamInfo<ErrorCase>& p) { return p.param.label; });

}  // namespace
