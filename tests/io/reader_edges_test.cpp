// Values at the edges of what the readers take: the largest attribute a JSON file may declare,
// and every colour channel of every PLY colour type, on faces and on vertices.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/formats/json/json_geometry.h"
#include "io/formats/ply/ply.h"
#include "io/io.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using testing::colourOf;

TEST(JsonGeometry, TheLargestAttributeSizeIsReadAndWrittenBack) {
    std::string values;
    for (int c = 0; c < 64; ++c)
        values += (c ? "," : "") + std::to_string(c);
    const std::string text = R"({"points": [[0,0,0],[1,0,0],[0,1,0]], "primitives": [[0,1,2]],
        "primitive_attributes": {"w": {"type": "int", "size": 64, "values": [[)" +
                             values + "]]}}}";
    GU_Detail geo;
    readJsonGeometry(text, "m.json", geo);
    const int offset = geo.primitiveAttribs().getOffset("w", 256, GB_ATTRIB_INT);
    ASSERT_GE(offset, 0);
    std::int32_t last = 0;
    std::memcpy(&last, geo.primitiveAttribData(0) + offset + 4 * 63, sizeof last);
    EXPECT_EQ(last, 63);
    GU_Detail again;
    readJsonGeometry(writeJsonGeometry(geo, "m.json"), "m.json", again);
    testing::expectSameDetail(geo, again);
}

// Little-endian bytes of a value.
template <typename T>
std::string bytesOf(T value) {
    std::string out(sizeof value, '\0');
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

// One colour value of `type` that stands for byte value v (v / 255 in the end).
std::string colourBytes(const std::string& type, int v) {
    if (type == "uchar")
        return bytesOf(static_cast<std::uint8_t>(v));
    if (type == "ushort")
        return bytesOf(static_cast<std::uint16_t>(v * 257));
    return bytesOf(static_cast<float>(v) / 255.0f);
}

struct ChannelCase {
    const char* label;
    const char* type;
    bool onVertices;  // else on the face
};

class PlyColourChannels : public ::testing::TestWithParam<ChannelCase> {};

// A binary triangle whose colours differ in every channel: vertex i has (10, 20, 30) + 30 i,
// the face (100, 150, 200). The face lists vertex 1 first, so with vertex colours it takes
// (40, 50, 60).
TEST_P(PlyColourChannels, EachChannelKeepsItsOwnValue) {
    const std::string type = GetParam().type;
    const bool onVertices = GetParam().onVertices;
    const std::string colours =
        "property " + type + " red\nproperty " + type + " green\nproperty " + type + " blue\n";
    std::string ply =
        "ply\nformat binary_little_endian 1.0\nelement vertex 3\n"
        "property float x\nproperty float y\nproperty float z\n" +
        (onVertices ? colours : "") + "element face 1\nproperty list uchar int vertex_indices\n" +
        (onVertices ? "" : colours) + "end_header\n";
    const float xyz[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    for (int v = 0; v < 3; ++v) {
        for (float f : xyz[v])
            ply += bytesOf(f);
        for (int c = 0; c < 3 && onVertices; ++c)
            ply += colourBytes(type, 10 * (c + 1) + 30 * v);
    }
    ply += bytesOf(static_cast<std::uint8_t>(3));
    for (std::int32_t index : {1, 2, 0})
        ply += bytesOf(index);
    for (int c = 0; c < 3 && !onVertices; ++c)
        ply += colourBytes(type, 100 + 50 * c);

    GU_Detail geo;
    readPly(ply, "m.ply", geo, PlyOptions{onVertices});
    const std::vector<float> rgb = colourOf(geo, 0);
    ASSERT_EQ(rgb.size(), 3u);
    const int expected[3] = {onVertices ? 40 : 100, onVertices ? 50 : 150, onVertices ? 60 : 200};
    for (int c = 0; c < 3; ++c)
        EXPECT_FLOAT_EQ(rgb[static_cast<std::size_t>(c)], static_cast<float>(expected[c]) / 255.0f)
            << "channel " << c;
}

INSTANTIATE_TEST_SUITE_P(Types, PlyColourChannels,
                         ::testing::Values(ChannelCase{"UcharFace", "uchar", false},
                                           ChannelCase{"UshortFace", "ushort", false},
                                           ChannelCase{"FloatFace", "float", false},
                                           ChannelCase{"UcharVertices", "uchar", true},
                                           ChannelCase{"UshortVertices", "ushort", true},
                                           ChannelCase{"FloatVertices", "float", true}),
                         [](const auto& p) { return std::string(p.param.label); });

}  // namespace
}  // namespace hueslice::io
