// glTF base-colour textures: a square of two triangles over a 4 x 4 texture whose quadrants are
// red (top left), blue, green and white, through every way a file gives coordinates, samplers,
// transforms and images.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "io/formats/gltf/gltf.h"
#include "io/io.h"
#include "support/image_files.h"
#include "support/package_files.h"
#include "test_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using namespace testing;
using package_files::base64;
using package_files::bytesOf;

// Points 0..3 at the square's corners; triangle 0 is (0, 1, 2), triangle 1 is (1, 3, 2).
// TEXCOORD_0 maps the square onto the texture, so triangle 0 is mostly red and triangle 1
// mostly white; TEXCOORD_1 mirrors u (blue, green); TEXCOORD_2 is TEXCOORD_0 moved one tile
// right. COLOR_0 is linear 0.5 grey everywhere.
std::string bufferBytes() {
    const std::vector<float> positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    const std::vector<std::uint16_t> indices = {0, 1, 2, 1, 3, 2};
    const std::vector<float> uv0 = {0, 0, 1, 0, 0, 1, 1, 1};
    const std::vector<float> uv1 = {1, 0, 0, 0, 1, 1, 0, 1};
    const std::vector<float> uv2 = {1, 0, 2, 0, 1, 1, 2, 1};
    const std::vector<float> grey(12, 0.5f);
    return bytesOf(positions) + bytesOf(indices) + bytesOf(uv0) + bytesOf(uv1) + bytesOf(uv2) +
           bytesOf(grey);
}

struct Model {
    std::string attributes = R"("TEXCOORD_0": 2)";
    std::string textureInfo = R"("index": 0)";
    std::string factor = "[1, 1, 1, 1]";
    std::string sampler;  // the texture's "sampler" member and the samplers, when not empty
    std::string image;    // the image object
    std::string bufferUri = "data:application/octet-stream;base64," + base64(bufferBytes());
    std::size_t bufferLength = 204;
    std::string imageView;  // an extra buffer view, for an image in the GLB's buffer

    std::string json() const {
        const std::string buffer = R"({"byteLength": )" + std::to_string(bufferLength) +
                                   (bufferUri.empty() ? "" : R"(, "uri": ")" + bufferUri + "\"") +
                                   "}";
        const auto view = [](int offset, int length) {
            return R"({"buffer": 0, "byteOffset": )" + std::to_string(offset) +
                   R"(, "byteLength": )" + std::to_string(length) + "}";
        };
        const auto accessor = [](int v, int type, int count, const char* kind) {
            return R"({"bufferView": )" + std::to_string(v) + R"(, "componentType": )" +
                   std::to_string(type) + R"(, "count": )" + std::to_string(count) +
                   R"(, "type": ")" + kind + "\"}";
        };
        return R"({"asset": {"version": "2.0"}, "buffers": [)" + buffer + R"(], "bufferViews": [)" +
               view(0, 48) + "," + view(48, 12) + "," + view(60, 32) + "," + view(92, 32) + "," +
               view(124, 32) + "," + view(156, 48) + imageView + R"(], "accessors": [)" +
               accessor(0, 5126, 4, "VEC3") + "," + accessor(1, 5123, 6, "SCALAR") + "," +
               accessor(2, 5126, 4, "VEC2") + "," + accessor(3, 5126, 4, "VEC2") + "," +
               accessor(4, 5126, 4, "VEC2") + "," + accessor(5, 5126, 4, "VEC3") +
               R"(], "meshes": [{"primitives": [{"attributes": {"POSITION": 0, )" + attributes +
               R"(}, "indices": 1, "material": 0}]}], "materials": [{"name": "paint",)"
               R"( "pbrMetallicRoughness": {"baseColorFactor": )" +
               factor + R"(, "baseColorTexture": {)" + textureInfo +
               R"(}}}], "textures": [{"source": 0)" +
               (sampler.empty() ? "}]" : ", \"sampler\": 0}], \"samplers\": [" + sampler + "]") +
               R"(, "images": [)" + image + "]}";
    }
};

std::string pngUri(const std::string& png = image_files::rgbPng(4, 4,
                                                                image_files::quadrantsRgb())) {
    return R"({"uri": "data:image/png;base64,)" + base64(png) + "\"}";
}

Model withImage(std::string image = pngUri()) {
    Model m;
    m.image = std::move(image);
    return m;
}

