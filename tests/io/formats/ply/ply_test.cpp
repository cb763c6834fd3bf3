#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "io/formats/ply/ply.h"
#include "io/input/input_file.h"
#include "io/io.h"
#include "test_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using testing::colourOf;
using testing::expectSameDetail;
using testing::inputErrorOf;

// Appends a value in the given byte order.
template <typename T>
void put(std::string& out, T value, bool bigEndian) {
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    if (bigEndian)
        std::reverse(raw, raw + sizeof(T));
    out.append(raw, sizeof(T));
}

const char* const kSquareProperties =
    "element vertex 4\nproperty float x\nproperty float y\nproperty double z\n"
    "element face 2\nproperty list uchar int vertex_indices\n"
    "property uchar red\nproperty uchar green\nproperty uchar blue\n"
    "element edge 1\nproperty list uint8 int16 ends\nproperty short weight\n"
    "end_header\n";

const float kSquarePoints[4][3] = {{0, 0, 0}, {1.5f, 0, 0}, {1.5f, 1, 0}, {0, 1, -0.25f}};

std::string binarySquare(bool bigEndian, const std::string& headerEnd = "\n") {
    std::string ply = std::string("ply\nformat ") +
                      (bigEndian ? "binary_big_endian" : "binary_little_endian") +
                      " 1.0\ncomment made by a test\n" + kSquareProperties;
    ply.replace(ply.size() - 1, 1, headerEnd);
    for (const auto& p : kSquarePoints) {
        put(ply, p[0], bigEndian);
        put(ply, p[1], bigEndian);
        put(ply, static_cast<double>(p[2]), bigEndian);
    }
    const std::uint8_t faces[2][6] = {{3, 0, 1, 2}, {3, 0, 2, 3}};
    const std::uint8_t rgb[2][3] = {{255, 0, 51}, {0, 128, 255}};
    for (int f = 0; f < 2; ++f) {
        put<std::uint8_t>(ply, faces[f][0], bigEndian);
        for (int v = 1; v <= 3; ++v)
            put<std::int32_t>(ply, faces[f][v], bigEndian);
        for (int c = 0; c < 3; ++c)
            put(ply, rgb[f][c], bigEndian);
    }
    put<std::uint8_t>(ply, 2, bigEndian);
    put<std::int16_t>(ply, 0, bigEndian);
    put<std::int16_t>(ply, 3, bigEndian);
    put<std::int16_t>(ply, -7, bigEndian);
    return ply;
}

std::string asciiSquare(const std::string& lineEnd = "\n") {
    std::string ply = std::string("ply\nformat ascii 1.0\nobj_info test\n") + kSquareProperties +
                      "0 0 0\n1.5 0 0\n\n1.5 1 0\n0 1 -0.25\n3 0 1 2 255 0 51\n"
                      "3 0 2 3 0 128 255\n2 0 3 -7";
    std::string converted;
    for (char c : ply)
        converted += c == '\n' ? lineEnd : std::string(1, c);
    return converted;
}

GU_Detail expectedSquare() {
    GU_Detail geo;
    for (const auto& p : kSquarePoints)
        geo.appendPoint(UT_Vector3(p[0], p[1], p[2]));
    const unsigned a[3] = {0, 1, 2};
    const unsigned b[3] = {0, 2, 3};
    geo.appendPrimitive(a, 3);
    geo.appendPrimitive(b, 3);
    testing::setColour(geo, 0, 1.0f, 0.0f, static_cast<float>(51.0 / 255.0));
    testing::setColour(geo, 1, 0.0f, static_cast<float>(128.0 / 255.0), 1.0f);
    return geo;
}

struct Encoding {
    const char* label;
    std::string bytes;
};

class PlyEncodings : public ::testing::TestWithParam<Encoding> {};

TEST_P(PlyEncodings, GiveTheSameDetail) {
    GU_Detail geo;
    const Notes notes = readPly(GetParam().bytes, "m.ply", geo);
    EXPECT_TRUE(notes.empty());
    expectSameDetail(expectedSquare(), geo);
}

