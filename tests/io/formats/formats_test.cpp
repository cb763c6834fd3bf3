#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "io/commit/output_batch.h"
#include "io/formats/formats.h"
#include "io/formats/json/json_geometry.h"
#include "io/formats/obj/obj.h"
#include "io/internal.h"
#include "io/io.h"
#include "test_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using testing::contentOf;
using testing::entriesIn;
using testing::makeFolder;

TEST(GeometryFiles, ObjAndMtlAreWrittenBesideEachOtherAndReadBack) {
    const std::string folder = makeFolder();
    GU_Detail geo = testing::makeSquare();
    testing::setColour(geo, 0, 0.25f, 0.5f, 1.0f);
    EXPECT_TRUE(writeGeometryFile(folder + "/m.obj", geo).empty());
    EXPECT_EQ(entriesIn(folder), 2u);
    GU_Detail back;
    EXPECT_TRUE(readGeometryFile(folder + "/m.obj", back).empty());
    EXPECT_EQ(testing::colourOf(back, 0), (std::vector<float>{0.25f, 0.5f, 1.0f}));
    EXPECT_EQ(testing::colourOf(back, 1), (std::vector<float>{0.0f, 0.0f, 0.0f}));
}

// Geometry files are made while the batch commits; a detail staged and then changed or gone
// must still be written as it was when staged.
TEST(GeometryFiles, AStagedFileIsWrittenAsItsDetailWasWhenStaged) {
    const std::string folder = makeFolder();
    GU_Detail reference = testing::makeSquare();
    testing::setColour(reference, 0, 0.25f, 0.5f, 1.0f);
    HOST_Internals::addMember(*reference.primitiveGroups().newGroup("g", 0), 1);
    OutputBatch batch;
    {
        GU_Detail staged = reference;
        for (const char* name : {"/m.json", "/m.obj"})
            stageGeometryFile(batch, folder + name, staged);
        testing::setColour(staged, 0, 9, 9, 9);  // changed after staging, then gone
    }
    batch.commit();
    std::ifstream json(folder + "/m.json"), obj(folder + "/m.obj"), mtl(folder + "/m.mtl");
    const auto text = [](std::ifstream& in) {
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(text(json), writeJsonGeometry(reference, folder + "/m.json"));
    const ObjText expected = writeObj(reference, "m.mtl", folder + "/m.obj");
    EXPECT_EQ(text(obj), expected.obj);
    EXPECT_EQ(text(mtl), expected.mtl);
}

// Output names whose material library an `mtllib` line could name only with care.
class ObjOutputNames : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(ObjOutputNames, TheMaterialLibraryReadsBack) {
    const std::string folder = makeFolder();
    GU_Detail geo = testing::makeSquare();
    testing::setColour(geo, 0, 0.25f, 0.5f, 1.0f);
    const std::string path = folder + "/" + GetParam().first;
    const Notes warnings = writeGeometryFile(path, geo);
    const std::string& name = GetParam().first;
    const bool renamed = name.substr(0, name.size() - 4) + ".mtl" != GetParam().second;
    EXPECT_EQ(warnings.size(), renamed ? 1u : 0u);
    EXPECT_EQ(contentOf(folder + "/" + GetParam().second).rfind("newmtl", 0), 0u);
    GU_Detail back;
    EXPECT_TRUE(readGeometryFile(path, back).empty());
    EXPECT_EQ(testing::colourOf(back, 0), (std::vector<float>{0.25f, 0.5f, 1.0f}));
}

INSTANTIATE_TEST_SUITE_P(Names, ObjOutputNames,
                         ::testing::Values(std::make_pair("my model.obj", "my model.mtl"),
                                           std::make_pair("a  b\tc.obj", "a  b\tc.mtl"),
                                           std::make_pair(" lead.obj", "_lead.mtl"),
                                           std::make_pair("two\nlines.obj", "two_lines.mtl"),
                                           std::make_pair("#hash.obj", "#hash.mtl")));

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Every format of the table, chosen by an extension in any case: the file written starts as its
// format does, and the formats that are also read give the faces and their colours back.
TEST(FormatTable, EveryFormatIsWrittenAsItselfAndReadBack) {
    const std::map<std::string, std::string> starts = {
        {"json", "{"}, {"stl", "binary STL"}, {"ply", "ply\n"}, {"obj", "mtllib m.mtl\n"},
        {"3mf", "PK"}, {"gltf", "{"},         {"glb", "glTF"},  {"svg", "<?xml"}};
    const std::string folder = makeFolder();
    // Faces in no group keep their own colours: black beside each primary colour, so that a
    // writer that tells colours apart by fewer than all three channels merges two of them.
    const std::vector<std::vector<float>> colours = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
    GU_Detail geo = testing::makeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}},
                                      {{0, 1, 2}, {0, 2, 3}, {1, 4, 2}, {3, 2, 4}});
    for (std::size_t f = 0; f < colours.size(); ++f) {
        const auto& c = colours[f];
        testing::setColour(geo, static_cast<long long>(f), c[0], c[1], c[2]);
    }
    ASSERT_EQ(formats().size(), starts.size());
    for (const Format& format : formats()) {
        const std::string path = folder + "/m." + upper(format.extension);
        SCOPED_TRACE(path);
        writeGeometryFile(path, geo);
        EXPECT_EQ(contentOf(path).rfind(starts.at(format.extension), 0), 0u);
        if (!format.read)
            continue;
        GU_Detail back;
        readGeometryFile(path, back);
        ASSERT_EQ(back.primitiveCount(), 4);
        for (std::size_t f = 0; f < colours.size(); ++f)
            EXPECT_EQ(testing::colourOf(back, static_cast<long long>(f)), colours[f]) << f;
    }
}

