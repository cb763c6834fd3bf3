// Every kind of mesh file we write, read back by an independent library (assimp), so that a
// fault our readers share with our writers still shows: the triangle count, the groups where
// the format carries them, and the colours where assimp reads them.

#include <gtest/gtest.h>

#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include <HOST_Internals.h>

#include "io/formats/formats.h"
#include "test_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using namespace testing;
using Rgb = std::array<int, 3>;  // bytes, so that colours compare after 8-bit storage

// Six triangles: "reds" holds two red ones, "greens" one green one; a blue triangle and a
// yellow quad (two triangles once split) are in no group.
GU_Detail sample() {
    GU_Detail geo = makeMesh(
        {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 0, 0}, {2, 1, 0}, {3, 0, 0}, {3, 1, 0}},
        {{0, 1, 2}, {1, 3, 2}, {1, 4, 3}, {4, 5, 3}, {4, 6, 7, 5}});
    const float colours[5][3] = {{1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}, {1, 1, 0}};
    for (int f = 0; f < 5; ++f)
        setColour(geo, f, colours[f][0], colours[f][1], colours[f][2]);
    GB_PrimitiveGroup* reds = geo.primitiveGroups().newGroup("reds");
    HOST_Internals::addMember(*reds, 0);
    HOST_Internals::addMember(*reds, 2);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("greens"), 1);
    return geo;
}

int byte(float value) {
    return static_cast<int>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
}

// A face's colour as assimp gives it: the first corner's vertex colour, if any, times the
// material's base colour (else its diffuse colour), if any.
Rgb colourOf(const aiScene& scene, const aiMesh& mesh, const aiFace& face) {
    aiColor4D colour(1, 1, 1, 1);
    if (mesh.HasVertexColors(0))
        colour = mesh.mColors[0][face.mIndices[0]];
    const aiMaterial* material = scene.mMaterials[mesh.mMaterialIndex];
    aiColor4D own;
    if (aiGetMaterialColor(material, AI_MATKEY_BASE_COLOR, &own) == AI_SUCCESS ||
        aiGetMaterialColor(material, AI_MATKEY_COLOR_DIFFUSE, &own) == AI_SUCCESS) {
        colour.r *= own.r;
        colour.g *= own.g;
        colour.b *= own.b;
    }
    return {byte(colour.r), byte(colour.g), byte(colour.b)};
}

struct Format {
    const char* extension;
    bool groups;   // mesh names carry our groups
    bool colours;  // assimp reads the colours we write
};

void PrintTo(const Format& f, std::ostream* os) {
    *os << f.extension;
}

class IndependentReader : public ::testing::TestWithParam<Format> {};

TEST_P(IndependentReader, ReadsWhatWeWrite) {
    const Format& format = GetParam();
    const std::string path = makeFolder() + "/sample." + format.extension;
    writeGeometryFile(path, sample());

    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, aiProcess_Triangulate);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    std::map<std::string, int> trianglesByMesh;
    std::vector<Rgb> colours;
    int triangles = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh& mesh = *scene->mMeshes[m];
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            ASSERT_EQ(mesh.mFaces[f].mNumIndices, 3u);
            ++triangles;
            ++trianglesByMesh[mesh.mName.C_Str()];
            colours.push_back(colourOf(*scene, mesh, mesh.mFaces[f]));
        }
    }
    EXPECT_EQ(triangles, 6);
    if (format.groups) {
        EXPECT_EQ(trianglesByMesh["reds"], 2);
        EXPECT_EQ(trianglesByMesh["greens"], 1);
    }
    if (format.colours) {
        std::sort(colours.begin(), colours.end());
        const std::vector<Rgb> expected = {{0, 0, 255}, {0, 255, 0},   {255, 0, 0},
                                           {255, 0, 0}, {255, 255, 0}, {255, 255, 0}};
        EXPECT_EQ(colours, expected);
    }
}

// What assimp 5.2.5 (Debian's) reads of each. STL carries neither groups nor colours, and PLY no
// groups. assimp's PLY importer reads vertex colours only, so our face colours come back white
// there: its quirk, not ours (our own reader checks them). assimp 5.2.5 crashes on any ZIP64
// package, so the 3MF row holds our packages to plain ZIP; its 3MF importer leaves meshes
// unnamed and gives each object one material, so only the triangles are compared there.
INSTANTIATE_TEST_SUITE_P(Written, IndependentReader,
                         ::testing::Values(Format{"glb", true, true}, Format{"gltf", true, true},
                                           Format{"obj", true, true}, Format{"stl", false, false},
                                           Format{"ply", false, false},
                                           Format{"3mf", false, false}),
                         [](const auto& param) { return std::string(param.param.extension); });

}  // namespace
}  // namespace hueslice::io