INSTANTIATE_TEST_SUITE_P(
    AllEncodings, PlyEncodings,
    ::testing::Values(Encoding{"ascii", asciiSquare()}, Encoding{"ascii_crlf", asciiSquare("\r\n")},
                      Encoding{"ascii_bare_cr", asciiSquare("\r")},
                      Encoding{"little", binarySquare(false)}, Encoding{"big", binarySquare(true)},
                      Encoding{"little_crlf_header", binarySquare(false, "\r\n")}),
    [](const auto& param) { return std::string(param.param.label); });

// ---- Colours from vertices ----

// An ascii PLY: points with the given colour property lines and rows, faces with theirs.
std::string colouredPly(const std::string& pointProperties, const std::vector<std::string>& points,
                        const std::string& faceProperties, const std::vector<std::string>& faces) {
    std::string ply = "ply\nformat ascii 1.0\nelement vertex " + std::to_string(points.size()) +
                      "\nproperty float x\nproperty float y\nproperty float z\n" + pointProperties +
                      "element face " + std::to_string(faces.size()) +
                      "\nproperty list uchar int vertex_indices\n" + faceProperties +
                      "end_header\n";
    for (std::size_t p = 0; p < points.size(); ++p)
        ply += std::to_string(p) + " 0 0 " + points[p] + "\n";
    for (const std::string& face : faces)
        ply += face + "\n";
    return ply;
}

const std::string kUcharRgb = "property uchar red\nproperty uchar green\nproperty uchar blue\n";
const std::vector<std::string> kBorderPoints = {"0 0 255", "255 0 0", "255 0 0", "0 255 0"};

TEST(PlyVertexColours, FirstCornerOfAColourBorderNoLongerDecides) {
    // Point 0 is blue, 1 and 2 red, 3 green.
    const std::string ply =
        colouredPly(kUcharRgb, kBorderPoints, "", {"3 0 1 2", "3 0 1 3", "4 0 1 2 3"});
    GU_Detail geo;
    ColourSource source;
    const Notes notes = readPly(ply, "m.ply", geo, {}, &source);
    EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(colourOf(geo, 1), (std::vector<float>{0, 0, 1})) << "a tie: the first corner";
    EXPECT_EQ(colourOf(geo, 2), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(notes, Notes{"m.ply: 3 faces take the colour most of their corners share (vertex "
                           "colours); 1 face had a tie, settled by the earliest corner"});
    EXPECT_EQ(source.cornerColour, 3);
    EXPECT_EQ(source.ties, 1);
    EXPECT_EQ(source.ownColour + source.noColour, 0);
}

TEST(PlyVertexColours, FaceColoursWinUnlessVertexColoursAreAskedFor) {
    const std::string ply = colouredPly(kUcharRgb, kBorderPoints, kUcharRgb, {"3 0 1 2 0 255 0"});
    GU_Detail geo;
    ColourSource source;
    EXPECT_EQ(readPly(ply, "m.ply", geo, {}, &source),
              Notes{"m.ply: faces have colours of their own; vertex colours are not used "
                    "(--vertex-colours uses them)"});
    EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{0, 1, 0}));
    EXPECT_EQ(source.ownColour, 1);

    EXPECT_EQ(readPly(ply, "m.ply", geo, ReadOptions{true}, &source),
              Notes{"m.ply: 1 face takes the colour most of its corners share (vertex colours); "
                    "no face had a tie"});
    EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(source.cornerColour, 1);
    EXPECT_TRUE(source.cornersFirst);
}

TEST(PlyVertexColours, AskingForAbsentVertexColoursIsANote) {
    const std::string ply = colouredPly("", {"", "", ""}, kUcharRgb, {"3 0 1 2 0 255 0"});
    GU_Detail geo;
    EXPECT_EQ(readPly(ply, "m.ply", geo, ReadOptions{true}),
              Notes{"m.ply: no vertex colours, so --vertex-colours changes nothing"});
    EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{0, 1, 0}));
}

TEST(PlyVertexColours, FacesListedBeforeTheirPointsStillVote) {
    const std::string ply =
        "ply\nformat ascii 1.0\nelement face 1\nproperty list uchar int vertex_indices\n"
        "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n" +
        kUcharRgb + "end_header\n3 0 1 2\n0 0 0 0 0 255\n1 0 0 255 0 0\n0 1 0 255 0 0\n";
    GU_Detail geo;
    readPly(ply, "m.ply", geo);
    EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{1, 0, 0}));
}

