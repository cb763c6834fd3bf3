// Writes the seed corpora of the fuzz targets: fuzz_seeds OUTPUT_DIR makes OUTPUT_DIR/<target>/
// with a few small valid inputs each, built through the project's own writers where there are
// some, so that the fuzzers start from inputs that reach deep into the readers and the node.

#include <HOST_Internals.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <HOST_Session.h>
#include <PRM.h>
#include <io/formats/3mf/3mf.h>
#include <io/formats/gltf/gltf.h>
#include <io/formats/json/json_geometry.h>
#include <io/formats/obj/obj.h>
#include <io/io.h>
#include <io/scene/scene.h>
#include <parms/parm_templates.h>
#include <sop/SOP_Hueslice.h>
#include <support/package_files.h>
#include <tests/support/image_files.h>

namespace {

namespace fs = std::filesystem;

void writeSeed(const fs::path& dir, const std::string& name, const std::string& bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
}

// A row of triangles, each with its own colour from `colours`, in "Cd" or in a layer's "Cd<n>",
// with a group holding every other primitive.
GU_Detail colouredRow(const std::vector<std::vector<float>>& colours, int layer = 1) {
    GU_Detail detail;
    std::string attribute = "Cd";
    if (layer != 1) {
        const int offset = detail.addDetailAttrib("currentlayer", 4, GB_ATTRIB_INT);
        const std::int32_t value = layer;
        std::memcpy(detail.detailAttribData() + offset, &value, sizeof value);
        attribute += std::to_string(layer);
    }
    const int offset = detail.addPrimitiveAttrib(attribute.c_str(), 12, GB_ATTRIB_FLOAT);
    GB_PrimitiveGroup* group = detail.primitiveGroups().newGroup("odd");
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const auto base = static_cast<unsigned>(detail.pointCount());
        const float x = static_cast<float>(i);
        detail.appendPoint(UT_Vector3(x, 0, 0));
        detail.appendPoint(UT_Vector3(x + 1, 0, 0));
        detail.appendPoint(UT_Vector3(x, 1, 0.5f));
        const unsigned tri[3] = {base, base + 1, base + 2};
        const long long prim = detail.appendPrimitive(tri, 3);
        std::memcpy(detail.primitiveAttribData(prim) + offset, colours[i].data(), 12);
        if (i % 2 == 1)
            HOST_Internals::addMember(*group, static_cast<unsigned>(prim));
    }
    return detail;
}

