#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "io/commit/output_batch.h"
#include "io/formats/formats.h"
#include "io/formats/json/json_geometry.h"
#include "io/formats/obj/obj.h"
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

}  // namespace
}  // namespace hueslice::io