// A face's colour as bytes, for comparisons that allow a JPEG's small errors.
std::vector<int> bytesOfFace(const GU_Detail& geo, long long face) {
    std::vector<int> out;
    for (float c : colourOf(geo, face))
        out.push_back(static_cast<int>(std::lround(c * 255)));
    return out;
}

const std::vector<int> kRed{255, 0, 0}, kBlue{0, 0, 255}, kGreen{0, 255, 0}, kWhite{255, 255, 255};
const std::vector<int> kHalfRed{188, 0, 0};  // linear 0.5 x red, encoded
const std::vector<int> kHalfGrey{188, 188, 188};

TEST(GltfTextures, FacesTakeTheTextureColourTheirCoordinatesCover) {
    const std::string literal =
        R"("index": 0, "extensions": {"KHR_texture_transform":)"
        R"( {"offset": [0, 1], "rotation": 1.57079632679, "scale": [0.5, 0.5]}})";
    Model factor = withImage(), colours = withImage(), set1 = withImage(), transform = withImage(),
          override = withImage(), repeat = withImage(), mirror = withImage(), clamp = withImage(),
          jpeg = withImage(R"({"uri": "data:image/jpeg;base64,)" +
                           base64(image_files::jpegOf(4, 4, image_files::quadrantsRgb())) + "\"}");
    factor.factor = "[0.5, 1, 1, 1]";
    colours.attributes = R"("TEXCOORD_0": 2, "COLOR_0": 5)";
    set1.attributes = R"("TEXCOORD_0": 2, "TEXCOORD_1": 3)";
    set1.textureInfo = R"("index": 0, "texCoord": 1)";
    transform.textureInfo = literal;
    override.attributes = set1.attributes;
    override.textureInfo =
        R"("index": 0, "extensions": {"KHR_texture_transform": {"texCoord": 1}})";
    for (Model* m : {&repeat, &mirror, &clamp})
        m->attributes = R"("TEXCOORD_0": 4)";
    Model bare = withImage(),
          translucent = withImage(pngUri(
              image_files::pngOf({1, 1, 8, 6, std::string("\x10\x20\x30\x80", 4), "", "", false})));
    bare.attributes = R"("COLOR_0": 5)";
    mirror.sampler = R"({"wrapS": 33648, "wrapT": 33648})";
    Model clampT = withImage();  // moved one tile down: clamped to the bottom row
    clampT.textureInfo =
        R"("index": 0, "extensions": {"KHR_texture_transform": {"offset": [0, 1]}})";
    clampT.sampler = R"({"wrapS": 10497, "wrapT": 33071})";
    clamp.sampler = R"({"wrapS": 33071, "wrapT": 33071})";
    const struct {
        const char* what;
        Model model;
        std::vector<int> face0, face1;
        std::string note = "";  // the last note, when the case makes one
    } cases[] = {
        {"data URI PNG", withImage(), kRed, kWhite},
        {"no coordinates: the material's colour times COLOR_0", bare, kHalfGrey, kHalfGrey,
         "in.gltf: 2 faces of material 'paint' have no usable texture coordinates and keep the "
         "material's colour"},
        {"translucent",
         translucent,
         {16, 32, 48},
         {16, 32, 48},
         "in.gltf: image \"image 0\" is not opaque; its alpha is ignored and faces take its "
         "colour"},
        {"times the factor in linear light", factor, kHalfRed, {188, 255, 255}},
        {"times COLOR_0 in linear light", colours, kHalfRed, kHalfGrey},
        {"texCoord 1", set1, kBlue, kGreen},
        // The worked example: the lower-left quadrant, turned; read literally, the snippet would
        // turn the other way and land on the top-right (blue) quadrant.
        {"texture transform", transform, kGreen, kGreen},
        {"transform's texCoord override", override, kBlue, kGreen},
        {"repeat", repeat, kRed, kWhite},
        {"mirrored repeat", mirror, kBlue, kGreen},
        {"clamp to edge", clamp, kBlue, kWhite},
        {"each axis its own mode", clampT, kGreen, kWhite},
        {"JPEG", jpeg, kRed, kWhite},
    };
    for (const auto& c : cases) {
        GU_Detail geo;
        const Notes notes = readGltf(c.model.json(), "in.gltf", geo);
        ASSERT_EQ(geo.primitiveCount(), 2) << c.what;
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(bytesOfFace(geo, 0)[k], c.face0[k], 1) << c.what;
            EXPECT_NEAR(bytesOfFace(geo, 1)[k], c.face1[k], 1) << c.what;
        }
        if (!c.note.empty()) {
            ASSERT_FALSE(notes.empty()) << c.what;
            EXPECT_EQ(notes.back(), c.note) << c.what;
            continue;
        }
        for (const std::string& note : notes)
            EXPECT_EQ(note.find("texture"), std::string::npos) << c.what << ": " << note;
    }
}

