// glTF in and out: hand-made files for each colour mechanism and for node transforms, refused
// files, round trips of both encodings, and every kind of written file through the Khronos
// validator.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <HOST_Internals.h>

#include "io/formats/gltf/gltf.h"
#include "io/formats/ply/ply.h"
#include "io/io.h"
#include "support/package_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using namespace testing;
using package_files::base64;
using package_files::bytesOf;
using package_files::glbOf;

// Two triangles over four points, floats then uint16 indices then (optionally) RGBA bytes.
struct Buffer {
    std::vector<float> positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    std::vector<std::uint16_t> indices = {0, 1, 2, 1, 3, 2};
    std::vector<std::uint8_t> colours = {255, 0, 0,   255, 0, 255, 0,   255,
                                         0,   0, 255, 255, 0, 0,   255, 255};

    std::string bytes() const { return bytesOf(positions) + bytesOf(indices) + bytesOf(colours); }
};

// glTF JSON over Buffer's layout: `primitive` is spliced into the one primitive,
// `rest` after the other top-level members, `uri` (may be empty for GLB) names the buffer.
std::string gltfJson(const std::string& primitive, const std::string& rest, const std::string& uri,
                     std::size_t byteLength = 76) {
    const std::string buffer = uri.empty() ? R"({"byteLength": )" + std::to_string(byteLength) + "}"
                                           : R"({"byteLength": )" + std::to_string(byteLength) +
                                                 R"(, "uri": ")" + uri + R"("})";
    return R"({"asset": {"version": "2.0"}, "buffers": [)" + buffer +
           R"(], "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 48},)"
           R"( {"buffer": 0, "byteOffset": 48, "byteLength": 12},)"
           R"( {"buffer": 0, "byteOffset": 60, "byteLength": 16}],)"
           R"( "accessors": [{"bufferView": 0, "componentType": 5126, "count": 4, "type": "VEC3"},)"
           R"( {"bufferView": 1, "componentType": 5123, "count": 6, "type": "SCALAR"},)"
           R"( {"bufferView": 2, "componentType": 5121, "normalized": true, "count": 4,)"
           R"( "type": "VEC4"}],)"
           R"( "meshes": [{"name": "sheet", "primitives": [{"attributes": {"POSITION": 0},)"
           R"( "indices": 1)" +
           primitive + "}]}]" + rest + "}";
}

std::string dataUri() {
    return "data:application/octet-stream;base64," + base64(Buffer().bytes());
}

GU_Detail readText(const std::string& json, Notes* notes = nullptr) {
    GU_Detail out;
    Notes n = readGltf(json, "in.gltf", out);
    if (notes)
        *notes = n;
    return out;
}

std::vector<float> v3(float a, float b, float c) {
    return {a, b, c};
}

TEST(GltfInput, MaterialBaseColourColoursEveryFace) {
    const GU_Detail geo = readText(gltfJson(
        R"(, "material": 0)",
        R"(, "materials": [{"pbrMetallicRoughness": {"baseColorFactor": [0.25, 0.5, 1, 1]}}])",
        dataUri()));
    ASSERT_EQ(geo.primitiveCount(), 2);
    // The factor is linear light; "Cd" holds it sRGB-encoded.
    for (long long face : {0, 1}) {
        const std::vector<float> rgb = colourOf(geo, face);
        ASSERT_EQ(rgb.size(), 3u);
        EXPECT_NEAR(rgb[0], 0.5371f, 1e-4f);
        EXPECT_NEAR(rgb[1], 0.7354f, 1e-4f);
        EXPECT_EQ(rgb[2], 1.0f);
    }
    // No scene: every mesh once, grouped by the mesh's name.
    ASSERT_NE(geo.primitiveGroups().find("sheet"), nullptr);
    EXPECT_EQ(geo.primitiveGroups().find("sheet")->entries(), 2u);
}

