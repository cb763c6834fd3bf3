// The OBJ reader takes its file a piece at a time: whatever the piece size, and wherever a
// line, a line break or a fault falls, it must read what the whole text reads.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <tiny_obj_loader.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "io/formats/formats.h"
#include "io/formats/obj/obj.h"
#include "io/formats/obj/source.h"
#include "io/io.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using testing::inputErrorOf;

struct Library {
    std::string name;  // the mtllib line's, as the reader found it
    std::string mtl;
};

// Reads `obj` through pieces of `pieceBytes`, with or without the helper thread; the material
// library is `library->mtl` whatever its name.
Notes readInPieces(const std::string& obj, std::size_t pieceBytes, bool helperThread,
                   GU_Detail& out, Library* library = nullptr) {
    detail::ObjSource source;
    std::size_t at = 0;
    source.read = [&](char* to, std::size_t room) {
        const std::size_t n = std::min(room, obj.size() - at);
        std::memcpy(to, obj.data() + at, n);
        at += n;
        return n;
    };
    source.sizeHint = obj.size();
    source.pieceBytes = pieceBytes;
    source.helperThread = helperThread;
    source.findLibrary = [&](const detail::MaterialLibrary& found) {
        detail::MaterialText text;
        if (library) {
            library->name = found.name;
            text.text = library->mtl;
            text.name = "m.mtl";
        }
        return text;
    };
    return detail::readObjPieces(source, "m.obj", out, {}, nullptr);
}

// A file using every kind of line, with \r\n, a bare \r, a byte order mark, a line longer than
// any small piece, faces naming vertices defined after them and the library named last.
const std::string kEveryKind =
    "\xEF\xBB\xBFv 0 0 0 1 0 0\r\n"
    "v 1 0 0 0 1 0\r"
    "v 1 1 0 0 0 1\n"
    "# a comment that runs on for much longer than the smallest pieces do, to make them grow\n"
    "\n"
    "g left  top\r\n"
    "usemtl  red paint \n"
    "f 1 2 3 4\n"
    "f 4/1 3//1 2/1/1\n"
    "vt 0 0\nvn 0 0 1\n"
    "f 1/1/1 2//1 3/ 3\n"
    "g\n"
    "usemtl blue\n"
    "f -1 -2 -3\r\n"
    "p 1\n"
    "v 0 1 0 0 1 0\n"
    "mtllib m.mtl\n"
    "f 4 1 2";
const std::string kEveryMtl = "newmtl red paint\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\n";

// Piece sizes that split the byte order mark, every \r\n and most lines somewhere.
const auto kPieceSizes = ::testing::Values(1, 2, 3, 4, 5, 7, 11, 64, 1 << 20);

class ObjPieces : public ::testing::TestWithParam<std::tuple<std::size_t, bool>> {};

