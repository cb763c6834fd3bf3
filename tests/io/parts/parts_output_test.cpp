// One part per group: OBJ faces written together by their set of groups, binary STL and PLY,
// safe file names and the split folder.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <HOST_Internals.h>

#include "io/commit/output_batch.h"
#include "io/formats/3mf/3mf.h"
#include "io/formats/formats.h"
#include "io/formats/gltf/gltf.h"
#include "io/formats/obj/obj.h"
#include "io/formats/ply/ply.h"
#include "io/formats/stl/stl.h"
#include "io/io.h"
#include "io/parts/parts.h"
#include "io/parts/split.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using namespace testing;
namespace fs = std::filesystem;

// A strip of six triangles whose groups alternate a, b, a, (a and b), none, b.
GU_Detail interleaved() {
    GU_Detail geo = makeMesh(
        {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 0, 0}, {2, 1, 0}, {3, 0, 0}, {3, 1, 0}},
        {{0, 1, 2}, {1, 3, 2}, {1, 4, 3}, {4, 5, 3}, {4, 6, 5}, {6, 7, 5}});
    GB_PrimitiveGroup* a = geo.primitiveGroups().newGroup("a");
    GB_PrimitiveGroup* b = geo.primitiveGroups().newGroup("b");
    for (unsigned p : {0u, 2u, 3u})
        HOST_Internals::addMember(*a, p);
    for (unsigned p : {1u, 3u, 5u})
        HOST_Internals::addMember(*b, p);
    return geo;
}

// The `g` lines and, after each, the first vertex of every face up to the next.
std::vector<std::string> groupRuns(const std::string& obj) {
    std::vector<std::string> runs;
    std::size_t pos = 0;
    while (pos < obj.size()) {
        const std::size_t end = obj.find('\n', pos);
        const std::string line = obj.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("g", 0) == 0)
            runs.push_back(line);
        else if (line.rfind("f ", 0) == 0 && !runs.empty())
            runs.back() += " |" + line.substr(1, line.find(' ', 2) - 1);
    }
    return runs;
}

TEST(ObjGroupOrder, EachSetOfGroupsGetsOneRunInOrderOfFirstUse) {
    const ObjText text = writeObj(interleaved(), "m.mtl", "out.obj");
    EXPECT_EQ(groupRuns(text.obj), (std::vector<std::string>{"g a | 1 | 2", "g b | 2 | 7",
                                                             "g a b | 5", "g ungrouped | 5"}));
    GU_Detail back;
    readObj(text.obj, "out.obj", std::nullopt, "", back);
    EXPECT_EQ(back.primitiveGroups().find("a")->members(), (std::vector<unsigned>{0, 1, 4}));
    EXPECT_EQ(back.primitiveGroups().find("b")->members(), (std::vector<unsigned>{2, 3, 4}));
}

TEST(ObjGroupOrder, KeepOrderWritesTheInputOrder) {
    const ObjText text = writeObj(interleaved(), "m.mtl", "out.obj", true);
    EXPECT_EQ(groupRuns(text.obj),
              (std::vector<std::string>{"g a | 1", "g b | 2", "g a | 2", "g a b | 5",
                                        "g ungrouped | 5", "g b | 7"}));
}

// A bare `g` line joins the faces after it to the group before in some importers.
TEST(ObjGroupOrder, FacesInNoGroupAfterGroupedOnesGetAGroupNameNoGroupHas) {
    GU_Detail geo = interleaved();
    geo.primitiveGroups().newGroup("ungrouped");
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("ungrouped_2"), 0);
    const ObjText text = writeObj(geo, "m.mtl", "out.obj");
    EXPECT_EQ(groupRuns(text.obj).back(), "g ungrouped_3 | 5");
    // Also when they come first; and a file without groups has no `g` line at all.
    GU_Detail two = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {2, 1, 0}});
    EXPECT_EQ(groupRuns(writeObj(two, "m.mtl", "out.obj").obj), std::vector<std::string>{});
    HOST_Internals::addMember(*two.primitiveGroups().newGroup("a"), 1);
    EXPECT_EQ(groupRuns(writeObj(two, "m.mtl", "out.obj", true).obj),
              (std::vector<std::string>{"g ungrouped | 1", "g a | 3"}));
}

