// Malformed input, unusable plug-ins and failing outputs, run through the whole program: each
// row must end in one line on stderr naming the file, the place and the fault, exit status 1,
// an old output file left as it was and no stray file left in the folder. The few rows that
// are legal input check that they really cook.

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cli_harness.h"
#include "support/package_files.h"

namespace {

namespace fs = std::filesystem;
using cli_testing::CliTest;
using cli_testing::meshPly;

// ---- Building inputs ----

std::string le32(std::uint32_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

std::string f32(float f) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return le32(bits);
}

const std::string kVertexElement =
    "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n";

std::string faceElement(int count, const std::string& countType = "uchar") {
    return "element face " + std::to_string(count) + "\nproperty list " + countType +
           " int vertex_indices\n";
}

std::string plyHeader(const std::string& format, const std::string& elements) {
    return "ply\nformat " + format + " 1.0\n" + elements + "end_header\n";
}

// Three points, as ascii rows or little-endian floats.
const std::string kAsciiPoints = "0 0 0\n1 0 0\n0 1 0\n";
const std::string kBinaryPoints =
    f32(0) + f32(0) + f32(0) + f32(1) + f32(0) + f32(0) + f32(0) + f32(1) + f32(0);

std::string asciiTriangle(const std::string& faceRows, int faces = 1) {
    return plyHeader("ascii", kVertexElement + faceElement(faces)) + kAsciiPoints + faceRows;
}

// One face whose colour is the given uchar row text.
std::string asciiColouredTriangle(const std::string& colour) {
    return plyHeader("ascii",
                     kVertexElement + faceElement(1) +
                         "property uchar red\nproperty uchar green\nproperty uchar blue\n") +
           kAsciiPoints + "3 0 1 2 " + colour + "\n";
}

std::string asciiPoint(const std::string& coordinates) {
    return plyHeader("ascii", kVertexElement + faceElement(1)) + "0 0 0\n" + coordinates +
           "\n0 1 0\n3 0 1 2\n";
}

std::string binaryFace(const std::string& countType, const std::string& row) {
    return plyHeader("binary_little_endian", kVertexElement + faceElement(1, countType)) +
           kBinaryPoints + row;
}

std::string binaryIndices(int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += le32(static_cast<std::uint32_t>(i % 3));
    return out;
}

std::string withCrlfHeader(const std::string& ply) {
    const std::size_t end = ply.find("end_header\n") + std::strlen("end_header\n");
    std::string header;
    for (char c : ply.substr(0, end))
        header += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return header + ply.substr(end);
}

// A binary triangle whose header lines end with a bare CR; its data starts with `firstByte`.
std::string bareCrBinaryTriangle(unsigned char firstByte) {
    const std::string header = plyHeader("binary_little_endian", kVertexElement + faceElement(1));
    std::string crHeader;
    for (char c : header)
        crHeader += c == '\n' ? '\r' : c;
    return crHeader + le32(0x3F800000u | firstByte) + kBinaryPoints.substr(4) + "\3" +
           binaryIndices(3);
}

std::string replaceAll(std::string text, char from, const std::string& to) {
    std::string out;
    for (char c : text)
        out += c == from ? to : std::string(1, c);
    return out;
}

const std::string kObjTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
const std::string kJsonTriangle =
    R"({"points": [[0,0,0],[1,0,0],[0,1,0]], "primitives": [[0,1,2]])";

std::string jsonTriangleWith(const std::string& members) {
    return kJsonTriangle + ",\n" + members + "}\n";
}

std::string deepJson(int depth) {
    return "{\"points\": " + std::string(static_cast<std::size_t>(depth), '[') +
           std::string(static_cast<std::size_t>(depth), ']') + "}";
}

// Big enough that writing it out exceeds a small file size limit many times over.
std::string bigJsonMesh() {
    std::string text = "{\"points\": [";
    for (int i = 0; i < 3000; ++i)
        text += (i ? ",[" : "[") + std::to_string(i) + ".125,0.5,0.25]";
    return text + "], \"primitives\": [[0,1,2]]}\n";
}

const std::string kBytes = std::to_string(plyHeader("binary_little_endian", "").size());

// ---- Rows ----

using Files = std::vector<std::pair<std::string, std::string>>;

enum class Setup {
    None,
    ReadOnlyFolder,  // a folder "ro" that the program may not write into
    FileSizeLimit,   // the program runs with a file size limit far below its output
};

struct Row {
    const char* label;
    Files files;
    std::vector<std::string> args;
    int status;
    // The whole of stderr. "{dir}" stands for the test's folder; a trailing "..." asks for the
    // line to start with the text before it.
    std::string err;
    Setup setup = Setup::None;
};

std::vector<std::string> cook(const std::string& input) {
    return {"cook", input, "-o", "out.json"};
}

std::vector<std::string> cookWithScene(const std::string& scene) {
    return {"cook", "mesh.json", "--scene", scene, "-o", "out.json"};
}

std::vector<std::string> cookWithPlugin(const std::string& plugin) {
    return {"cook", "mesh.json", "--plugin", plugin, "-o", "out.json"};
}

std::string fixture(const char* name) {
    return std::string(HUESLICE_FIXTURE_DIR) + "/fixture_" + name + ".so";
}

std::string replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        names.insert(fs::relative(entry.path(), dir).string());
    return names;
}

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.label;
}