TEST_P(ObjPieces, ReadWhatTheWholeTextReads) {
    GU_Detail whole;
    GU_Detail pieces;
    Library wholeLibrary{"", kEveryMtl};
    Library piecesLibrary{"", kEveryMtl};
    const Notes wholeNotes =
        readInPieces(kEveryKind, kEveryKind.size(), false, whole, &wholeLibrary);
    const Notes pieceNotes = readInPieces(kEveryKind, std::get<0>(GetParam()),
                                          std::get<1>(GetParam()), pieces, &piecesLibrary);
    testing::expectSameDetail(whole, pieces);
    EXPECT_EQ(wholeNotes, pieceNotes);
    EXPECT_EQ(piecesLibrary.name, "m.mtl") << "the library is named after the faces";

    // What the whole text reads is right, too: the second face names vertex 4 before its line.
    ASSERT_EQ(whole.pointCount(), 4);
    ASSERT_EQ(whole.primitiveCount(), 5);
    const GB_Primitive& second = *whole.primitives()(1);
    const unsigned* v = whole.primitiveVertices(second);
    EXPECT_EQ(std::vector<unsigned>(v, v + second.vertexCount), (std::vector<unsigned>{3, 2, 1}));
    EXPECT_EQ(testing::colourOf(whole, 0), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(testing::colourOf(whole, 3), (std::vector<float>{0, 0, 1}));
    EXPECT_EQ(whole.primitiveGroups().find("left")->members(), (std::vector<unsigned>{0, 1, 2}));
}

INSTANTIATE_TEST_SUITE_P(SizesAndThreads, ObjPieces,
                         ::testing::Combine(kPieceSizes, ::testing::Bool()));

struct FaultAt {
    const char* label;
    std::string obj;
    std::string message;
};

class ObjPieceFaults : public ::testing::TestWithParam<std::tuple<FaultAt, std::size_t, bool>> {};

TEST_P(ObjPieceFaults, NameTheirLine) {
    const FaultAt& fault = std::get<0>(GetParam());
    GU_Detail out = testing::makeSquare();
    EXPECT_EQ(inputErrorOf([&] {
                  readInPieces(fault.obj, std::get<1>(GetParam()), std::get<2>(GetParam()), out);
              }),
              fault.message);
    EXPECT_EQ(out.pointCount(), 4) << "the output is left as it was";
}

// The first fault in file order is the one reported, forward references aside: whether they
// point past the last vertex is known only at the end.
INSTANTIATE_TEST_SUITE_P(
    Table, ObjPieceFaults,
    ::testing::Combine(
        ::testing::Values(FaultAt{"first_line", "v 0 0\nv 0 0 0\n",
                                  "m.obj:1: vertex needs 3 numeric coordinates"},
                          FaultAt{"last_line_without_a_break", "v 0 0 0\r\n\r\nf 1 x",
                                  "m.obj:3: face 0 has a bad vertex reference 'x'"},
                          FaultAt{"after_bare_returns", "v 0 0 0\r\r\rf 1 0\r",
                                  "m.obj:4: face 0 has index 0 (indices count from 1)"},
                          FaultAt{"after_a_byte_order_mark", "\xEF\xBB\xBFv 0 0 0\nf 1 -2\n",
                                  "m.obj:2: face 0 has index -2 but only 1 point comes before it"},
                          FaultAt{"second_of_two", "v 0 0 0\nf 1 1 1\nf 2\nv 0 0\n",
                                  "m.obj:4: vertex needs 3 numeric coordinates"},
                          FaultAt{"zero_texture_index", "v 0 0 0\nf 1/1 1/0 1\n",
                                  "m.obj:2: face 0 has index 0 (indices count from 1)"},
                          FaultAt{"past_the_last_vertex_read_so_far", "v 0 0 0\nf 1 2\n",
                                  "m.obj:2: face 0 has index 2 but there is 1 point"},
                          FaultAt{"forward_reference_beyond_the_end", "f 1 3\nv 0 0 0\nv 0 0 0\n",
                                  "m.obj:1: face 0 has index 3 but there are 2 points"}),
        kPieceSizes, ::testing::Bool()),
    [](const auto& param) {
        return std::string(std::get<0>(param.param).label) + "_" +
               std::to_string(std::get<1>(param.param)) +
               (std::get<2>(param.param) ? "_helper" : "");
    });

// Positions must keep the bits tinyobjloader gives them, whose parser rounds some decimals
// differently from a correctly rounded one; here are numbers on which the two part ways, and
// the odd forms it reads in its own way.
TEST(ObjPositions, KeepTheBitsTinyobjloaderGives) {
    const std::vector<std::string> numbers = {"0.1",
                                              "0.3",
                                              "1e-7",
                                              "-0",
                                              "+.5",
                                              "-.5e-3",
                                              "1.",
                                              "123456789012345678901234567890",
                                              "0.30000000000000004",
                                              "1.00000005960464477539",
                                              "16777217",
                                              "3.4028234e38",
                                              "1.17549435e-38",
                                              "7e-46",
                                              "9.999999999999999e22",
                                              "0.000000001234567890123",
                                              "2.7182818284590452353602874713527",
                                              "1E5",
                                              "1e+05",
                                              "nan",
                                              "inf",
                                              "0e400"};
    std::string obj;
    for (const std::string& n : numbers)
        obj += "v " + n + " " + n + " 0\n";
    GU_Detail ours;
    readObj(obj, "m.obj", std::nullopt, "", ours);
    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    tinyobj::ObjReader reference;
    ASSERT_TRUE(reference.ParseFromString(obj, "", config));
    const std::vector<tinyobj::real_t>& expected = reference.GetAttrib().vertices;
    ASSERT_EQ(expected.size(), 3 * numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const float x = ours.points()[static_cast<std::size_t>(i)][0];
        EXPECT_EQ(0, std::memcmp(&x, &expected[3 * i], sizeof x)) << numbers[i];
    }
}

// Beyond the float range the library's own conversion is undefined; the reader makes it an
// infinity, as the hardware's conversion does.
TEST(ObjPositions, BeyondTheFloatRangeAreInfinite) {
    GU_Detail geo;
    readObj("v 1e39 -1e39 3.4028235e38\n", "m.obj", std::nullopt, "", geo);
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(geo.points()[0][0], inf);
    EXPECT_EQ(geo.points()[0][1], -inf);
    EXPECT_EQ(geo.points()[0][2], std::numeric_limits<float>::max()) << "rounds down to the max";
}

struct LibraryLine {
    const char* label;
    std::string obj;
};

class ObjFileLibrary : public ::testing::TestWithParam<LibraryLine> {};

TEST_P(ObjFileLibrary, IsFoundAndColoursTheFaces) {
    std::string folder = ::testing::TempDir() + "obj_pieces.XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    std::ofstream(folder + "/m.obj") << GetParam().obj;
    std::ofstream(folder + "/m.mtl") << "newmtl red\nKd 1 0 0\n";
    GU_Detail geo;
    EXPECT_EQ(readGeometryFile(folder + "/m.obj", geo), Notes{});
    EXPECT_EQ(testing::colourOf(geo, 0), (std::vector<float>{1, 0, 0}));
}

// From a file, the library is looked for once the whole OBJ is read, so it may be named last;
// a byte order mark before a first-line `mtllib` once hid the library from the file reader.
INSTANTIATE_TEST_SUITE_P(
    Places, ObjFileLibrary,
    ::testing::Values(LibraryLine{"after_the_faces",
                                  "v 0 0 0\nusemtl red\nf 1 1 1\nmtllib m.mtl\n"},
                      LibraryLine{"ByteOrderMarkHidLibraryOnFirstLine",
                                  "\xEF\xBB\xBFmtllib m.mtl\nv 0 0 0\nusemtl red\nf 1 1 1\n"}),
    [](const auto& param) { return std::string(param.param.label); });

}  // namespace
}  // namespace hueslice::io