std::uint32_t u32At(const std::string& bytes, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

float f32At(const std::string& bytes, std::size_t at) {
    float v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

TEST(StlOutput, BinaryTrianglesWithNormalsAndNoHiddenFaces) {
    GU_Detail geo = makeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {5, 5, 5}},
                             {{0, 1, 2, 3}, {0, 4}, {4, 1, 0}});
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup(kHiddenGroupName), 2);
    const WrittenFile file = writeStl(geo, "out.stl");
    ASSERT_EQ(file.bytes.size(), 84u + 2 * 50);  // the quad as two triangles; nothing else
    EXPECT_EQ(u32At(file.bytes, 80), 2u);
    EXPECT_EQ(f32At(file.bytes, 84 + 8), 1.0f);  // normal +z
    // The second triangle of the fan is (0 0 0) (1 1 0) (0 1 0).
    EXPECT_EQ(f32At(file.bytes, 134 + 24), 1.0f);
    EXPECT_EQ(f32At(file.bytes, 134 + 36), 0.0f);
    EXPECT_EQ(f32At(file.bytes, 134 + 40), 1.0f);
    EXPECT_EQ(file.notes,
              (Notes{"out.stl: 1 primitive with fewer than 3 vertices left out",
                     "out.stl: 1 polygon with more than 3 vertices written as triangle fans"}));
}

TEST(PlyOutput, ReadsBackWithPointsFacesAndByteColours) {
    GU_Detail geo =
        makeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0.25f, 1, 0}}, {{0, 1, 2, 3}, {0, 2, 3}});
    setColour(geo, 0, 1, 0.5f, 0);
    setColour(geo, 1, 2, -1, 0.25f);
    const WrittenFile file = writePly(geo, "out.ply");
    GU_Detail back;
    readPly(file.bytes, "out.ply", back);
    ASSERT_EQ(back.pointCount(), 4);
    EXPECT_EQ(back.points()[3].x(), 0.25f);
    ASSERT_EQ(back.primitiveCount(), 2);
    EXPECT_EQ(back.primitives()(0)->vertexCount, 4u);
    EXPECT_EQ(colourOf(back, 0), (std::vector<float>{1, 128 / 255.0f, 0}));
    EXPECT_EQ(colourOf(back, 1), (std::vector<float>{1, 0, 64 / 255.0f}));
    EXPECT_EQ(file.notes, Notes{"out.ply: colours outside [0, 1] written clamped"});
}

// Regression: the writers followed every list element, and a host's list may hold holes.
TEST(ExchangeOutput, HolesInThePrimitiveListAreNoFaces) {
    GU_Detail geo = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {2, 1, 0}, {0, 2, 1}});
    HOST_Internals::makeHole(geo, 1);
    EXPECT_EQ(u32At(writeStl(geo, "out.stl").bytes, 80), 2u);
    GU_Detail back;
    readPly(writePly(geo, "out.ply").bytes, "out.ply", back);
    EXPECT_EQ(back.primitiveCount(), 2);
    readGltf(writeGltf(geo, {}, true, "out.glb").bytes, "out.glb", back);
    EXPECT_EQ(back.primitiveCount(), 2);
    read3mf(write3mf(geo, {}, "out.3mf").bytes, "out.3mf", back);
    EXPECT_EQ(back.primitiveCount(), 2);
}