TEST(PlyVertexColours, PointsWithoutFacesGiveANoteWithAHint) {
    const std::string ply =
        "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
        "property float z\n" +
        kUcharRgb + "end_header\n0 0 0 255 0 0\n";
    GU_Detail geo;
    EXPECT_EQ(readPly(ply, "m.ply", geo),
              Notes{"m.ply: no faces were read (the file has no 'face' element), so there is "
                    "nothing to group; vertex colours colour faces only, with --vertex-colours "
                    "too"});
}

// Appends `value` as the named PLY type.
void putAs(std::string& out, const std::string& type, double value, bool big) {
    if (type == "uchar")
        put(out, static_cast<std::uint8_t>(value), big);
    else if (type == "char")
        put(out, static_cast<std::int8_t>(value), big);
    else if (type == "ushort")
        put(out, static_cast<std::uint16_t>(value), big);
    else if (type == "int16")
        put(out, static_cast<std::int16_t>(value), big);
    else if (type == "uint")
        put(out, static_cast<std::uint32_t>(value), big);
    else if (type == "int")
        put(out, static_cast<std::int32_t>(value), big);
    else if (type == "float")
        put(out, static_cast<float>(value), big);
    else
        put(out, value, big);
}

struct ColourType {
    const char* type;
    const char* prefix;  // "" or "diffuse_"
    double full;         // the value that means 1
};

void PrintTo(const ColourType& t, std::ostream* os) {
    *os << t.prefix << t.type;
}

class PlyVertexColourTypes : public ::testing::TestWithParam<ColourType> {};

