#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "io/formats/ply/ply.h"
#include "io/io.h"
#include "test_geometry.h"

// A binary PLY read from a file, a window at a time, must give what the same bytes give when read
// from memory: the same detail, notes and colour sources, or the same message, wherever the
// window's edges fall.

namespace hueslice::io {
namespace {

using testing::expectSameDetail;

// A PLY built piece by piece: header text, then values in the file's byte order.
class PlyBytes {
  public:
    explicit PlyBytes(bool bigEndian = false) : big(bigEndian) {
        bytes = std::string("ply\nformat ") + (big ? "binary_big_endian" : "binary_little_endian") +
                " 1.0\n";
    }
    PlyBytes& line(const std::string& text) {
        bytes += text + "\n";
        return *this;
    }
    template <typename T>
    PlyBytes& put(T value) {
        char raw[sizeof(T)];
        std::memcpy(raw, &value, sizeof(T));
        if (big)
            std::reverse(raw, raw + sizeof(T));
        bytes.append(raw, sizeof(T));
        return *this;
    }
    std::string bytes;

  private:
    bool big;
};

const char* const kUcharColours = "property uchar red\nproperty uchar green\nproperty uchar blue";

// Points with double z (read row by row), faces with colours after the list, and an element of
// lists the reader skips.
std::string squareWithEdges(bool bigEndian) {
    PlyBytes ply(bigEndian);
    ply.line("element vertex 4\nproperty float x\nproperty float y\nproperty double z")
        .line("element face 2\nproperty list uchar int vertex_indices")
        .line(kUcharColours)
        .line("element edge 2\nproperty list uint8 int16 ends\nproperty short weight")
        .line("end_header");
    const float xy[4][2] = {{0, 0}, {1.5f, 0}, {1.5f, 1}, {0, 1}};
    for (int p = 0; p < 4; ++p)
        ply.put(xy[p][0]).put(xy[p][1]).put(p * 0.25);
    ply.put<std::uint8_t>(3).put(0).put(1).put(2).put<std::uint8_t>(255).put<std::uint8_t>(0);
    ply.put<std::uint8_t>(51);
    ply.put<std::uint8_t>(3).put(0).put(2).put(3).put<std::uint8_t>(0).put<std::uint8_t>(128);
    ply.put<std::uint8_t>(255);
    ply.put<std::uint8_t>(2).put<std::int16_t>(0).put<std::int16_t>(3).put<std::int16_t>(-7);
    ply.put<std::uint8_t>(0).put<std::int16_t>(9);
    return ply.bytes;
}

// The usual layout, on the fast paths: float points, quads whose colour bytes sit on both sides
// of the list, and a fixed-size element. `fault` spoils one face: "index" gives it a point that
// does not exist, "zero" no vertices, "negative" a negative count.
std::string quads(const std::string& fault = "") {
    PlyBytes ply;
    ply.line("element vertex 6\nproperty float x\nproperty float y\nproperty float z")
        .line("element face 4\nproperty uchar red\nproperty list char int vertex_indices")
        .line("property uchar green\nproperty uchar blue")
        .line("element material 3\nproperty float shininess\nproperty uchar id")
        .line("end_header");
    for (int p = 0; p < 6; ++p)
        ply.put(static_cast<float>(p % 3)).put(static_cast<float>(p / 3)).put(0.5f * p);
    const int corners[4][4] = {{0, 1, 4, 3}, {1, 2, 5, 4}, {0, 1, 2, 5}, {3, 4, 5, 0}};
    for (int f = 0; f < 4; ++f) {
        ply.put<std::uint8_t>(static_cast<std::uint8_t>(40 * f));
        const bool spoilt = f == 2 && !fault.empty();
        ply.put<std::int8_t>(spoilt && fault == "zero"       ? 0
                             : spoilt && fault == "negative" ? -4
                                                             : 4);
        for (int c = 0; c < 4; ++c)
            ply.put<std::int32_t>(spoilt && fault == "index" && c == 3 ? 6 : corners[f][c]);
        ply.put<std::uint8_t>(static_cast<std::uint8_t>(255 - f)).put<std::uint8_t>(7);
    }
    for (int m = 0; m < 3; ++m)
        ply.put(0.25f * m).put<std::uint8_t>(static_cast<std::uint8_t>(m));
    return ply.bytes;
}

// Faces take their colours from their corners' uchar colours; `facesFirst` lists them before the
// points, so the votes wait for the points.
std::string vertexColoured(bool facesFirst) {
    PlyBytes ply;
    const std::string faces = "element face 2\nproperty list ushort uint vertex_indices";
    const std::string points =
        "element vertex 4\nproperty float x\nproperty float y\nproperty float z\n" +
        std::string(kUcharColours);
    ply.line(facesFirst ? faces : points).line(facesFirst ? points : faces).line("end_header");
    const auto putFaces = [&] {
        ply.put<std::uint16_t>(3).put(0u).put(1u).put(2u);
        ply.put<std::uint16_t>(4).put(0u).put(1u).put(2u).put(3u);
    };
    const auto putPoints = [&] {
        const std::uint8_t rgb[4][3] = {{0, 0, 255}, {255, 0, 0}, {255, 0, 0}, {0, 255, 0}};
        for (int p = 0; p < 4; ++p) {
            ply.put(1.0f * p).put(0.0f).put(0.0f);
            ply.put(rgb[p][0]).put(rgb[p][1]).put(rgb[p][2]);
        }
    };
    if (facesFirst) {
        putFaces();
        putPoints();
    } else {
        putPoints();
        putFaces();
    }
    return ply.bytes;
}

// Float face colours, and one face of 40 corners, a row longer than a small window.
std::string floatColoursAndALongRow() {
    PlyBytes ply;
    ply.line("element vertex 40\nproperty float x\nproperty float y\nproperty float z")
        .line("element face 2\nproperty list int int vertex_indices")
        .line("property float red\nproperty float green\nproperty float blue")
        .line("end_header");
    for (int p = 0; p < 40; ++p)
        ply.put(static_cast<float>(p)).put(static_cast<float>(p * p % 7)).put(0.0f);
    ply.put<std::int32_t>(3).put(0).put(1).put(2).put(0.25f).put(0.5f).put(1.0f);
    ply.put<std::int32_t>(40);
    for (int c = 0; c < 40; ++c)
        ply.put<std::int32_t>(39 - c);
    ply.put(0.0f).put(1e-3f).put(0.75f);
    return ply.bytes;
}

struct Outcome {
    std::string error;  // empty when the read succeeded
    GU_Detail geo;
    Notes notes;
    ColourSource source;
};

Outcome outcomeOf(const std::function<Notes(GU_Detail&, ColourSource*)>& read) {
    Outcome o;
    o.geo = testing::makeSquare();
    try {
        o.notes = read(o.geo, &o.source);
    } catch (const InputError& e) {
        o.error = e.what();
        expectSameDetail(testing::makeSquare(), o.geo);  // left as it was
    }
    return o;
}

struct Case {
    const char* label;
    std::string bytes;
    ReadOptions options;
};

class PlyThroughAWindow
    : public ::testing::TestWithParam<std::tuple<Case, std::size_t /* window */>> {
  protected:
    void SetUp() override {
        folder = ::testing::TempDir() + "ply_stream.XXXXXX";
        ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    }
    void TearDown() override { ::rmdir(folder.c_str()); }

    // Reads `bytes` from memory and from a file, and expects the same outcome.
    void expectSameAsMemory(const std::string& bytes, const std::string& what) {
        const auto& [c, window] = GetParam();
        // A new file each time: rewriting one in place makes some file systems flush it.
        const std::string path = folder + "/m.ply";
        {
            std::ofstream file(path, std::ios::binary);
            file << bytes;
        }
        const Outcome memory = outcomeOf([&](GU_Detail& geo, ColourSource* source) {
            return readPly(bytes, path, geo, c.options, source);
        });
        const Outcome streamed = outcomeOf([&](GU_Detail& geo, ColourSource* source) {
            return detail::readPlyFileThroughWindow(path, window, geo, c.options, source);
        });
        std::remove(path.c_str());
        SCOPED_TRACE(what);
        ASSERT_EQ(memory.error, streamed.error);
        EXPECT_EQ(memory.notes, streamed.notes);
        EXPECT_EQ(memory.source.ownColour, streamed.source.ownColour);
        EXPECT_EQ(memory.source.cornerColour, streamed.source.cornerColour);
        EXPECT_EQ(memory.source.ties, streamed.source.ties);
        EXPECT_EQ(memory.source.noColour, streamed.source.noColour);
        if (memory.error.empty())
            expectSameDetail(memory.geo, streamed.geo);
    }

    std::string folder;
};

TEST_P(PlyThroughAWindow, GivesWhatMemoryGives) {
    const std::string& bytes = std::get<0>(GetParam()).bytes;
    expectSameAsMemory(bytes, "whole file");
    ASSERT_FALSE(HasFailure());
    // Cut short at every byte: inside the header, inside each element, inside rows, list counts
    // and colours.
    for (std::size_t size = 0; size < bytes.size() && !HasFailure(); ++size)
        expectSameAsMemory(bytes.substr(0, size), "cut to " + std::to_string(size) + " bytes");
    for (const std::size_t extra : {1, 9})
        expectSameAsMemory(bytes + std::string(extra, '\x01'), "with trailing bytes");
}

const Case kCases[] = {
    {"little_generic_rows", squareWithEdges(false), {}},
    {"big_generic_rows", squareWithEdges(true), {}},
    {"fast_paths", quads(), {}},
    {"bad_index", quads("index"), {}},
    {"no_vertices", quads("zero"), {}},
    {"negative_count", quads("negative"), {}},
    {"votes_as_built", vertexColoured(false), {}},
    {"votes_after", vertexColoured(true), {}},
    {"corners_first", vertexColoured(false), ReadOptions{true}},
    {"float_colours_long_row", floatColoursAndALongRow(), {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, PlyThroughAWindow,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(1, 3, 7, 64, detail::kPlyWindow)),
                         [](const auto& param) {
                             return std::string(std::get<0>(param.param).label) + "_window_" +
                                    std::to_string(std::get<1>(param.param));
                         });

}  // namespace
}  // namespace hueslice::io