TEST(SafeFileName, UnsafeNamesChangeAndSafeOnesStay) {
    const struct {
        std::string group;
        std::string file;
    } cases[] = {
        {"roof", "roof"},
        {"two words", "two words"},
        {"a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
        {".hidden", "_hidden"},
        {"..", "__"},
        {"trailing. ", "trailing._"},
        {"con", "_con"},
        {"LPT1", "_LPT1"},
        {"COM10", "COM10"},
        // Device names stay reserved with any extension after them.
        {"aux.txt", "_aux.txt"},
        {"Con.stl", "_Con.stl"},
        {"nul.tar.gz", "_nul.tar.gz"},
        {"LPT1.x", "_LPT1.x"},
        {"auxiliary.txt", "auxiliary.txt"},
        {" a", "_a"},
        {std::string("tab\there", 8), "tab_here"},
        {"d\xC3\xA4nisch", "d\xC3\xA4nisch"},
        {std::string(199, 'x') + "\xC3\xA4", std::string(199, 'x')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(safeFileName(c.group), c.file) << c.group;
}

class SplitFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/hueslice_split_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::set<std::string> files(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }

    // Splits `geo` into a folder per split format; gives (format, folder) for each format the
    // program reads back.
    std::vector<std::pair<std::string, std::string>> splitInEveryFormat(const GU_Detail& geo) {
        std::vector<std::pair<std::string, std::string>> readable;
        for (const std::string& format : extensions(FormatUse::split)) {
            const std::string folder = (dir / format).string();
            OutputBatch batch;
            stageSplit(batch, folder, format, geo, {});
            batch.commit();
            if (formatOf("part." + format)->read)
                readable.emplace_back(format, folder);
        }
        return readable;
    }

    fs::path dir;
};

TEST_F(SplitFolder, OneFilePerGroupWithSafeUniqueNamesAndTheFacesInNoGroup) {
    GU_Detail geo = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}},
                             {{0, 1, 2}, {1, 3, 2}, {0, 1, 3}, {0, 3, 2}, {2, 1, 0}, {1, 2, 3}});
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("a/b"), 0);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("a_b"), 1);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("ungrouped"), 2);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("Ungrouped"), 3);
    geo.primitiveGroups().newGroup("empty");
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup(kHiddenGroupName), 5);
    const std::string folder = (dir / "parts").string();
    OutputBatch batch;
    const Notes notes = stageSplit(batch, folder, "stl", geo, {});
    batch.commit();
    // Names compare without case, as some file systems do.
    EXPECT_EQ(files(folder), (std::set<std::string>{"a_b.stl", "a_b_2.stl", "ungrouped.stl",
                                                    "Ungrouped_2.stl", "ungrouped_3.stl"}));
    EXPECT_EQ(notes, (Notes{folder + ": group 'a/b' written as 'a_b_2.stl'",
                            folder + ": group 'Ungrouped' written as 'Ungrouped_2.stl'",
                            folder + ": faces in no group written as 'ungrouped_3.stl'"}));
    // Each file holds its own faces: one triangle each.
    for (const std::string& name : files(folder))
        EXPECT_EQ(fs::file_size(fs::path(folder) / name), 134u) << name;
}

TEST_F(SplitFolder, EveryFormatReadsBackWhereTheProgramReadsIt) {
    GU_Detail geo = makeSquare();
    setColour(geo, 0, 1, 0, 0);
    setColour(geo, 1, 0, 0, 1);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("red"), 0);
    for (const auto& [format, folder] : splitInEveryFormat(geo)) {
        SCOPED_TRACE(format);
        GU_Detail red;
        readGeometryFile(folder + "/red." + format, red);
        EXPECT_EQ(red.primitiveCount(), 1);
        EXPECT_EQ(colourOf(red, 0), (std::vector<float>{1, 0, 0}));
        GU_Detail rest;
        readGeometryFile(folder + "/ungrouped." + format, rest);
        EXPECT_EQ(colourOf(rest, 0), (std::vector<float>{0, 0, 1}));
    }
}