class BadInputTest : public CliTest, public ::testing::WithParamInterface<Row> {};

TEST_P(BadInputTest, OneLineExitStatusAndOutputsUntouched) {
    const Row& row = GetParam();
    write("out.json", "old output\n");
    for (const auto& [name, bytes] : row.files) {
        fs::create_directories((dir / name).parent_path());
        write(name, bytes);
    }
    std::string before;
    if (row.setup == Setup::ReadOnlyFolder) {
        fs::create_directory(dir / "ro");
        fs::permissions(dir / "ro",
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        if (geteuid() == 0) {
            // Permissions do not bind root: run the program as an ordinary user instead.
            if (!fs::exists("/usr/bin/setpriv"))
                GTEST_SKIP() << "running as root without setpriv";
            for (const auto& entry : fs::recursive_directory_iterator(dir)) {
                fs::permissions(entry.path(), fs::perms::others_read, fs::perm_options::add);
            }
            fs::permissions(dir, fs::perms::others_read | fs::perms::others_exec,
                            fs::perm_options::add);
            before = "setpriv --reuid=65534 --regid=65534 --clear-groups";
        }
    } else if (row.setup == Setup::FileSizeLimit) {
        before = "ulimit -f 8 &&";
    }
    const std::set<std::string> files = listing(dir);

    const auto r = run(row.args, before);

    EXPECT_EQ(r.status, row.status) << r.err;
    const std::string expected = replace(row.err, "{dir}", dir.string());
    if (expected.size() >= 3 && expected.compare(expected.size() - 3, 3, "...") == 0) {
        const std::string prefix = expected.substr(0, expected.size() - 3);
        EXPECT_EQ(r.err.compare(0, prefix.size(), prefix), 0) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    } else {
        EXPECT_EQ(r.err, expected);
    }
    if (row.status == 0) {
        EXPECT_EQ(read("out.json").rfind("{\n  \"points\": [", 0), 0u) << "the cook's result";
    } else {
        EXPECT_EQ(read("out.json"), "old output\n");
    }
    EXPECT_EQ(listing(dir), files) << "no file is left behind or lost";
}

const Files kMesh = {{"mesh.json", kJsonTriangle + "}\n"}};

Files meshAnd(const std::string& name, const std::string& bytes) {
    Files files = kMesh;
    files.emplace_back(name, bytes);
    return files;
}

std::string suite(const ::testing::TestParamInfo<Row>& p) {
    return p.param.label;
}

const std::string kMeshPly = meshPly("binary_little_endian");
const std::size_t kMeshData = kMeshPly.find("end_header\n") + std::strlen("end_header\n");
const std::string kDigits(10000, '7');

std::string at(std::size_t byte) {
    return std::to_string(byte);
}

// ---- PLY header ----

const Row kPlyHeaderRows[] = {
    {"ZeroByteFile", {{"in.ply", ""}}, cook("in.ply"), 1, "hueslice: in.ply: empty file\n"},
    {"HeaderWithNoData",
     {{"in.ply", plyHeader("ascii", kVertexElement)}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:3: element 'vertex' declares 3 rows but the file has room for at most 0\n"},
    {"HeaderWithNoElementsIsAnEmptyMesh",
     {{"in.ply", plyHeader("ascii", "")}},
     cook("in.ply"),
     0,
     ""},
    {"MissingEndHeader",
     {{"in.ply", "ply\nformat ascii 1.0\n" + kVertexElement}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:6: header has no end_header line\n"},
    {"EmptyFormatLine",
     {{"in.ply", "ply\nformat\n" + kVertexElement + "end_header\n" + kAsciiPoints}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:2: format line must be 'format <encoding> 1.0'\n"},
    {"UnknownFormat",
     {{"in.ply", plyHeader("binary_middle_endian", kVertexElement) + kAsciiPoints}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:2: unknown format 'binary_middle_endian'\n"},
    {"UnknownPropertyType",
     {{"in.ply", plyHeader("ascii", "element vertex 1\nproperty float128 x\n") + "0\n"}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:4: unknown property type 'float128'\n"},
    {"ElementCountBeyond64Bits",
     {{"in.ply", plyHeader("ascii", "element vertex 18446744073709551616\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:3: element count '18446744073709551616' is too large\n"},
    {"NegativeElementCount",
     {{"in.ply", plyHeader("ascii", "element vertex -1\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:3: element count '-1' is not a whole number\n"},
};
INSTANTIATE_TEST_SUITE_P(PlyHeader, BadInputTest, ::testing::ValuesIn(kPlyHeaderRows), suite);

// ---- PLY truncation, row lengths and element counts ----

const Row kPlyRowRows[] = {
    {"BinaryTruncatedMidHeader",
     {{"in.ply", kMeshPly.substr(0, 100)}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:6: header has no end_header line\n"},
    {"BinaryTruncatedMidRow",
     {{"in.ply", kMeshPly.substr(0, kMeshData + 120 + 18)}},
     cook("in.ply"),
     1,
     "hueslice: in.ply: byte " + at(kMeshData + 138) + ": file ends inside face 0\n"},
    {"BinaryTruncatedMidList",
     {{"in.ply", kMeshPly.substr(0, kMeshData + 120 + 20 + 7)}},
     cook("in.ply"),
     1,
     "hueslice: in.ply: byte " + at(kMeshData + 141) +
         ": file ends inside face 1 (list of 4 values)\n"},
    {"AsciiRowWithTooFewValues",
     {{"in.ply", asciiPoint("1 0")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:11: point 1 has too few values\n"},
    {"AsciiRowWithTooManyValues",
     {{"in.ply", asciiPoint("1 0 0 7")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:11: point 1 has too many values\n"},
    {"AsciiDataAfterTheLastElement",
     {{"in.ply", asciiTriangle("3 0 1 2\n3 0 1 2\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:14: data after the last element\n"},
    {"BinaryBytesAfterTheLastElement",
     {{"in.ply", kMeshPly + "xy"}},
     cook("in.ply"),
     1,
     "hueslice: in.ply: byte " + at(kMeshPly.size()) + ": 2 bytes after the last element\n"},
    {"HugeFaceCountRefusedBeforeAllocating",
     {{"in.ply", plyHeader("binary_little_endian", kVertexElement +
                                                       "element face 555555555555\n"
                                                       "property list uchar int vertex_indices\n") +
                     kBinaryPoints + "\3" + binaryIndices(3)}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:7: element 'face' declares 555555555555 rows but the file has room for "
     "at most 13\n"},
    {"MaximalElementCount",
     {{"in.ply", plyHeader("ascii",
                           "element vertex 18446744073709551615\nproperty float x\n"
                           "property float y\nproperty float z\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:3: element 'vertex' declares 18446744073709551615 rows but the file has "
     "room for at most 0\n"},
};
INSTANTIATE_TEST_SUITE_P(PlyRows, BadInputTest, ::testing::ValuesIn(kPlyRowRows), suite);

// ---- PLY list counts and indices ----

const Row kPlyListRows[] = {
    {"ListCountZero",
     {{"in.ply", asciiTriangle("0\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:13: face 0 has no vertices\n"},
    {"ListCountOneIsADegenerateFace", {{"in.ply", asciiTriangle("1 0\n")}}, cook("in.ply"), 0, ""},
    {"ListCountTwoIsADegenerateFace",
     {{"in.ply", asciiTriangle("2 0 1\n")}},
     cook("in.ply"),
     0,
     ""},
    {"ListCount255",
     {{"in.ply", binaryFace("uchar", "\xff" + binaryIndices(255))}},
     cook("in.ply"),
     0,
     ""},
    {"ListCount255WithIndicesMissing",
     {{"in.ply", asciiTriangle("255 0 1 2\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:13: face 0 has too few values\n"},
    {"ListCount0xFFFFFFFF",
     {{"in.ply", binaryFace("uint", le32(0xFFFFFFFF) + binaryIndices(3))}},
     cook("in.ply"),
     1,
     "hueslice: in.ply: byte " + at(binaryFace("uint", "").size() + 4) +
         ": file ends inside face 0 (list of 4294967295 values)\n"},
    {"NegativeInt8CountBinary",
     {{"in.ply", binaryFace("int8", "\xff" + binaryIndices(3))}},
     cook("in.ply"),
     1,
     "hueslice: in.ply: byte " + at(binaryFace("int8", "").size()) +
         ": face 0 has a negative list count\n"},
    {"NegativeInt8CountAscii",
     {{"in.ply",
       plyHeader("ascii", kVertexElement + faceElement(1, "int8")) + kAsciiPoints + "-1 0 1 2\n"}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:13: face 0 has a negative list count\n"},
    {"FloatCountType",
     {{"in.ply",
       plyHeader("ascii", kVertexElement + faceElement(1, "float")) + kAsciiPoints + "3 0 1 2\n"}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:8: list count type 'float' is not an integer type\n"},
    {"ListCountType",
     {{"in.ply",
       plyHeader("ascii", kVertexElement + faceElement(1, "list")) + kAsciiPoints + "3 0 1 2\n"}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:8: list count type 'list' is not an integer type\n"},
    {"IndexAtThePointCount",
     {{"in.ply", asciiTriangle("3 0 1 3\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:13: face 0 has index 3 but there are 3 points\n"},
    {"NegativeIndexIsCalledNegative",
     {{"in.ply", asciiTriangle("3 0 -1 2\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:13: face 0 has negative index -1\n"},
    {"OnePointIsSingular",
     {{"in.ply", plyHeader("ascii",
                           "element vertex 1\nproperty float x\nproperty float y\n"
                           "property float z\n" +
                               faceElement(1)) +
                     "0 0 0\n3 0 0 1\n"}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:11: face 0 has index 1 but there is 1 point\n"},
};
INSTANTIATE_TEST_SUITE_P(PlyLists, BadInputTest, ::testing::ValuesIn(kPlyListRows), suite);

// ---- PLY numbers and line endings ----

const Row kPlyTextRows[] = {
    {"NanAndInfCoordinatesAreRead",
     {{"in.ply", asciiPoint("nan inf -inf")}},
     cook("in.ply"),
     0,
     ""},
    {"NanForAUcharColour",
     {{"in.ply", asciiColouredTriangle("nan 0 0")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:16: face 0 value 'nan' is not an integer\n"},
    {"ExponentBeyondDouble",
     {{"in.ply", asciiPoint("1e999999999 0 0")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:11: point 1 value '1e999999999' is out of range\n"},
    {"ValueBeyondFloat",
     {{"in.ply", asciiPoint("0 1e300 0")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:11: point 1 has a value beyond the float range\n"},
    {"TenThousandDigitCoordinate",
     {{"in.ply", asciiPoint(kDigits + " 0 0")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:11: point 1 value '777777777777777777777777...' is out of range\n"},
    {"TenThousandDigitIndex",
     {{"in.ply", asciiTriangle("3 0 1 " + kDigits + "\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:13: face 0 value '777777777777777777777777...' is out of range\n"},
    {"UcharColour300IsNotWrapped",
     {{"in.ply", asciiColouredTriangle("300 0 0")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:16: face 0 value '300' is out of range for its type\n"},
    {"UcharColourMinusOne",
     {{"in.ply", asciiColouredTriangle("0 -1 0")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:16: face 0 value '-1' is out of range for its type\n"},
    {"CrlfHeaderOnBinary", {{"in.ply", withCrlfHeader(kMeshPly)}}, cook("in.ply"), 0, ""},
    {"CrlfLinesCountOnce",
     {{"in.ply", replaceAll(asciiPoint("1 0"), '\n', "\r\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:11: point 1 has too few values\n"},
    {"BareCrLineEnds",
     {{"in.ply", replaceAll(asciiTriangle("3 0 1 2\n"), '\n', "\r")}},
     cook("in.ply"),
     0,
     ""},
    {"BareCrLinesCountOnce",
     {{"in.ply", replaceAll(asciiPoint("1 0"), '\n', "\r")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:11: point 1 has too few values\n"},
    {"BareCrHeaderOnBinary", {{"in.ply", bareCrBinaryTriangle('x')}}, cook("in.ply"), 0, ""},
    {"BareCrHeaderSwallowedALineFeedStartingTheData",
     {{"in.ply", bareCrBinaryTriangle('\n')}},
     cook("in.ply"),
     0,
     ""},
    {"NoFinalNewline", {{"in.ply", asciiTriangle("3 0 1 2")}}, cook("in.ply"), 0, ""},
    {"BlankLines",
     {{"in.ply", "ply\n\nformat ascii 1.0\n" + kVertexElement + faceElement(1) +
                     "\nend_header\n\n" + kAsciiPoints + "\n\n3 0 1 2\n\n"}},
     cook("in.ply"),
     0,
     ""},
};
INSTANTIATE_TEST_SUITE_P(PlyText, BadInputTest, ::testing::ValuesIn(kPlyTextRows), suite);

// ---- OBJ and MTL ----

const Row kObjRows[] = {
    {"ObjIndexZero",
     {{"in.obj", kObjTriangle + "f 0 1 2\n"}},
     cook("in.obj"),
     1,
     "hueslice: in.obj:4: face 0 has index 0 (indices count from 1)\n"},
    {"ObjIndexBeyondMinusCount",
     {{"in.obj", kObjTriangle + "f -4 1 2\n"}},
     cook("in.obj"),
     1,
     "hueslice: in.obj:4: face 0 has index -4 but only 3 points come before it\n"},
    {"ObjIndexMinInt",
     {{"in.obj", kObjTriangle + "f 1 2 -2147483648\n"}},
     cook("in.obj"),
     1,
     "hueslice: in.obj:4: face 0 has index -2147483648 but only 3 points come before it\n"},
    {"ObjIndexBeyondCount",
     {{"in.obj", kObjTriangle + "f 1 2 4\n"}},
     cook("in.obj"),
     1,
     "hueslice: in.obj:4: face 0 has index 4 but there are 3 points\n"},
    {"ObjVertexWithTwoCoordinates",
     {{"in.obj", "v 0 0\n"}},
     cook("in.obj"),
     1,
     "hueslice: in.obj:1: vertex needs 3 numeric coordinates\n"},
    {"ObjBareGroup",
     {{"in.obj", kObjTriangle + "g walls\nf 1 2 3\ng\nf 1 2 3\n"}},
     cook("in.obj"),
     0,
     ""},
    {"ObjUsemtlWithoutAName",
     {{"in.obj", kObjTriangle + "usemtl\nf 1 2 3\n"}},
     cook("in.obj"),
     0,
     "hueslice: in.obj: usemtl without a name; those faces have no material\n"},
    {"ObjMissingMtl",
     {{"in.obj", "mtllib in.mtl\n" + kObjTriangle + "usemtl red\nf 1 2 3\n"}},
     cook("in.obj"),
     0,
     "hueslice: in.obj: material library 'in.mtl' not found; faces get no colour\n"},
    {"MtlKdWithTwoNumbers",
     {{"in.obj", "mtllib in.mtl\n" + kObjTriangle + "usemtl red\nf 1 2 3\n"},
      {"in.mtl", "newmtl red\nKd 1 0\n"}},
     cook("in.obj"),
     1,
     "hueslice: in.mtl:2: Kd needs 3 numbers\n"},
};
INSTANTIATE_TEST_SUITE_P(Obj, BadInputTest, ::testing::ValuesIn(kObjRows), suite);

// ---- JSON geometry ----

const std::string kTwoTriangles =
    R"({"points": [[0,0,0],[1,0,0],[0,1,0]], "primitives": [[0,1,2],[2,1,0]])";

const Row kJsonRows[] = {
    {"JsonArrayAtTheTop",
     {{"in.json", "[]"}},
     cook("in.json"),
     1,
     "hueslice: in.json:1: expected an object at the top, found an array\n"},
    {"JsonPointsNotAnArray",
     {{"in.json", "{\"points\": {},\n \"primitives\": []}"}},
     cook("in.json"),
     1,
     "hueslice: in.json:1: 'points' must be an array, found an object\n"},
    {"JsonIndexNotAnInteger",
     {{"in.json", R"({"points": [[0,0,0]], "primitives": [[0, 0.5, 0]]})"}},
     cook("in.json"),
     1,
     "hueslice: in.json:1: primitive 0 has an index that is not an integer\n"},
    {"JsonGroupMemberOutOfRange",
     {{"in.json", jsonTriangleWith(R"("primitive_groups": {"g": [1]})")}},
     cook("in.json"),
     1,
     "hueslice: in.json:2: group 'g' has member 1 but there is 1 primitive\n"},
    {"JsonGroupMembersUnsorted",
     {{"in.json", kTwoTriangles + ",\n" + R"("primitive_groups": {"g": [1, 0]}})"}},
     cook("in.json"),
     1,
     "hueslice: in.json:2: group 'g' members must be ascending without repeats (0 after 1)\n"},
    {"JsonAttributeWithTooManyValues",
     {{"in.json",
       jsonTriangleWith(
           R"("primitive_attributes": {"Cd": {"type": "float", "size": 3, "values": [[1,0,0],[0,1,0]]}})")}},
     cook("in.json"),
     1,
     "hueslice: in.json:2: primitive attribute 'Cd' has 2 values but there is 1 primitive\n"},
    {"JsonAttributeTupleTooShort",
     {{"in.json",
       jsonTriangleWith(
           R"("primitive_attributes": {"Cd": {"type": "float", "size": 3, "values": [[1,0]]}})")}},
     cook("in.json"),
     1,
     "hueslice: in.json:2: primitive attribute 'Cd' value 0 must be an array of 3 numbers\n"},
    {"JsonDuplicateKey",
     {{"in.json", R"({"points": [],)"
                  "\n"
                  R"("points": [], "primitives": []})"}},
     cook("in.json"),
     1,
     "hueslice: in.json:2: key 'points' appears twice in one object\n"},
    {"JsonNesting10000Deep",
     {{"in.json", deepJson(10000)}},
     cook("in.json"),
     1,
     "hueslice: in.json:1: nesting deeper than 256 levels\n"},
};
INSTANTIATE_TEST_SUITE_P(Json, BadInputTest, ::testing::ValuesIn(kJsonRows), suite);

// ---- Scenes ----

const Row kSceneRows[] = {
    {"SceneUnknownToken", meshAnd("scene.json", R"({"parameters": {"bogus": 1}})"),
     cookWithScene("scene.json"), 1, "hueslice: scene.json:1: unknown parameter 'bogus'\n"},
    {"SceneWrongType", meshAnd("scene.json", R"({"parameters": {"numobj": "three"}})"),
     cookWithScene("scene.json"), 1,
     "hueslice: scene.json:1: parameter 'numobj': expected a number, found a string\n"},
    {"SceneNumobjMinusOne", meshAnd("scene.json", R"({"parameters": {"numobj": -1}})"),
     cookWithScene("scene.json"), 1,
     "hueslice: scene.json:1: parameter 'numobj': count must be from 0 to 100000\n"},
    {"SceneNumobjBillionRefusedBeforeAllocating",
     meshAnd("scene.json", R"({"parameters": {"numobj": 1000000000}})"),
     cookWithScene("scene.json"), 1,
     "hueslice: scene.json:1: parameter 'numobj': count must be from 0 to 100000\n"},
    {"SceneKeyframesOutOfOrder",
     meshAnd("scene.json",
             R"({"parameters": {"numobj": 1, "col1": {"keys": [[5, [1,0,0]], [2, [0,1,0]]]}}})"),
     cookWithScene("scene.json"), 1,
     "hueslice: scene.json:1: parameter 'col1': key times must increase (key 1 at 2)\n"},
    {"OneSceneEntryIsSingular",
     meshAnd("scene.json", R"({"parameters": {"numobj": 1, "group2": "x"}})"),
     cookWithScene("scene.json"), 1,
     "hueslice: scene.json:1: parameter 'group2': there is only 1 entry in 'numobj'\n"},
};
INSTANTIATE_TEST_SUITE_P(Scene, BadInputTest, ::testing::ValuesIn(kSceneRows), suite);

// ---- Plug-ins ----

const Row kPluginRows[] = {
    {"PluginMissing", kMesh, cookWithPlugin("nothing.so"), 1,
     "hueslice: {dir}/nothing.so: no such file\n"},
    {"PluginIsAFolder", kMesh, cookWithPlugin("."), 1, "hueslice: {dir}/.: not a regular file\n"},
    {"PluginNotALibrary", meshAnd("notalib.so", std::string(200, 'x')),
     cookWithPlugin("notalib.so"), 1,
     "hueslice: {dir}/notalib.so: not a loadable library ({dir}/notalib.so: invalid ELF "
     "header)\n"},
    {"PluginWithoutEntryPoints", kMesh, cookWithPlugin(fixture("no_entry_points")), 1,
     "hueslice: " + fixture("no_entry_points") + ": missing entry point '..."},
    {"PluginOfAnotherInterfaceVersion", kMesh, cookWithPlugin(fixture("wrong_version")), 1,
     "hueslice: " + fixture("wrong_version") +
         ": built for plug-in interface version '6.5', this host needs '7.0'\n"},
};
INSTANTIATE_TEST_SUITE_P(Plugin, BadInputTest, ::testing::ValuesIn(kPluginRows), suite);

// ---- 3MF and glTF ----

std::string triangle3mf(const std::string& objectAttributes, const std::string& triangle) {
    return package_files::threeMf(
        R"(<basematerials id="1"><base name="red" displaycolor="#FF0000"/></basematerials>)" +
            package_files::meshObject(5, objectAttributes, {triangle}),
        R"(<item objectid="5"/>)");
}

// One triangle: three float points then three uint16 indices (42 bytes, padded to 44).
std::string triangleBin() {
    return f32(0) + f32(0) + f32(0) + f32(1) + f32(0) + f32(0) + f32(0) + f32(1) + f32(0) +
           std::string("\0\0\1\0\2\0\0\0", 8);
}

std::string triangleGltf(int positionCount, const std::string& buffer) {
    return R"({"asset": {"version": "2.0"}, "buffers": [)" + buffer +
           R"(], "bufferViews": [{"buffer": 0, "byteLength": 36},)"
           R"( {"buffer": 0, "byteOffset": 36, "byteLength": 6}],)"
           R"( "accessors": [{"bufferView": 0, "componentType": 5126, "count": )" +
           std::to_string(positionCount) +
           R"(, "type": "VEC3"}, {"bufferView": 1, "componentType": 5123, "count": 3,)"
           R"( "type": "SCALAR"}], "meshes": [{"primitives": [{"attributes": {"POSITION": 0},)"
           R"( "indices": 1}]}]})";
}

const Row kExchangeRows[] = {
    {"CorruptZip",
     {{"in.3mf", triangle3mf("", "").substr(0, 300)}},
     cook("in.3mf"),
     1,
     "hueslice: in.3mf: cannot read 3mf: ..."},
    {"ThreeMfMissingPropertyReference",
     {{"in.3mf", triangle3mf(R"(pid="1" pindex="0")", R"(pid="4" p1="0")")}},
     cook("in.3mf"),
     1,
     "hueslice: in.3mf: 3D/3dmodel.model: triangle 0 of object 5 refers to property group 4, "
     "which does not exist\n"},
    {"GlbTruncatedBuffer",
     {{"in.glb", package_files::glbOf(triangleGltf(3, R"({"byteLength": 44})"),
                                      triangleBin().substr(0, 40))}},
     cook("in.glb"),
     1,
     "hueslice: in.glb: cannot read glb: Invalid `byteLength'. Must be equal or less than binary "
     "size: `byteLength' = 44, binary size = 40\n"},
    {"AccessorOutOfRange",
     {{"in.gltf",
       triangleGltf(4, R"({"byteLength": 44, "uri": "data:application/octet-stream;base64,)" +
                           package_files::base64(triangleBin()) + "\"}")}},
     cook("in.gltf"),
     1,
     "hueslice: in.gltf: accessor 0 (mesh 0 primitive 0 POSITION) has 4 elements from byte 0, "
     "which reach past the 36 bytes of buffer view 0\n"},
    {"GltfExternalBufferMissing",
     {{"in.gltf", triangleGltf(3, R"({"byteLength": 44, "uri": "in.bin"})")}},
     cook("in.gltf"),
     1,
     "hueslice: in.gltf: cannot read gltf: ..."},
};
INSTANTIATE_TEST_SUITE_P(Exchange, BadInputTest, ::testing::ValuesIn(kExchangeRows), suite);

// ---- Files that cannot be read or written ----

const Row kFileRows[] = {
    {"InputIsAFolder",
     {{"folder.ply/keep", ""}},
     cook("folder.ply"),
     1,
     "hueslice: folder.ply: cannot read file: Is a directory\n"},
    {"UnknownInputType",
     {{"in.stl", "solid\n"}},
     cook("in.stl"),
     1,
     "hueslice: in.stl: unknown file type (expected .json, .ply, .obj, .3mf, .gltf or .glb)\n"},
    {"OutputFolderMissing",
     kMesh,
     {"cook", "mesh.json", "--save-scene", "missing/scene.json"},
     1,
     "hueslice: missing/scene.json: cannot create file: No such file or directory\n"},
    {"OutputFolderIsAFile",
     meshAnd("notdir", "a file\n"),
     {"cook", "mesh.json", "-o", "notdir/out.json"},
     1,
     "hueslice: notdir/out.json: cannot create file: Not a directory\n"},
    {"OutputFolderReadOnly",
     kMesh,
     {"cook", "mesh.json", "-o", "ro/out.json"},
     1,
     "hueslice: ro/out.json: cannot create file: Permission denied\n",
     Setup::ReadOnlyFolder},
    {"DiskFullLeavesNoPartialFile",
     {{"mesh.json", bigJsonMesh()}},
     cook("mesh.json"),
     1,
     "hueslice: out.json: cannot write file: File too large\n",
     Setup::FileSizeLimit},
};
INSTANTIATE_TEST_SUITE_P(Files, BadInputTest, ::testing::ValuesIn(kFileRows), suite);

}  // namespace