TEST(GltfInput, VertexColourByCornerMajorityTimesTheBaseColour) {
    Notes notes;
    const GU_Detail geo = readText(
        gltfJson(
            R"(, "material": 0, "attributes": {"POSITION": 0, "COLOR_0": 2})",
            R"(, "materials": [{"pbrMetallicRoughness": {"baseColorFactor": [0.5, 1, 1, 1]}}])",
            dataUri()),
        &notes);
    // Triangle 0's corners are red, green, blue: a tie, so its first corner's red. Triangle 1's
    // are green, blue, blue: blue by majority.
    EXPECT_NEAR(colourOf(geo, 0)[0], 0.7354f, 1e-4f);  // 0.5 x 1 in linear light, encoded
    EXPECT_EQ(colourOf(geo, 1), v3(0, 0, 1));
    EXPECT_EQ(notes, Notes{"in.gltf: 2 faces take the colour most of their corners share (vertex "
                           "colours); 1 face had a tie, settled by the earliest corner"});
}

TEST(GltfInput, NodesPlaceTheirMeshesThroughTheWholeTree) {
    // The parent moves by (10, 0, 0); the child scales by 2; the scene's second root node
    // holds the mesh with no transform.
    const std::string nodes =
        R"(, "nodes": [{"name": "parent", "translation": [10, 0, 0], "children": [1]},)"
        R"( {"name": "child", "scale": [2, 2, 2], "mesh": 0}, {"mesh": 0}],)"
        R"( "scenes": [{"nodes": [0, 2]}], "scene": 0)";
    const GU_Detail geo = readText(gltfJson("", nodes, dataUri()));
    ASSERT_EQ(geo.primitiveCount(), 4);
    EXPECT_EQ(geo.points()[1].x(), 12.0f);
    EXPECT_EQ(geo.points()[2].y(), 2.0f);
    EXPECT_EQ(geo.points()[5].x(), 1.0f);
    ASSERT_NE(geo.primitiveGroups().find("child"), nullptr);
    EXPECT_EQ(geo.primitiveGroups().find("child")->members(), (std::vector<unsigned>{0, 1}));
    EXPECT_EQ(geo.primitiveGroups().find("sheet")->members(), (std::vector<unsigned>{2, 3}));
    EXPECT_TRUE(colourOf(geo, 0).empty());  // no material anywhere: no colours
}

TEST(GltfInput, RotationsAndMatricesTurnTheMesh) {
    // Where the axes go: quarter turns about each axis, as quaternions and as column-major
    // matrices, and a third of a turn about (1, 1, 1), which cycles the axes. Points 1 (1, 0, 0)
    // and 2 (0, 1, 0) show the images of x and y; the image of z shows when the mesh hangs
    // below a child node that first takes x to z.
    const std::string h = "0.70710678118654752";
    const struct {
        std::string node;
        std::vector<float> x, y, z;
    } cases[] = {
        {R"("rotation": [0, 0, )" + h + ", " + h + "]", {0, 1, 0}, {-1, 0, 0}, {0, 0, 1}},
        {R"("matrix": [0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1])",
         {0, 1, 0},
         {-1, 0, 0},
         {0, 0, 1}},
        {R"("rotation": [0, )" + h + ", 0, " + h + "]", {0, 0, -1}, {0, 1, 0}, {1, 0, 0}},
        {R"("rotation": [)" + h + ", 0, 0, " + h + "]", {1, 0, 0}, {0, 0, 1}, {0, -1, 0}},
        {R"("matrix": [1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1])",
         {1, 0, 0},
         {0, 0, 1},
         {0, -1, 0}},
        {R"("rotation": [0.5, 0.5, 0.5, 0.5])", {0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
    };
    const std::string xToZ = R"({"matrix": [0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1], )"
                             R"("mesh": 0})";
    const auto expectAt = [](const UT_Vector3& p, const std::vector<float>& expected) {
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(p[k], expected[static_cast<std::size_t>(k)], 1e-6f) << "axis " << k;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node);
        const GU_Detail direct = readText(gltfJson(
            "", R"(, "nodes": [{)" + c.node + R"(, "mesh": 0}], "scenes": [{"nodes": [0]}])",
            dataUri()));
        expectAt(direct.points()[1], c.x);
        expectAt(direct.points()[2], c.y);
        const GU_Detail nested =
            readText(gltfJson("",
                              R"(, "nodes": [{)" + c.node + R"(, "children": [1]}, )" + xToZ +
                                  R"(], "scenes": [{"nodes": [0]}])",
                              dataUri()));
        expectAt(nested.points()[1], c.z);
    }
}

TEST(GltfInput, ImageFilesOfModelsReadFromMemoryAreNotedAndFacesKeepTheBaseColour) {
    Notes notes;
    readText(gltfJson(R"(, "material": 0)",
                      R"(, "materials": [{"name": "wood", "pbrMetallicRoughness": )"
                      R"({"baseColorTexture": {"index": 0}}}], "textures": [{"source": 0}],)"
                      R"( "images": [{"uri": "missing.png"}])",
                      dataUri()),
             &notes);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0],
              "in.gltf: image \"missing.png\" cannot be read here; the faces it colours keep "
              "their material's colour");
}