bool hostIsLittle() {
    const std::uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

const std::vector<std::vector<float>> kColours = {
    {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}, {0.5f, 0.5f, 0.5f}};

void plySeeds(const fs::path& dir) {
    const std::string header =
        "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
        "property float z\nelement face 2\nproperty list uchar int vertex_indices\n"
        "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    const std::string body = "0 0 0\n1 0 0\n1 1 0\n0 1 0\n3 0 1 2 255 0 0\n3 0 2 3 0 0 255\n";
    writeSeed(dir, "ascii_face_colours", std::string(1, '\0') + header + body);

    const std::string vertexHeader =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
        "property float z\nproperty float diffuse_red\nproperty float diffuse_green\n"
        "property float diffuse_blue\nelement face 1\nproperty list uchar uint vertex_indices\n"
        "end_header\n";
    writeSeed(
        dir, "ascii_vertex_colours",
        std::string(1, '\1') + vertexHeader + "0 0 0 1 0 0\n1 0 0 0 1 0\n0 1 0 0 0 1\n3 0 1 2\n");

    for (const char* format : {"binary_little_endian", "binary_big_endian"}) {
        const bool big = std::strcmp(format, "binary_big_endian") == 0;
        std::string ply = std::string(1, '\0') + "ply\nformat " + format +
                          " 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                          "property float z\nelement face 1\n"
                          "property list uchar int vertex_indices\nproperty uchar red\n"
                          "property uchar green\nproperty uchar blue\nend_header\n";
        auto put = [&](const void* value, std::size_t size) {
            const auto* bytes = static_cast<const unsigned char*>(value);
            for (std::size_t i = 0; i < size; ++i)
                ply.push_back(static_cast<char>(bytes[big ? size - 1 - i : i]));
        };
        const float points[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        for (float p : points)
            put(&p, sizeof p);
        const std::uint8_t count = 3;
        put(&count, 1);
        for (std::int32_t v = 0; v < 3; ++v)
            put(&v, sizeof v);
        const std::uint8_t rgb[3] = {10, 200, 30};
        for (std::uint8_t c : rgb)
            put(&c, 1);
        writeSeed(dir, format, ply);
    }

    // Vertex colours only, read without the option: a quad whose corners tie, a triangle with a
    // majority, a pentagon.
    std::string ply = std::string(1, '\0') +
                      "ply\nformat binary_little_endian 1.0\nelement vertex 5\nproperty float x\n"
                      "property float y\nproperty float z\nproperty uchar red\n"
                      "property uchar green\nproperty uchar blue\nelement face 3\n"
                      "property list uchar int vertex_indices\nend_header\n";
    const auto putLittle = [&ply](const void* value, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(value);
        for (std::size_t i = 0; i < size; ++i)
            ply.push_back(static_cast<char>(bytes[hostIsLittle() ? i : size - 1 - i]));
    };
    const std::uint8_t pointRgb[5][3] = {
        {255, 0, 0}, {255, 0, 0}, {0, 0, 255}, {0, 0, 255}, {0, 255, 0}};
    for (int p = 0; p < 5; ++p) {
        const float xyz[3] = {static_cast<float>(p % 3), static_cast<float>(p / 3), 0.0f};
        for (float c : xyz)
            putLittle(&c, sizeof c);
        putLittle(pointRgb[p], 3);
    }
    const std::vector<std::vector<std::int32_t>> faces = {{0, 1, 2, 3}, {2, 3, 0}, {0, 1, 2, 3, 4}};
    for (const auto& face : faces) {
        const auto count = static_cast<std::uint8_t>(face.size());
        putLittle(&count, 1);
        for (std::int32_t v : face)
            putLittle(&v, sizeof v);
    }
    writeSeed(dir, "binary_vertex_colours", ply);

    // Face and vertex colours with the option that makes vertex colours win, and a header line
    // without a keyword.
    writeSeed(dir, "ascii_both_colours_forced",
              std::string(1, '\1') +
                  "ply\nformat ascii 1.0\nCreated by a test\nelement vertex 4\n"
                  "property float x\nproperty float y\nproperty float z\n"
                  "property ushort red\nproperty ushort green\nproperty ushort blue\n"
                  "element face 2\nproperty list uchar int vertex_indices\n"
                  "property float diffuse_red\nproperty float diffuse_green\n"
                  "property float diffuse_blue\nend_header\n"
                  "0 0 0 65535 0 0\n1 0 0 65535 0 0\n1 1 0 0 0 65535\n0 1 0 0 65535 0\n"
                  "4 0 1 2 3 0.5 0.5 0.5\n3 3 2 1 0.25 0.5 1\n");
}

void jsonSeeds(const fs::path& dir) {
    writeSeed(dir, "row", hueslice::io::writeJsonGeometry(colouredRow(kColours), "row.json"));
    writeSeed(dir, "layer2", hueslice::io::writeJsonGeometry(colouredRow(kColours, 2), "l.json"));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    writeSeed(dir, "odd_values",
              hueslice::io::writeJsonGeometry(colouredRow({{nan, -0.0f, inf}, {-inf, 1e30f, 0}}),
                                              "odd.json"));
    writeSeed(dir, "empty", hueslice::io::writeJsonGeometry(GU_Detail(), "empty.json"));
}

void objSeeds(const fs::path& dir) {
    const hueslice::io::ObjText row = hueslice::io::writeObj(colouredRow(kColours), "row.mtl", "o");
    writeSeed(dir, "row_with_mtl", row.obj + std::string(1, '\0') + row.mtl);
    writeSeed(dir, "row_without_mtl", row.obj);
    writeSeed(dir, "vertex_colours",
              "v 0 0 0 1 0 0\nv 1 0 0 1 0 0\nv 1 1 0 0 0 1\nv 0 1 0 0 1 0\nv 2 0 0\n"
              "f 1 2 3 4\nf 3 4 1\nf 5 5 5\nf -1 -2 -3\np 1 2\nl 1 2 3\n");
    writeSeed(dir, "vertex_colours_0_255_with_mtl",
              "mtllib m.mtl\nv 0 0 0 255 0 0\nv 1 0 0 255 0 0\nv 1 1 0 0 0 255\n"
              "v 0 1 0 0 128 0 1\nusemtl red\nf 1 2 3\nusemtl\nf 2 3 4\nf 4 3 2 1\n" +
                  std::string(1, '\0') + "newmtl red\nKd 1 0 0\n");
    writeSeed(dir, "hand_written",
              "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvn 0 0 1\n"
              "g first\nusemtl red\nf 1/1/1 2/1/1 3/1/1\ng\nusemtl none\nf -4 -2 -1\n" +
                  std::string(1, '\0') + "newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\n");
}

void sceneSeeds(const fs::path& dir) {
    HOST_Session session;
    session.operatorTable().addOperator(new OP_Operator(
        "hueslice", "Hueslice", hueslice::constructNode, hueslice::parmTemplates, 1, 1));
    SOP_Node* node = session.createNode("hueslice");
    writeSeed(dir, "fresh", hueslice::io::saveScene(*node));
    node->setInt("numobj", 0, 0.0, 3);
    for (int i = 1; i <= 3; ++i) {
        node->setFloatInst(0.25 * i, "col%d", &i, 0, 0.0);
        node->setStringInst(UT_String(("g" + std::to_string(i)).c_str()), "group%d", &i, 0, 0.0);
    }
    const int second = 2;
    node->setIntInst(1, "isolate%d", &second, 0, 0.0);
    writeSeed(dir, "three_entries", hueslice::io::saveScene(*node));
    node->getParm("col1")->setKeys(1, {{0.0, 0.5}, {1.0, -0.0}, {2.5, 1e30}});
    node->getParm("enable3")->setKeys(0, {{-1.0, 0.0}, {1.0, 1.0}});
    writeSeed(dir, "keyframes", hueslice::io::saveScene(*node));
}

// The node fuzzer decodes any bytes; these give it a spread of shapes to start from.
void nodeSeeds(const fs::path& dir) {
    std::uint32_t state = 12345;
    for (int seed = 0; seed < 8; ++seed) {
        std::string bytes;
        const int length = 48 + 24 * seed;
        for (int i = 0; i < length; ++i) {
            state = state * 1664525u + 1013904223u;
            bytes.push_back(static_cast<char>(state >> 24));
        }
        writeSeed(dir, "script" + std::to_string(seed), bytes);
    }
    // Four primitives of two colours in "Cd", three named entries, then cook, Initialise, cook,
    // Sort, cook, enables.
    const unsigned char tidy[] = {4, 0, 1, 1, 2, 2, 2, 3, 3, 3, 1, 0, 1, 0, 1, 0, 7, 3, 0, 1, 1,
                                  0, 2, 2, 0, 3, 9, 4, 0, 0, 1, 0, 0, 1, 0, 0, 2, 0, 0, 0, 3};
    writeSeed(dir, "tidy", std::string(reinterpret_cast<const char*>(tidy), sizeof tidy));
}

// Written files of a grouped row, and of one with hidden faces; the glTF also as JSON text with
// its buffer embedded, and with a node tree.
void gltfSeeds(const fs::path& dir) {
    GU_Detail row = colouredRow(kColours);
    writeSeed(dir, "row_glb", hueslice::io::writeGltf(row, {}, true, "row.glb").bytes);
    writeSeed(dir, "row_gltf", hueslice::io::writeGltf(row, {}, false, "row.gltf").bytes);
    HOST_Internals::addMember(*row.primitiveGroups().newGroup(hueslice::io::kHiddenGroupName), 0);
    writeSeed(dir, "hidden_glb", hueslice::io::writeGltf(row, {}, true, "hidden.glb").bytes);
    std::string tree = hueslice::io::writeGltf(colouredRow({{1, 0, 0}}), {}, false, "t").bytes;
    tree.replace(tree.find("\"nodes\":[{"), 10,
                 "\"nodes\":[{\"translation\":[1,2,3],\"scale\":[2,2,2],\"children\":[1]},{");
    writeSeed(dir, "node_tree_gltf", tree);

    // Hostile layouts: a BIN chunk longer than the file, extras nested just under and just
    // over the depth limit, external buffers by absolute path, above the folder and by scheme
    // (refused without a folder to look in), glTF 1.0, a missing default scene, huge scales.
    std::string glb = hueslice::io::writeGltf(row, {}, true, "row.glb").bytes;
    const std::size_t json = static_cast<unsigned char>(glb[12]) |
                             static_cast<std::size_t>(static_cast<unsigned char>(glb[13])) << 8;
    glb[20 + json] = static_cast<char>(glb[20 + json] + 8);
    writeSeed(dir, "bin_chunk_past_end_glb", glb);
    const std::string plain =
        hueslice::io::writeGltf(colouredRow({{1, 0, 0}}), {}, false, "p").bytes;
    const auto withMember = [&](const std::string& member) {
        return plain.substr(0, plain.size() - 1) + "," + member + "}";
    };
    writeSeed(dir, "extras_500_deep_gltf",
              withMember("\"extras\":" + std::string(500, '[') + std::string(500, ']')));
    writeSeed(dir, "extras_600_deep_gltf",
              withMember("\"extras\":" + std::string(600, '[') + std::string(600, ']')));
    const std::pair<const char*, const char*> uris[] = {{"absolute", "/etc/hostname"},
                                                        {"parent", "../up.bin"},
                                                        {"scheme", "file:mesh.bin"},
                                                        {"escaped", "sub/%2E%2E/x.bin"}};
    for (const auto& [label, uri] : uris) {
        std::string named = plain;
        const std::size_t at = named.find("data:");
        named.replace(at, named.find('"', at) - at, uri);
        writeSeed(dir, std::string("uri_") + label + "_gltf", named);
    }
    writeSeed(dir, "version_1_gltf",
              R"({"asset": {"version": "1.0"}, "meshes": {"m": {"primitives": []}}})");
    writeSeed(dir, "missing_scene_gltf", withMember("\"scene\":4"));
    std::string huge = tree;
    huge.replace(huge.find("\"scale\":[2,2,2]"), 15, "\"scale\":[1e200,1,1]");
    huge.replace(huge.find("{\"", huge.find("\"children\"")), 2, "{\"scale\":[1e200,1,1],\"");
    writeSeed(dir, "huge_scales_gltf", huge);
}

// A 3MF package whose object 1 is one triangle and object k holds object k-1 `copies` times,
// up to `top`, which is the build item.
std::string componentChain(int top, int copies, const std::string& extra = "") {
    std::string resources = package_files::meshObject(1, R"(name="leaf")", {""});
    for (int k = 2; k <= top; ++k) {
        resources += "<object id=\"" + std::to_string(k) + "\" type=\"model\"><components>";
        for (int c = 0; c < copies; ++c)
            resources += "<component objectid=\"" + std::to_string(k - 1) + "\"/>";
        resources += "</components></object>";
    }
    return package_files::threeMf(resources + extra,
                                  "<item objectid=\"" + std::to_string(top) + "\"/>");
}

void threeMfSeeds(const fs::path& dir) {
    GU_Detail row = colouredRow(kColours);
    writeSeed(dir, "row", hueslice::io::write3mf(row, {}, "row.3mf").bytes);
    HOST_Internals::addMember(*row.primitiveGroups().newGroup(hueslice::io::kHiddenGroupName), 1);
    writeSeed(dir, "hidden", hueslice::io::write3mf(row, {}, "hidden.3mf").bytes);

    // Component graphs: doubling (placed many times over, counted once), too deep, a cycle;
    // a triangle giving p1 without pid; a build transform past the float range.
    writeSeed(dir, "doubling_components", componentChain(12, 2));
    writeSeed(dir, "deep_components", componentChain(70, 1));
    writeSeed(dir, "component_cycle",
              package_files::threeMf(R"(<object id="2" type="model"><components>)"
                                     R"(<component objectid="3"/></components></object>)"
                                     R"(<object id="3" type="model"><components>)"
                                     R"(<component objectid="2"/></components></object>)",
                                     R"(<item objectid="2"/>)"));
    writeSeed(dir, "p1_without_pid",
              package_files::threeMf(
                  R"(<basematerials id="7"><base name="a" displaycolor="#FF0000"/>)"
                  R"(<base name="b" displaycolor="#00FF00"/></basematerials>)" +
                      package_files::meshObject(5, R"(pid="7" pindex="0")", {"", R"(p1="1")"}),
                  R"(<item objectid="5"/>)"));
    writeSeed(
        dir, "transform_past_float",
        package_files::threeMf(package_files::meshObject(5, "", {""}),
                               R"(<item objectid="5" transform="1e39 0 0 0 1 0 0 0 1 0 0 0"/>)"));
}

// One small image of each kind the decoders tell apart.
void imageSeeds(const fs::path& dir) {
    std::string rgb;
    for (int i = 0; i < 8 * 8; ++i)
        rgb +=
            {static_cast<char>(i * 4), static_cast<char>(255 - i), static_cast<char>(i % 3 * 90)};
    writeSeed(dir, "rgb_png", image_files::rgbPng(8, 8, rgb));
    image_files::Png palette;
    palette.width = 4;
    palette.height = 2;
    palette.depth = 2;
    palette.colourType = 3;
    palette.rows = "\x1b\xe4";
    palette.palette = std::string("\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff", 12);
    palette.transparency = std::string("\xff\x80", 2);
    writeSeed(dir, "palette_png", image_files::pngOf(palette));
    image_files::Png grey16;
    grey16.depth = 16;
    grey16.colourType = 4;
    grey16.rows = std::string("\x12\x34\xff\xff", 4);  // one texel: only Adam7's first pass
    grey16.interlaced = true;
    writeSeed(dir, "grey_alpha16_interlaced_png", image_files::pngOf(grey16));
    writeSeed(dir, "baseline_jpeg", image_files::jpegOf(8, 8, rgb));
    writeSeed(dir, "progressive_jpeg", image_files::jpegOf(8, 8, rgb, true));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUTPUT_DIR\n");
        return 2;
    }
    const fs::path root(argv[1]);
    plySeeds(root / "ply");
    jsonSeeds(root / "json_geometry");
    objSeeds(root / "obj");
    sceneSeeds(root / "scene");
    nodeSeeds(root / "node");
    gltfSeeds(root / "gltf");
    threeMfSeeds(root / "threemf");
    imageSeeds(root / "image");
    return 0;
}
