// Debian's textured sample models (package assimp-testmodels), read as a user reads them: the
// glTF box in all three encodings, the OBJ spider with its JPEG textures, and the texture
// transform test model. Skipped with a message when the package is not installed.

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_harness.h"

namespace {

using cli_testing::CliTest;

const std::string kModels = "/usr/share/assimp/models/";

struct SampleCase {
    const char* label;
    std::string path;                   // under kModels
    std::vector<std::string> expected;  // lines `info` prints
};

void PrintTo(const SampleCase& c, std::ostream* os) {
    *os << c.label;
}

class SampleModels : public CliTest, public ::testing::WithParamInterface<SampleCase> {};

TEST_P(SampleModels, EveryFaceTakesItsTextureColour) {
    const std::string path = kModels + GetParam().path;
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << path << " is missing: install assimp-testmodels (scripts/install-deps)";
    const auto r = run({"info", path});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& line : GetParam().expected)
        EXPECT_NE(r.out.find(line + "\n"), std::string::npos) << line << "\n" << r.out;
}

// The box's Cesium logo: six faces in its green, six in its blue, whichever way the image comes.
const std::vector<std::string> kBox = {
    "  faces coloured from textures: 12",
    "  1  colour 0.36078432 0.5294118 0.15294118  key 92 135 39  faces 6",
    "  2  colour 0.42352942 0.6784314 0.8745098  key 108 173 223  faces 6"};

INSTANTIATE_TEST_SUITE_P(
    Debian, SampleModels,
    ::testing::Values(
        SampleCase{"BoxGlb", "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", kBox},
        SampleCase{"BoxGltfWithImageFile",
                   "glTF2/BoxTextured-glTF/BoxTextured.gltf",
                   {kBox[0], kBox[1], kBox[2],
                    "  texture of material 'Texture': image \"CesiumLogoFlat.png\", 211 x 211, "
                    "12 faces"}},
        SampleCase{"BoxGltfEmbedded", "glTF2/BoxTextured-glTF-Embedded/BoxTextured.gltf", kBox},
        SampleCase{"SpiderObj",
                   "OBJ/spider.obj",
                   {"  faces coloured from textures: 1368",
                    "  texture of material 'HLeibTex': image \"./SpiderTex.jpg\", 249 x 250, 80 "
                    "faces",
                    "  texture of material 'BeinTex': image \"./drkwood2.jpg\", 768 x 768, 952 "
                    "faces"}},
        SampleCase{"TextureTransformTest",
                   "glTF2/textureTransform/TextureTransformTest.gltf",
                   {"  faces coloured from textures: 24",
                    "  texture of material 'Rotation': image \"Arrow.png\", 128 x 128, 2 faces"}}),
    [](const ::testing::TestParamInfo<SampleCase>& p) { return p.param.label; });

}  // namespace