TEST(GltfInput, StripsAndFansBecomeTriangles) {
    for (const auto& [mode, second] : {std::pair{5, std::vector<unsigned>{2, 1, 1}},
                                       std::pair{6, std::vector<unsigned>{0, 2, 1}}}) {
        SCOPED_TRACE(mode);
        // Indices 0 1 2 1 3 2: a strip's second triangle is (2 1 1), a fan's (0 2 1).
        const GU_Detail geo =
            readText(gltfJson(", \"mode\": " + std::to_string(mode), "", dataUri()));
        ASSERT_EQ(geo.primitiveCount(), 4);
        const GB_Primitive& p = *geo.primitives()(1);
        EXPECT_EQ(std::vector<unsigned>(geo.primitiveVertices(p), geo.primitiveVertices(p) + 3),
                  second);
    }
    Notes notes;
    EXPECT_EQ(readText(gltfJson(R"(, "mode": 1)", "", dataUri()), &notes).primitiveCount(), 0);
    EXPECT_EQ(notes, (Notes{"in.gltf: no faces were read (its primitives are points or lines), so "
                            "there is nothing to group",
                            "in.gltf: 1 primitive of points or lines left out"}));
}

TEST(GltfInput, RefusedFilesLeaveTheOutputAlone) {
    const std::string bin = Buffer().bytes();
    std::string badIndex = bin;
    badIndex[48] = 9;  // the first index names point 9 of 4
    const struct {
        const char* label;
        std::string bytes;
        std::string error;
    } cases[] = {
        {"accessor past its view",
         [&] {
             std::string json = gltfJson("", "", dataUri());
             json.replace(json.find(R"("count": 4, "type": "VEC3")"), 10, R"("count": 5)");
             return json;
         }(),
         "in.gltf: accessor 0 (mesh 0 primitive 0 POSITION) has 5 elements from byte 0, which "
         "reach past the 48 bytes of buffer view 0"},
        {"index out of range",
         gltfJson("", "", "data:application/octet-stream;base64," + base64(badIndex)),
         "in.gltf: mesh 0 primitive 0 index 0 is 9 but there are only 4 positions"},
        {"truncated glb buffer", glbOf(gltfJson("", "", ""), bin.substr(0, 40)),
         "in.gltf: cannot read glb: Invalid `byteLength'. Must be equal or less than binary "
         "size: `byteLength' = 76, binary size = 40"},
        {"node reached twice",
         gltfJson("", R"(, "nodes": [{"children": [0]}], "scenes": [{"nodes": [0]}])", dataUri()),
         "in.gltf: node 0 is reached twice (nodes form a tree)"},
        {"external buffer from memory", gltfJson("", "", "mesh.bin"),
         "in.gltf: cannot read gltf: ..."},
        {"not json", "{", "in.gltf: cannot read gltf: ..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        GU_Detail out = makeSquare();
        const std::string error = inputErrorOf([&] { readGltf(c.bytes, "in.gltf", out); });
        const bool prefix = c.error.size() > 3 && c.error.substr(c.error.size() - 3) == "...";
        if (prefix)
            EXPECT_EQ(error.rfind(c.error.substr(0, c.error.size() - 3), 0), 0u) << error;
        else
            EXPECT_EQ(error, c.error);
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(out.primitiveCount(), 2);
    }
}

// Four triangles coloured red, green, red, blue; "reds" holds 0 and 2, "greens" 1; the blue
// one is in no group.
GU_Detail groupedTriangles() {
    GU_Detail geo = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 0, 0}, {2, 1, 0}},
                             {{0, 1, 2}, {1, 3, 2}, {1, 4, 3}, {4, 5, 3}});
    setColour(geo, 0, 1, 0, 0);
    setColour(geo, 1, 0, 1, 0);
    setColour(geo, 2, 1, 0, 0);
    setColour(geo, 3, 0, 0, 1);
    GB_PrimitiveGroup* reds = geo.primitiveGroups().newGroup("reds");
    HOST_Internals::addMember(*reds, 0);
    HOST_Internals::addMember(*reds, 2);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("greens"), 1);
    return geo;
}

class GltfRoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(GltfRoundTrip, GroupsCountsAndColoursComeBack) {
    GU_Detail geo = groupedTriangles();
    LegendEntry greens;
    greens.name = "greens";
    greens.swatch[0] = 0.0f;
    greens.swatch[1] = 0.75f;  // the entry's colour, not the face's, colours the part
    greens.swatch[2] = 0.0f;
    const WrittenFile file = writeGltf(geo, {greens}, GetParam(), "out");
    EXPECT_EQ(file.bytes.rfind("glTF", 0) == 0, GetParam());
    GU_Detail back;
    readGltf(file.bytes, "out", back);
    ASSERT_EQ(back.primitiveCount(), 4);
    EXPECT_EQ(back.primitiveGroups().entries(), 2u);
    EXPECT_EQ(back.primitiveGroups().find("reds")->members(), (std::vector<unsigned>{0, 1}));
    EXPECT_EQ(back.primitiveGroups().find("greens")->members(), (std::vector<unsigned>{2}));
    EXPECT_EQ(colourOf(back, 0), v3(1, 0, 0));
    EXPECT_NEAR(colourOf(back, 2)[1], 0.75f, 1e-6f);
    EXPECT_EQ(colourOf(back, 3), v3(0, 0, 1));
    EXPECT_EQ(back.points()[back.primitiveVertices(*back.primitives()(3))[1]].x(), 2.0f);
}

INSTANTIATE_TEST_SUITE_P(Encodings, GltfRoundTrip, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Glb" : "Gltf"; });

// "Cd" is sRGB-encoded and glTF colours are linear: a colour survives PLY -> GLB -> PLY exactly
// and GLB -> PLY -> GLB within 1/255, and the written factor is the linear value a viewer shows
// as the group's colour.
TEST(GltfColourSpace, ColoursSurviveRoundTripsThroughPly) {
    const int bytes[] = {0, 1, 3, 10, 11, 50, 127, 128, 200, 254, 255};
    const std::size_t n = std::size(bytes);
    GU_Detail geo;
    for (std::size_t i = 0; i < n; ++i) {
        const float x = static_cast<float>(i);
        const unsigned first = static_cast<unsigned>(geo.pointCount());
        geo.appendPoint(UT_Vector3(x, 0, 0));
        geo.appendPoint(UT_Vector3(x + 1, 0, 0));
        geo.appendPoint(UT_Vector3(x, 1, 0));
        const unsigned corners[3] = {first, first + 1, first + 2};
        geo.appendPrimitive(corners, 3);
    }
    for (std::size_t i = 0; i < n; ++i) {
        setColour(geo, static_cast<long long>(i), bytes[i] / 255.0f, bytes[n - 1 - i] / 255.0f,
                  bytes[(i + 3) % n] / 255.0f);
    }
    const std::string ply = writePly(geo, "in.ply").bytes;
    GU_Detail fromPly;
    readPly(ply, "in.ply", fromPly);
    GU_Detail fromGlb;
    readGltf(writeGltf(fromPly, {}, true, "mid.glb").bytes, "mid.glb", fromGlb);
    EXPECT_EQ(writePly(fromGlb, "out.ply").bytes, ply);  // PLY -> GLB -> PLY, byte for byte

    GU_Detail again;
    readGltf(writeGltf(fromGlb, {}, true, "again.glb").bytes, "again.glb", again);
    for (std::size_t i = 0; i < n; ++i) {  // GLB -> PLY -> GLB
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(colourOf(again, static_cast<long long>(i))[static_cast<std::size_t>(c)],
                        colourOf(fromGlb, static_cast<long long>(i))[static_cast<std::size_t>(c)],
                        1.0f / 255.0f);
    }
}

TEST(GltfColourSpace, AGroupsColourIsWrittenAsItsLinearFactor) {
    GU_Detail geo = makeSquare();
    setColour(geo, 0, 128 / 255.0f, 64 / 255.0f, 200 / 255.0f);
    setColour(geo, 1, 128 / 255.0f, 64 / 255.0f, 200 / 255.0f);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("part"), 0);
    HOST_Internals::addMember(*geo.primitiveGroups().find("part"), 1);
    const std::string text = writeGltf(geo, {}, false, "out.gltf").bytes;
    for (const char* linear : {"0.21586", "0.05126", "0.57758"})
        EXPECT_NE(text.find(linear), std::string::npos) << linear << " in " << text;
}