TEST(GltfTextures, GlbImageInABufferView) {
    const std::string png = image_files::rgbPng(4, 4, image_files::quadrantsRgb());
    Model m = withImage(R"({"bufferView": 6, "mimeType": "image/png"})");
    m.bufferUri.clear();
    m.bufferLength = 204 + png.size();
    m.imageView =
        R"(, {"buffer": 0, "byteOffset": 204, "byteLength": )" + std::to_string(png.size()) + "}";
    GU_Detail geo;
    readGltf(package_files::glbOf(m.json(), bufferBytes() + png), "in.glb", geo);
    EXPECT_EQ(bytesOfFace(geo, 0), kRed);
    EXPECT_EQ(bytesOfFace(geo, 1), kWhite);
    // A palette's snapping sees the texels before any face votes.
    ReadOptions snapped;
    snapped.snapTexels = [](std::vector<std::uint8_t>& rgba) {
        for (std::size_t at = 0; at < rgba.size(); at += 4)
            rgba[at] = rgba[at + 2] = 0;
    };
    readGltf(package_files::glbOf(m.json(), bufferBytes() + png), "in.glb", geo, false, nullptr,
             snapped);
    EXPECT_EQ(bytesOfFace(geo, 0), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(bytesOfFace(geo, 1), kGreen);
}

TEST(GltfTextures, ImageFilesBesideTheModel) {
    const std::string folder = makeFolder();
    writeFile(folder + "/my tex.png", image_files::rgbPng(4, 4, image_files::quadrantsRgb()));
    const struct {
        const char* what;
        std::string uri;
        std::vector<int> face0;
        Notes notes;
    } cases[] = {
        {"escaped name", "my%20tex.png", kRed, {}},
        {"missing",
         "gone.png",
         {255, 255, 255},
         {folder + "/m.gltf: image \"gone.png\" is not there; the faces it colours keep their "
                   "material's colour"}},
    };
    for (const auto& c : cases) {
        writeFile(folder + "/m.gltf", withImage(R"({"uri": ")" + c.uri + "\"}").json());
        GU_Detail geo;
        const Notes notes = readGltfFile(folder + "/m.gltf", geo, {}, nullptr);
        EXPECT_EQ(bytesOfFace(geo, 0), c.face0) << c.what;
        EXPECT_EQ(notes, c.notes) << c.what;
    }
}

TEST(GltfTextures, BadImagesAndReferencesAreRefused) {
    const std::string png = image_files::rgbPng(4, 4, image_files::quadrantsRgb());
    Model outside = withImage(R"({"uri": "../secret.png"})");
    Model noSampler = withImage();
    noSampler.sampler = "{}";
    noSampler.textureInfo = R"("index": 3)";
    const struct {
        const char* what;
        Model model;
        std::string message;
    } cases[] = {
        {"truncated", withImage(pngUri(png.substr(0, 40))),
         "in.gltf: image \"image 0\": corrupt PNG: truncated"},
        {"texture out of range", noSampler,
         "in.gltf: material 0 uses texture 3 but there is 1 texture"},
    };
    for (const auto& c : cases) {
        GU_Detail geo;
        EXPECT_EQ(inputErrorOf([&] { readGltf(c.model.json(), "in.gltf", geo); }), c.message)
            << c.what;
    }
    const std::string folder = makeFolder();
    writeFile(folder + "/m.gltf", outside.json());
    GU_Detail geo;
    EXPECT_NE(inputErrorOf([&] {
                  readGltfFile(folder + "/m.gltf", geo, {}, nullptr);
              }).find("\"../secret.png\": leads out of the model's folder"),
              std::string::npos);
}

}  // namespace
}  // namespace hueslice::io