// Some slicers refuse polygons; and a name with a leading blank once gave an OBJ's MTL the same
// name as another group's, failing the run.
TEST_F(SplitFolder, EveryFormatHoldsTrianglesAndBlankLedNamesGetTheirOwnFiles) {
    GU_Detail geo = makeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 2, 0}},
                             {{0, 1, 2, 3}, {0, 1, 2, 4, 3}});
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup(" a"), 0);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("_a"), 1);
    for (const auto& [format, folder] : splitInEveryFormat(geo)) {
        SCOPED_TRACE(format);
        for (const auto& [file, triangles] : {std::pair{"/_a_2.", 2}, std::pair{"/_a.", 3}}) {
            GU_Detail part;
            readGeometryFile(folder + file + format, part);
            ASSERT_EQ(part.primitiveCount(), triangles) << file;
            for (long long p = 0; p < triangles; ++p)
                EXPECT_EQ(part.primitives()(p)->vertexCount, 3u);
        }
    }
}

// STL parts are written straight from the whole detail: each file must hold what the part
// written alone as a detail of its own gives, fans, hidden faces and shared faces included.
TEST_F(SplitFolder, StlFilesAreTheirPartsWrittenAlone) {
    GU_Detail geo =
        makeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5f, 2, 1}},
                 {{0, 1, 2, 3}, {0, 4}, {4, 1, 0}, {1, 3, 2}, {0, 1, 2, 4, 3}, {2, 3, 4}});
    setColour(geo, 0, 1, 0, 0);
    for (unsigned p : {0u, 2u, 4u})
        HOST_Internals::addMember(
            *geo.primitiveGroups().newGroup(("g" + std::to_string(p)).c_str()), p);
    HOST_Internals::addMember(*geo.primitiveGroups().find("g2"), 4);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup(kHiddenGroupName), 3);
    const std::string folder = (dir / "parts").string();
    OutputBatch batch;
    stageSplit(batch, folder, "stl", geo, {});
    batch.commit();
    const detail::PartPlan plan = detail::planParts(geo, {}, folder);
    ASSERT_EQ(plan.parts.size(), 4u);
    std::vector<unsigned> scratch;
    for (const detail::Part& part : plan.parts) {
        const std::string name = (part.name.empty() ? "ungrouped" : part.name) + ".stl";
        const GU_Detail alone = detail::partDetail(geo, part, plan.colourOffset, scratch);
        std::ifstream in(fs::path(folder) / name, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(bytes, writeStl(alone, name).bytes) << name;
    }
}

TEST_F(SplitFolder, UnknownFormatAndAFileInTheWayAreOutputErrors) {
    OutputBatch batch;
    std::ofstream(dir / "file") << "x";
    EXPECT_EQ(
        inputErrorOf([&] { stageSplit(batch, (dir / "x").string(), "dxf", makeSquare(), {}); }),
        (dir / "x").string() + ": unknown split format 'dxf' (expected stl, ply, obj, 3mf or glb)");
    EXPECT_EQ(
        inputErrorOf([&] { stageSplit(batch, (dir / "file").string(), "stl", makeSquare(), {}); }),
        (dir / "file").string() + ": cannot write files here: it is not a folder");
}

// The byte that the PLY and 3MF writers store for a colour component.
TEST(ColourByte, RoundsToTheNearestByteAndClampsWhatFormatsCannotHold) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, int> cases[] = {{0.0f, 0},
                                           {-0.0f, 0},
                                           {1.0f, 255},
                                           {0.5f, 128},
                                           {127.49f / 255, 127},
                                           {-0.25f, 0},
                                           {1.5f, 255},
                                           {inf, 255},
                                           {-inf, 0},
                                           {std::numeric_limits<float>::quiet_NaN(), 0}};
    for (const auto& [value, byte] : cases)
        EXPECT_EQ(detail::colourByte(value), byte) << value;
}

}  // namespace
}  // namespace hueslice::io