TEST(GltfOutput, HiddenPrimitivesAreLeftOut) {
    GU_Detail geo = groupedTriangles();
    GB_PrimitiveGroup* hidden = geo.primitiveGroups().newGroup(kHiddenGroupName);
    HOST_Internals::addMember(*hidden, 0);
    HOST_Internals::addMember(*hidden, 3);
    GU_Detail back;
    readGltf(writeGltf(geo, {}, true, "out.glb").bytes, "out.glb", back);
    EXPECT_EQ(back.primitiveCount(), 2);
    EXPECT_EQ(back.primitiveGroups().find("reds")->entries(), 1u);
}

TEST(GltfOutput, NonFinitePositionIsRefused) {
    GU_Detail geo = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, INFINITY, 0}}, {{0, 1, 2}});
    EXPECT_EQ(inputErrorOf([&] { writeGltf(geo, {}, true, "out.glb"); }),
              "out.glb: point 2 is not a finite position, which glTF cannot carry");
}

TEST(GltfOutput, EveryKindOfWrittenFilePassesTheValidator) {
    if (std::system("command -v node > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "node is not installed, so the glTF validator cannot run";
    const std::filesystem::path script =
        std::filesystem::path(HUESLICE_SOURCE_DIR) / "tests/validator/validate.js";
    if (!std::filesystem::exists(script.parent_path() / "node_modules/gltf-validator"))
        FAIL() << "the glTF validator is not installed: run scripts/install-deps";

    GU_Detail quads = makeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 1}},
                               {{0, 1, 2, 3}, {1, 4, 2}});
    setColour(quads, 0, 2.0f, -1.0f, std::nanf(""));  // clamped into range
    setColour(quads, 1, 0.5f, 0.5f, 0.5f);
    GU_Detail everythingHidden = makeSquare();
    HOST_Internals::addMember(*everythingHidden.primitiveGroups().newGroup(kHiddenGroupName), 0);
    HOST_Internals::addMember(*everythingHidden.primitiveGroups().find(kHiddenGroupName), 1);
    const struct {
        const char* file;
        const GU_Detail* geo;
    } cases[] = {{"grouped.glb", nullptr},
                 {"grouped.gltf", nullptr},
                 {"quads.glb", &quads},
                 {"plain.gltf", nullptr},
                 {"empty.glb", &everythingHidden}};
    const GU_Detail grouped = groupedTriangles();
    const GU_Detail plain = makeSquare();
    char pattern[] = "/tmp/hueslice_gltf_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    std::string command = "node '" + script.string() + "'";
    for (const auto& c : cases) {
        const std::string name = c.file;
        const GU_Detail& geo = c.geo ? *c.geo : name.rfind("plain", 0) == 0 ? plain : grouped;
        const bool binary = name.substr(name.size() - 4) == ".glb";
        const WrittenFile file = writeGltf(geo, {}, binary, name);
        if (c.geo == &quads) {
            EXPECT_EQ(file.notes.back(), name + ": colours outside [0, 1] written clamped");
        }
        std::ofstream(dir / name, std::ios::binary) << file.bytes;
        command += " '" + (dir / name).string() + "'";
    }
    command += " > '" + (dir / "report.txt").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream report(dir / "report.txt");
    const std::string text((std::istreambuf_iterator<char>(report)),
                           std::istreambuf_iterator<char>());
    std::filesystem::remove_all(dir);
    EXPECT_EQ(status, 0) << text;
}

}  // namespace
}  // namespace hueslice::io
