// glTF from strangers: hostile layouts refused in one line naming the file, files a model names
// found only inside its own folder tree, and models that yield no face noted.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "io/formats/gltf/gltf.h"
#include "io/io.h"
#include "support/package_files.h"
#include "test_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using namespace testing;
using package_files::base64;
using package_files::bytesOf;
using package_files::glbOf;

// One triangle: three float points then three uint16 indices (padded).
std::string triangleBytes() {
    return bytesOf(std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}) +
           bytesOf(std::vector<std::uint16_t>{0, 1, 2, 0});
}

// A glTF with one mesh "m" of one triangle whose buffer is `uri` (empty: the GLB's own), and
// `rest` after the other top-level members.
std::string model(const std::string& uri, const std::string& rest = "",
                  const std::string& meshes =
                      R"([{"name": "m", "primitives": [)"
                      R"({"attributes": {"POSITION": 0}, "indices": 1}]}])") {
    return R"({"asset": {"version": "2.0"}, "buffers": [{"byteLength": 44)" +
           (uri.empty() ? "" : R"(, "uri": ")" + uri + "\"") +
           R"(}], "bufferViews": [{"buffer": 0, "byteLength": 36},)"
           R"( {"buffer": 0, "byteOffset": 36, "byteLength": 6}],)"
           R"( "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3"},)"
           R"( {"bufferView": 1, "componentType": 5123, "count": 3, "type": "SCALAR"}],)"
           R"( "meshes": )" +
           meshes + rest + "}";
}

std::string embedded(const std::string& rest = "") {
    return model("data:application/octet-stream;base64," + base64(triangleBytes()), rest);
}