// The formats that store colour bytes: a component they cannot hold becomes the nearest byte,
// NaN the byte 0, on the face it belongs to.
TEST(FormatTable, ColourBytesOutOfRangeAreClampedAndNaNIsZero) {
    const std::string folder = makeFolder();
    GU_Detail geo = testing::makeSquare();
    testing::setColour(geo, 0, std::numeric_limits<float>::quiet_NaN(), 0.5f, 2.0f);
    testing::setColour(geo, 1, -1.0f, 1.0f, std::numeric_limits<float>::quiet_NaN());
    for (const char* extension : {"ply", "3mf"}) {
        const std::string path = folder + "/m." + extension;
        SCOPED_TRACE(path);
        writeGeometryFile(path, geo);
        GU_Detail back;
        readGeometryFile(path, back);
        ASSERT_EQ(back.primitiveCount(), 2);
        EXPECT_EQ(testing::colourOf(back, 0), (std::vector<float>{0, 128 / 255.0f, 1}));
        EXPECT_EQ(testing::colourOf(back, 1), (std::vector<float>{0, 1, 0}));
    }
}

// How the table and the writers take a path apart: the extension is the last component's,
// whatever dots its folders hold.
TEST(FormatTable, PathsAreTakenApartByTheirLastComponent) {
    struct Case {
        const char *path, *folder, *base, *extension, *stem;
    };
    const Case cases[] = {{"m.obj", ".", "m.obj", "obj", "m"},
                          {"a/b/M.OBJ", "a/b", "M.OBJ", "obj", "a/b/M"},
                          {"/m.ply", "/", "m.ply", "ply", "/m"},
                          {"a.d/m", "a.d", "m", "", "a.d/m"},
                          {"a/m.tar.gz", "a", "m.tar.gz", "gz", "a/m.tar"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(detail::folderOf(c.path), c.folder);
        EXPECT_EQ(detail::baseOf(c.path), c.base);
        EXPECT_EQ(detail::extensionOf(c.path), c.extension);
        EXPECT_EQ(detail::stemPath(c.path), c.stem);
    }
}

TEST(FormatTable, ListsAndMessagesNameTheTablesFormats) {
    EXPECT_EQ(extensionList(FormatUse::read), ".json, .ply, .obj, .3mf, .gltf or .glb");
    EXPECT_EQ(extensionList(FormatUse::write),
              ".json, .stl, .ply, .obj, .3mf, .gltf, .glb or .svg");
    EXPECT_EQ(extensionList(FormatUse::split, false), "stl, ply, obj, 3mf or glb");
    EXPECT_EQ(defaultSplitFormat(), "stl");
    GU_Detail geo;
    for (const char* path : {"m.stl", "m.svg", "m", "m.obj.txt"}) {
        EXPECT_EQ(testing::inputErrorOf([&] { readGeometryFile(path, geo); }),
                  std::string(path) + ": unknown file type (expected " +
                      extensionList(FormatUse::read) + ")");
    }
    OutputBatch batch;
    EXPECT_EQ(testing::inputErrorOf([&] { stageGeometryFile(batch, "m.dxf", geo); }),
              "m.dxf: unknown file type (expected " + extensionList(FormatUse::write) + ")");
}

// What a writer has to say reaches whoever stages its file through the table.
TEST(FormatTable, EveryWritersNotesReachTheCaller) {
    GU_Detail geo = testing::makeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
    testing::setColour(geo, 0, 2, 0, 0);
    const std::string fans = "1 polygon with more than 3 vertices written as triangle fans";
    const std::map<std::string, std::string> notes = {
        {"stl", fans},
        {"3mf", fans},
        {"gltf", fans},
        {"glb", fans},
        {"ply", "colours outside [0, 1] written clamped"}};
    for (const auto& [extension, note] : notes) {
        OutputBatch batch;
        const Notes got = stageGeometryFile(batch, "m." + extension, geo);
        EXPECT_NE(std::find(got.begin(), got.end(), "m." + extension + ": " + note), got.end())
            << extension;
    }
}

TEST(FormatTable, OnlyAnObjOutputHasACompanion) {
    using Files = std::vector<std::string>;
    EXPECT_EQ(geometryOutputFiles("a/m.obj"), (Files{"a/m.obj", "a/m.mtl"}));
    EXPECT_EQ(geometryOutputFiles("M.OBJ"), (Files{"M.OBJ", "M.mtl"}));
    for (const char* path : {"m.ply", "m.glb", "m.json", "-", "obj"})
        EXPECT_EQ(geometryOutputFiles(path), Files{path});
}

}  // namespace
}  // namespace hueslice::io