// Points 0 and 1 red, 2 and 3 blue: the quad ties and takes red, the triangle takes blue.
TEST_P(PlyVertexColourTypes, GiveTheSameFaceColoursInEveryEncoding) {
    const ColourType& t = GetParam();
    std::string header = std::string("element vertex 4\nproperty float x\nproperty float y\n") +
                         "property float z\n";
    for (const char* c : {"red", "green", "blue"})
        header += std::string("property ") + t.type + " " + t.prefix + c + "\n";
    header += "element face 2\nproperty list uchar int vertex_indices\nend_header\n";
    const double rgb[4][3] = {{t.full, 0, 0}, {t.full, 0, 0}, {0, 0, t.full}, {0, 0, t.full}};
    const std::vector<std::vector<int>> faces = {{0, 1, 2, 3}, {2, 3, 0}};
    for (const char* format : {"ascii", "binary_little_endian", "binary_big_endian"}) {
        SCOPED_TRACE(format);
        const bool big = std::string(format) == "binary_big_endian";
        std::string ply = std::string("ply\nformat ") + format + " 1.0\n" + header;
        for (int p = 0; p < 4; ++p) {
            if (std::string(format) == "ascii") {
                ply += std::to_string(p) + " 0 0";
                for (double c : rgb[p]) {
                    char text[32];
                    ply += " " + std::string(text, std::to_chars(text, text + 32, c).ptr);
                }
                ply += "\n";
                continue;
            }
            for (float xyz : {static_cast<float>(p), 0.0f, 0.0f})
                put(ply, xyz, big);
            for (double c : rgb[p])
                putAs(ply, t.type, c, big);
        }
        for (const std::vector<int>& face : faces) {
            if (std::string(format) == "ascii") {
                ply += std::to_string(face.size());
                for (int v : face)
                    ply += " " + std::to_string(v);
                ply += "\n";
                continue;
            }
            put(ply, static_cast<std::uint8_t>(face.size()), big);
            for (int v : face)
                put(ply, static_cast<std::int32_t>(v), big);
        }
        GU_Detail geo;
        readPly(ply, "m.ply", geo);
        EXPECT_EQ(colourOf(geo, 0), (std::vector<float>{1, 0, 0}));
        EXPECT_EQ(colourOf(geo, 1), (std::vector<float>{0, 0, 1}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    NamesAndTypes, PlyVertexColourTypes,
    ::testing::Values(ColourType{"uchar", "", 255}, ColourType{"uchar", "diffuse_", 255},
                      ColourType{"char", "", 127}, ColourType{"ushort", "diffuse_", 65535},
                      ColourType{"int16", "", 32767}, ColourType{"uint", "", 4294967295.0},
                      ColourType{"int", "diffuse_", 2147483647}, ColourType{"float", "", 1},
                      ColourType{"double", "diffuse_", 1}),
    [](const auto& param) {
        return std::string(param.param.type) + (param.param.prefix[0] ? "_diffuse" : "");
    });

// ---- Header lines without a keyword ----

struct HeaderCase {
    const char* label;
    std::string extraLines;  // put after the format line, before the elements
    std::string note;        // the one note, or the error
};

class PlyHeaderText : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PlyHeaderText, IsReadAsACommentWithOneNote) {
    for (const char* format : {"ascii", "binary_little_endian"}) {
        SCOPED_TRACE(format);
        std::string ply = std::string("ply\nformat ") + format + " 1.0\n" + GetParam().extraLines +
                          "element vertex 1\nproperty float x\nproperty float y\n"
                          "property float z\nend_header\n";
        if (std::string(format) == "ascii") {
            ply += "1 2 3\n";
        } else {
            for (float v : {1.0f, 2.0f, 3.0f})
                put(ply, v, false);
        }
        GU_Detail geo;
        const Notes notes = readPly(ply, "m.ply", geo);
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[0], GetParam().note);
        EXPECT_EQ(geo.pointCount(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PlyHeaderText,
    ::testing::Values(
        HeaderCase{"free_text", "Created by an old exporter\n",
                   "m.ply:3: header line starting 'Created' has no ply keyword; read as a "
                   "comment"},
        HeaderCase{"several_lines", "comment fine\nVersion 2\n\nAuthor: someone\nTool x\n",
                   "m.ply:4: header line starting 'Version' has no ply keyword; read as a "
                   "comment (and 2 more such lines)"}),
    [](const auto& param) { return std::string(param.param.label); });

TEST(Ply, NonFiniteAsciiCoordinatesAreKept) {
    const std::string ply =
        "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
        "property float z\nend_header\nnan inf -inf\n";
    GU_Detail geo;
    readPly(ply, "m.ply", geo);
    EXPECT_TRUE(std::isnan(geo.points()[0].x()));
    EXPECT_EQ(geo.points()[0].y(), std::numeric_limits<float>::infinity());
    EXPECT_EQ(geo.points()[0].z(), -std::numeric_limits<float>::infinity());
}

// The last value of a file need not end its line, down to a value of one character, in every
// line-ending style, in memory and through the smallest window.
TEST(Ply, TheLastValueNeedsNoLineEnd) {
    const std::string header =
        "ply\nformat ascii 1.0\nelement vertex 1\nproperty float z\n"
        "property float y\nproperty float x\n";
    const struct {
        std::string bytes;
        float x;
    } cases[] = {
        {header + "end_header\n0 0 7", 7},
        {header + "end_header\r\n0 0 7", 7},
        {header + "end_header\r0 0 7", 7},
        {header + "end_header\n\n0 0 -75", -75},
        {header + "element flag 1\nproperty uchar f\nend_header\n0 0 7\n1", 7},
        {header + "element flag 1\nproperty uchar f\nend_header\r0 0 7\r1", 7},
    };
    const std::string path = testing::makeFolder() + "/m.ply";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        GU_Detail geo;
        readPly(c.bytes, "m.ply", geo);
        ASSERT_EQ(geo.pointCount(), 1);
        EXPECT_EQ(geo.points()[0].x(), c.x);
        testing::writeFile(path, c.bytes);
        GU_Detail streamed;
        detail::readPlyFileThroughWindow(path, 1, streamed, {}, nullptr);
        ASSERT_EQ(streamed.pointCount(), 1);
        EXPECT_EQ(streamed.points()[0].x(), c.x);
    }
}

TEST(Ply, HugeDeclaredCountIsRefusedBeforeAllocating) {
    const std::string ply =
        "ply\nformat binary_little_endian 1.0\nelement face 555555555555\n"
        "property list uchar int vertex_indices\nend_header\n\x03";
    GU_Detail geo;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(inputErrorOf([&] { readPly(ply, "m.ply", geo); }),
              "m.ply:3: element 'face' declares 555555555555 rows but the file has room for at "
              "most 1");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// Layouts that take the reader's typed loops and layouts that take its generic row reader, in
// both byte orders, each checked against the same mesh written as ascii.
struct Layout {
    const char* label;
    const char* vertex;  // property lines of 'vertex'
    const char* face;    // property lines of 'face'
    std::string (*pointRow)(int point, bool big);
    std::string (*faceRow)(int face, bool big);
};

const int kLayoutFaces[2][4] = {{0, 1, 2, -1}, {0, 2, 3, 1}};  // -1: a triangle
const std::uint8_t kLayoutRgb[2][3] = {{255, 0, 51}, {0, 128, 7}};

int cornersOf(int f) {
    return kLayoutFaces[f][3] < 0 ? 3 : 4;
}

std::string floatPoint(int point, bool big) {
    std::string out;
    for (int c = 0; c < 3; ++c)
        put(out, static_cast<float>(point * 3 + c) * 0.5f, big);
    return out;
}

std::string doublePointWithExtras(int point, bool big) {
    std::string out;
    put<std::uint8_t>(out, 9, big);  // a skipped 'flags'
    for (int c = 0; c < 3; ++c)
        put(out, static_cast<double>(point * 3 + c) * 0.5, big);
    put<std::uint8_t>(out, 2, big);  // a skipped list of two shorts
    put<std::int16_t>(out, 1, big);
    put<std::int16_t>(out, 2, big);
    return out;
}

template <typename Count, typename Index>
std::string listOf(int f, bool big) {
    std::string out;
    put(out, static_cast<Count>(cornersOf(f)), big);
    for (int v = 0; v < cornersOf(f); ++v)
        put(out, static_cast<Index>(kLayoutFaces[f][v]), big);
    return out;
}

std::string rgbOf(int f, bool big) {
    std::string out;
    for (int c = 0; c < 3; ++c)
        put(out, kLayoutRgb[f][c], big);
    return out;
}

std::string ucharIntThenColour(int f, bool big) {
    return listOf<std::uint8_t, std::int32_t>(f, big) + rgbOf(f, big);
}

std::string colourThenUshortUint(int f, bool big) {
    std::string out = rgbOf(f, big);
    put<float>(out, 0.25f, big);  // a skipped 'quality'
    return out + listOf<std::uint16_t, std::uint32_t>(f, big);
}

std::string splitColourAroundIntShort(int f, bool big) {
    std::string out;
    put(out, kLayoutRgb[f][0], big);
    out += listOf<std::int32_t, std::int16_t>(f, big);
    put(out, kLayoutRgb[f][1], big);
    put(out, kLayoutRgb[f][2], big);
    return out;
}

std::string twoLists(int f, bool big) {
    std::string out = listOf<std::uint8_t, std::uint32_t>(f, big);
    put<std::uint8_t>(out, 1, big);  // a skipped list of one float
    put<float>(out, 0.5f, big);
    return out + rgbOf(f, big);
}

const Layout kLayouts[] = {
    {"float_points_uchar_int_faces", "property float x\nproperty float y\nproperty float z\n",
     "property list uchar int vertex_indices\nproperty uchar red\nproperty uchar green\n"
     "property uchar blue\n",
     floatPoint, ucharIntThenColour},
    {"colour_before_ushort_uint_list", "property float x\nproperty float y\nproperty float z\n",
     "property uchar red\nproperty uchar green\nproperty uchar blue\nproperty float quality\n"
     "property list ushort uint vertex_index\n",
     floatPoint, colourThenUshortUint},
    {"colour_split_around_int_short_list", "property float x\nproperty float y\nproperty float z\n",
     "property uchar red\nproperty list int short vertex_indices\nproperty uchar green\n"
     "property uchar blue\n",
     floatPoint, splitColourAroundIntShort},
    {"double_points_with_lists_and_two_face_lists",
     "property uchar flags\nproperty double x\nproperty double y\nproperty double z\n"
     "property list uchar short extra\n",
     "property list uchar uint vertex_indices\nproperty list uchar float texcoord\n"
     "property uchar red\nproperty uchar green\nproperty uchar blue\n",
     doublePointWithExtras, twoLists},
};

std::string layoutFile(const Layout& layout, const char* format, bool big) {
    std::string ply = std::string("ply\nformat ") + format + " 1.0\nelement vertex 4\n" +
                      layout.vertex + "element face 2\n" + layout.face + "end_header\n";
    for (int p = 0; p < 4; ++p)
        ply += layout.pointRow(p, big);
    for (int f = 0; f < 2; ++f)
        ply += layout.faceRow(f, big);
    return ply;
}

GU_Detail layoutMesh() {
    std::string ply =
        "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
        "property float z\nelement face 2\nproperty list uchar int vertex_indices\n"
        "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    for (int p = 0; p < 4; ++p) {
        for (int c = 0; c < 3; ++c)
            ply += std::to_string(static_cast<float>(p * 3 + c) * 0.5f) + " ";
        ply += "\n";
    }
    for (int f = 0; f < 2; ++f) {
        ply += std::to_string(cornersOf(f));
        for (int v = 0; v < cornersOf(f); ++v)
            ply += " " + std::to_string(kLayoutFaces[f][v]);
        for (int c = 0; c < 3; ++c)
            ply += " " + std::to_string(kLayoutRgb[f][c]);
        ply += "\n";
    }
    GU_Detail geo;
    readPly(ply, "m.ply", geo);
    return geo;
}

TEST(Ply, EveryBinaryLayoutGivesTheAsciiDetailInBothByteOrders) {
    const GU_Detail expected = layoutMesh();
    ASSERT_EQ(expected.primitiveCount(), 2);
    for (const Layout& layout : kLayouts) {
        for (const bool big : {false, true}) {
            SCOPED_TRACE(std::string(layout.label) + (big ? " big" : " little"));
            const std::string ply =
                layoutFile(layout, big ? "binary_big_endian" : "binary_little_endian", big);
            GU_Detail geo = testing::makeSquare();  // replaced, storage and all
            EXPECT_TRUE(readPly(ply, "m.ply", geo).empty());
            expectSameDetail(expected, geo);
        }
    }
}

TEST(Ply, ReadingAgainIntoTheSameDetailReplacesIt) {
    GU_Detail geo;
    readPly(binarySquare(false), "m.ply", geo);
    readPly(binarySquare(true), "m.ply", geo);
    expectSameDetail(expectedSquare(), geo);
}

TEST(Ply, ReadWholeFileReadsPastASizeReportedAsZero) {
    // Files under /proc report a size of 0 but have content.
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    if (!in)
        GTEST_SKIP() << "no /proc";
    const std::string expected((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(readWholeFile("/proc/self/cmdline"), expected);
}

struct BadPly {
    const char* label;
    std::string bytes;
    std::string message;
};

class PlyRefuses : public ::testing::TestWithParam<BadPly> {};

TEST_P(PlyRefuses, WithExactMessage) {
    GU_Detail out = testing::makeSquare();
    EXPECT_EQ(GetParam().message, inputErrorOf([&] { readPly(GetParam().bytes, "m.ply", out); }));
    expectSameDetail(testing::makeSquare(), out);
}

const std::string kVertexHeader =
    "element vertex 2\nproperty float x\nproperty float y\nproperty float z\n";
const std::string kAscii = "ply\nformat ascii 1.0\n";
const std::string kLittle = "ply\nformat binary_little_endian 1.0\n";
const std::string kFaceList = "element face 1\nproperty list uchar int vertex_indices\n";

std::string littleBody(std::initializer_list<float> floats) {
    std::string out;
    for (float f : floats)
        put(out, f, false);
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PlyRefuses,
    ::testing::Values(
        BadPly{"empty", "", "m.ply: empty file"},
        BadPly{"not_ply", "obj\n", "m.ply:1: not a ply file (the first line must be 'ply')"},
        BadPly{"no_end_header", kAscii + kVertexHeader, "m.ply:6: header has no end_header line"},
        BadPly{"empty_format", "ply\nformat\nend_header\n",
               "m.ply:2: format line must be 'format <encoding> 1.0'"},
        BadPly{"unknown_format", "ply\nformat utf8 1.0\nend_header\n",
               "m.ply:2: unknown format 'utf8'"},
        BadPly{"unknown_type", kAscii + "element vertex 1\nproperty float128 x\nend_header\n",
               "m.ply:4: unknown property type 'float128'"},
        BadPly{"float_count",
               kAscii + "element face 1\nproperty list float int vertex_indices\nend_header\n",
               "m.ply:4: list count type 'float' is not an integer type"},
        BadPly{"list_count",
               kAscii + "element face 1\nproperty list list int vertex_indices\nend_header\n",
               "m.ply:4: list count type 'list' is not an integer type"},
        BadPly{"header_no_data", kAscii + kVertexHeader + "end_header\n",
               "m.ply:3: element 'vertex' declares 2 rows but the file has room for at most 0"},
        BadPly{"short_of_rows",
               kLittle + kVertexHeader + "end_header\n" + littleBody({1, 2, 3, 4, 5}) + "xy",
               "m.ply:3: element 'vertex' declares 2 rows but the file has room for at most 1"},
        BadPly{"truncated_mid_row",
               kLittle +
                   "element vertex 1\nproperty float x\nproperty float y\nproperty float z\n" +
                   kFaceList + "property uchar red\nproperty uchar green\nproperty uchar blue\n" +
                   "end_header\n" + littleBody({0, 0, 0}) + "\x01" + std::string(4, '\0') + "\x10",
               "m.ply: byte 247: file ends inside face 0"},
        BadPly{"truncated_list",
               kLittle +
                   "element vertex 1\nproperty float x\nproperty float y\nproperty float z\n" +
                   kFaceList + "end_header\n" + littleBody({0, 0, 0}) + "\x03" +
                   std::string(8, '\0') + "12",
               "m.ply: byte 182: file ends inside face 0 (list of 3 values)"},
        BadPly{"count_ffffffff",
               kLittle +
                   "element vertex 1\nproperty float x\nproperty float y\nproperty float z\n" +
                   "element face 1\nproperty list uint int vertex_indices\nend_header\n" +
                   littleBody({0, 0, 0}) + "\xff\xff\xff\xff" + std::string(4, '\0'),
               "m.ply: byte 184: file ends inside face 0 (list of 4294967295 values)"},
        BadPly{"negative_count",
               kLittle +
                   "element vertex 1\nproperty float x\nproperty float y\nproperty float z\n" +
                   "element face 1\nproperty list char int vertex_indices\nend_header\n" +
                   littleBody({0, 0, 0}) + "\xfe" + std::string(4, '\0'),
               "m.ply: byte 180: face 0 has a negative list count"},
        BadPly{"zero_count", kAscii + kVertexHeader + kFaceList + "end_header\n0 0 0\n1 1 1\n0\n",
               "m.ply:12: face 0 has no vertices"},
        BadPly{"index_out_of_range",
               kAscii + kVertexHeader + kFaceList + "end_header\n0 0 0\n1 1 1\n3 0 1 9\n",
               "m.ply:12: face 0 has index 9 but there are 2 points"},
        BadPly{"index_negative",
               kAscii + kVertexHeader + kFaceList + "end_header\n0 0 0\n1 1 1\n3 0 1 -1\n",
               "m.ply:12: face 0 has negative index -1"},
        BadPly{"binary_index_out_of_range",
               kLittle +
                   "element vertex 1\nproperty float x\nproperty float y\nproperty float z\n" +
                   kFaceList + "end_header\n" + littleBody({0, 0, 0}) + "\x01\x05" +
                   std::string(3, '\0'),
               "m.ply: byte 181: face 0 has index 5 but there is 1 point"},
        BadPly{"late_face_index_out_of_range",
               kLittle + kVertexHeader + "element face 2\n" +
                   "property list uchar int vertex_indices\nend_header\n" +
                   littleBody({0, 0, 0, 1, 1, 1}) + "\x01" + std::string(4, '\0') + "\x01\x02" +
                   std::string(3, '\0'),
               "m.ply: byte 198: face 1 has index 2 but there are 2 points"},
        BadPly{"late_face_without_vertices",
               kLittle + kVertexHeader + "element face 2\n" +
                   "property list uchar int vertex_indices\nproperty uchar red\n" +
                   "property uchar green\nproperty uchar blue\nend_header\n" +
                   littleBody({0, 0, 0, 1, 1, 1}) + "\x01" + std::string(4, '\0') + "abc" +
                   std::string(1, '\0') + "abc",
               "m.ply: byte 261: face 1 has no vertices"},
        BadPly{"late_face_cut_inside_colour_before_list",
               kLittle + kVertexHeader + "element face 2\nproperty uchar red\n" +
                   "property uchar green\nproperty list uchar int vertex_indices\n" +
                   "property uchar blue\nend_header\n" + littleBody({0, 0, 0, 1, 1, 1}) + "ab\x01" +
                   std::string(4, '\0') + "cab\x01" + std::string(4, '\0'),
               "m.ply: byte 268: file ends inside face 1"},
        BadPly{"big_endian_negative_index",
               "ply\nformat binary_big_endian 1.0\n" + kVertexHeader + kFaceList + "end_header\n" +
                   std::string(24, '\0') + "\x01\xff\xff\xff\xfe",
               "m.ply: byte 190: face 0 has negative index -2"},
        BadPly{"too_few_values", kAscii + kVertexHeader + "end_header\n0 0 0\n1    1\n",
               "m.ply:9: point 1 has too few values"},
        BadPly{"too_many_values", kAscii + kVertexHeader + "end_header\n0 0 0 0\n1 1 1\n",
               "m.ply:8: point 0 has too many values"},
        BadPly{"huge_exponent", kAscii + kVertexHeader + "end_header\n0 0 1e999999999\n1 1 1\n",
               "m.ply:8: point 0 value '1e999999999' is out of range"},
        BadPly{"ten_thousand_digits",
               kAscii + kVertexHeader + "end_header\n0 0 " + std::string(10000, '7') + "\n1 1 1\n",
               "m.ply:8: point 0 value '777777777777777777777777...' is out of range"},
        BadPly{"beyond_float", kAscii + kVertexHeader + "end_header\n0 0 1e300\n1 1 1\n",
               "m.ply:8: point 0 has a value beyond the float range"},
        BadPly{"colour_300",
               kAscii + "element vertex 1\nproperty float x\nproperty float y\nproperty float z\n" +
                   kFaceList + "property uchar red\nproperty uchar green\nproperty uchar blue\n" +
                   "end_header\n0 0 0\n1 0 300 0 0\n",
               "m.ply:14: face 0 value '300' is out of range for its type"},
        BadPly{"colour_minus_one",
               kAscii + "element vertex 1\nproperty float x\nproperty float y\nproperty float z\n" +
                   kFaceList + "property uchar red\nproperty uchar green\nproperty uchar blue\n" +
                   "end_header\n0 0 0\n1 0 -1 0 0\n",
               "m.ply:14: face 0 value '-1' is out of range for its type"},
        BadPly{"not_a_number", kAscii + kVertexHeader + "end_header\n0 0 zero\n1 1 1\n",
               "m.ply:8: point 0 value 'zero' is not a number"},
        BadPly{"trailing_bytes",
               kLittle + kVertexHeader + "end_header\n" + littleBody({1, 2, 3, 4, 5, 6, 7}),
               "m.ply: byte 139: 4 bytes after the last element"},
        BadPly{"missing_xyz", kAscii + "element vertex 1\nproperty float x\nend_header\n0\n",
               "m.ply:3: element 'vertex' needs properties x, y and z"},
        BadPly{"mistyped_keyword_is_named_in_the_error",
               kAscii + "element vertex 1\nproperty float x\nproprety float y\nproperty float z\n" +
                   "end_header\n0 0 0\n",
               "m.ply:3: element 'vertex' needs properties x, y and z (line 5 was read as a "
               "comment)"},
        BadPly{"no_format_after_a_mistyped_one", "ply\nfromat ascii 1.0\nend_header\n",
               "m.ply:3: header has no format line (line 2 was read as a comment)"}),
    [](const auto& param) { return std::string(param.param.label); });

}  // namespace
}  // namespace hueslice::io