std::string withU32(std::string bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

TEST(GltfHostile, RefusedInOneLineNamingThePlace) {
    const std::string glb = glbOf(model(""), triangleBytes());
    const std::size_t binAt = glb.size() - 44 - 8;  // the BIN chunk's header
    const std::string deep = embedded(R"(, "extras": )" + std::string(100000, '['));
    const std::string scene = R"(, "nodes": [{"mesh": 0}], "scenes": [{"nodes": [0]}])";
    const struct {
        const char* label;
        std::string bytes;
        std::string error;
    } cases[] = {
        {"BIN chunk past the end", withU32(glb, binAt, 48),
         "in.gltf: byte " + std::to_string(binAt) +
             ": a chunk of 48 bytes runs past the end of the file's " + std::to_string(glb.size()) +
             " bytes"},
        {"header length past the end", withU32(glb, 8, static_cast<std::uint32_t>(glb.size() + 4)),
         "in.gltf: byte 8: the header gives a length of " + std::to_string(glb.size() + 4) +
             " bytes but the file has " + std::to_string(glb.size())},
        {"binary glTF 1.0", withU32(glb, 4, 1), "in.gltf: glTF 1.0 is not supported"},
        {"glTF 1.0 text", R"({"asset": {"version": "1.0"}, "meshes": {"m": {"primitives": []}}})",
         "in.gltf: glTF 1.0 is not supported"},
        {"glTF 1.0 without asset", R"({"meshes": {"m": {"primitives": []}}})",
         "in.gltf: glTF 1.0 is not supported"},
        {"deep extras", deep,
         "in.gltf: byte " + std::to_string(deep.find("[[[") + 511) +
             ": arrays and objects nest deeper than 512"},
        {"default scene missing", embedded(scene + R"(, "scene": 1)"),
         "in.gltf: the default scene is scene 1 but there is 1 scene"},
        {"scene 0 of none", embedded(R"(, "scene": 0)"),
         "in.gltf: the default scene is scene 0 but there are 0 scenes"},
        {"NUL in a node name",
         embedded(R"(, "nodes": [{"name": "a\u0000b", "mesh": 0}], "scenes": [{"nodes": [0]}])"),
         "in.gltf: the node or mesh name \"a\\x00b\" holds a NUL character"},
        {"nested scales overflow",
         embedded(R"(, "nodes": [{"scale": [1e200, 1, 1], "children": [1]}, {"name": "in",)"
                  R"( "scale": [1e200, 1, 1], "mesh": 0}], "scenes": [{"nodes": [0]}])"),
         "in.gltf: node 1 'in' has a transform that is not finite once its parents' are "
         "applied"},
        {"translation past float",
         embedded(R"(, "nodes": [{"translation": [1e39, 0, 0], "mesh": 0}],)"
                  R"( "scenes": [{"nodes": [0]}])"),
         "in.gltf: mesh 0 primitive 0 position 0 is out of range once placed by node 0"},
        {"NaN position",
         model("data:application/octet-stream;base64," +
               base64(bytesOf(std::vector<float>{NAN, 0, 0, 1, 0, 0, 0, 1, 0}) +
                      triangleBytes().substr(36))),
         "in.gltf: mesh 0 primitive 0 position 0 is out of range once placed"},
        {"external file from memory", model("mesh.bin"),
         "in.gltf: cannot read gltf: File not found : mesh.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        GU_Detail out = makeSquare();
        EXPECT_EQ(inputErrorOf([&] { readGltf(c.bytes, "in.gltf", out); }), c.error);
        EXPECT_EQ(out.primitiveCount(), 2);
    }
}

TEST(GltfHostile, DepthCountsOnlyOpenArraysAndObjectsOutsideStrings) {
    // 512 levels in all (the top object and 511 arrays), then as many again after closing them,
    // and brackets inside a string behind an escaped quote.
    const std::string nested = std::string(511, '[') + std::string(511, ']');
    const std::string inString = "\"\\\"" + std::string(600, '[') + "\"";
    GU_Detail out;
    readGltf(embedded(R"(, "extras": [)" + inString + "], \"a\": " + nested + ", \"b\": " + nested),
             "in.gltf", out);
    EXPECT_EQ(out.primitiveCount(), 1);
}

TEST(GltfHostile, ParseErrorQuotingBadAllocTakenForOutOfMemory) {
    GU_Detail out;
    EXPECT_THROW(readGltf(R"({"acs[rgbad_alloc)", "in.gltf", out), InputError);
}

TEST(GltfHostile, ModelsWithoutFacesAreNoted) {
    const auto noUri = [](const std::string& meshes) {
        return model("data:application/octet-stream;base64," + base64(triangleBytes()), "", meshes);
    };
    const struct {
        const char* label;
        std::string json;
        std::string why;
    } cases[] = {
        {"scene without nodes", embedded(R"(, "scenes": [{"nodes": []}])"),
         "its scene holds no node"},
        {"primitives an object", noUri(R"([{"primitives": {}}])"),
         "no mesh placed holds a triangle"},
        {"mesh without primitives", noUri(R"([{"primitives": []}])"),
         "no mesh placed holds a triangle"},
        {"no meshes", noUri("[]"), "the file holds no mesh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        GU_Detail out;
        const Notes notes = readGltf(c.json, "in.gltf", out);
        EXPECT_EQ(out.primitiveCount(), 0);
        EXPECT_EQ(notes, Notes{"in.gltf: no faces were read (" + c.why +
                               "), so there is nothing to group"});
    }
}

// Files a .gltf names lie in its folder tree and are regular files; nothing else is read.
TEST(GltfHostile, NamedFilesStayInsideTheModelsFolder) {
    const std::string root = makeFolder();
    const std::string dir = root + "/model";
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir + "/folder.bin").c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo((dir + "/fifo.bin").c_str(), 0600), 0);
    writeFile(dir + "/sub/mesh.bin", triangleBytes());
    writeFile(root + "/above.bin", triangleBytes());
    writeFile(root + "/current.bin", triangleBytes());
    const std::string path = dir + "/in.gltf";
    const struct {
        std::string uri;
        std::string error;  // empty: read
    } cases[] = {
        {"sub/mesh.bin", ""},
        {"sub/%6Desh.bin", ""},
        {root + "/above.bin",
         "external file \"" + root + "/above.bin\": absolute paths are not followed"},
        {"../above.bin", "external file \"../above.bin\": leads out of the model's folder"},
        {"file:sub/mesh.bin",
         "external file \"file:sub/mesh.bin\": only relative file names are followed"},
        {"fifo.bin", dir + "/fifo.bin: cannot read file: not a regular file"},
        {"folder.bin", dir + "/folder.bin: cannot read file: Is a directory"},
        {"current.bin", "cannot read gltf: File not found : current.bin"},
    };
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(root.c_str()), 0);  // where a missing file must not be looked for
    GU_Detail fromMemory;
    EXPECT_EQ(inputErrorOf([&] { readGltf(model("current.bin"), "in.gltf", fromMemory); }),
              "in.gltf: cannot read gltf: File not found : current.bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uri);
        writeFile(path, model(c.uri));
        GU_Detail out;
        const std::string error = inputErrorOf([&] { readGltfFile(path, out, {}, nullptr); });
        EXPECT_EQ(error, c.error.empty() ? "no error" : path + ": " + c.error);
        EXPECT_EQ(out.primitiveCount(), c.error.empty() ? 1 : 0);
    }
    // An image is held to the same rule, though it is never decoded.
    writeFile(path, model("sub/mesh.bin", R"(, "images": [{"uri": "/etc/hostname"}])"));
    GU_Detail out;
    EXPECT_EQ(inputErrorOf([&] { readGltfFile(path, out, {}, nullptr); }),
              path + ": external file \"/etc/hostname\": absolute paths are not followed");
    ASSERT_EQ(::chdir(previous), 0);
}

}  // namespace
}  // namespace hueslice::io
