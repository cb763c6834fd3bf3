// Malformed input, unusable plug-ins and failing outputs, run through the whole program: each
// row must end in one line on stderr naming the file, the place and the fault, exit status 1
// (2 for a command line that cannot be carried out), every old file left as it was byte for
// byte, with its permissions, and no stray file left in the folder. The rows that are legal
// input check that they really cook.

#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
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

// Room for the program and a small mesh, far too little for kBigJson.
constexpr int kMemoryLimitKb = 60000;

using Files = std::vector<std::pair<std::string, std::string>>;

enum class Setup {
    None,
    ReadOnlyFolder,  // a folder "ro" that the program may not write into
    FileSizeLimit,   // the program runs with a file size limit far below its output
    MemoryLimit,     // the program runs with far less address space than the input needs
    StickyFolder,    // a folder "sticky" like /tmp with sticky/mine.json of the program's user
                     // and sticky/theirs.json of another user, writable by all
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
    std::vector<std::string> fifos = {};  // made before the run, with no writer
    Files links = {};                     // symbolic links: name, target
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

// Every regular file under `dir` with its permission bits and content.
std::map<std::string, std::pair<fs::perms, std::string>> snapshot(const fs::path& dir) {
    std::map<std::string, std::pair<fs::perms, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file() && !entry.is_symlink()) {
            files[fs::relative(entry.path(), dir).string()] = {entry.status().permissions(),
                                                               cli_testing::readFile(entry.path())};
        }
    }
    return files;
}

// Whether the program can start at all with `limit`: sanitizer builds reserve more address
// space than any useful limit allows.
bool startsWith(const std::string& limit) {
    const std::string command = limit + " '" HUESLICE_PROGRAM "' --version > /dev/null 2>&1";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
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
    } else if (row.setup == Setup::StickyFolder) {
        // A shared folder such as /tmp holding another user's file: only a second user can
        // make that happen, and only root can act as two users.
        if (geteuid() != 0 || !fs::exists("/usr/bin/setpriv"))
            GTEST_SKIP() << "needs root and setpriv";
        fs::create_directory(dir / "sticky");
        fs::permissions(dir / "sticky", fs::perms::all | fs::perms::sticky_bit);
        write("sticky/mine.json", "mine\n");
        write("sticky/theirs.json", "theirs\n");
        ASSERT_EQ(::chown((dir / "sticky/mine.json").c_str(), 65534, 65534), 0);
        fs::permissions(dir / "sticky/theirs.json", fs::perms::all);
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            fs::permissions(entry.path(), fs::perms::others_read, fs::perm_options::add);
        fs::permissions(dir, fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
        before = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    } else if (row.setup == Setup::FileSizeLimit) {
        before = "ulimit -f 8 &&";
    } else if (row.setup == Setup::MemoryLimit) {
        before = "ulimit -v " + std::to_string(kMemoryLimitKb) + " &&";
        if (!startsWith(before))
            GTEST_SKIP() << "the program does not start with " << before;
    }
    for (const std::string& fifo : row.fifos)
        ASSERT_EQ(::mkfifo((dir / fifo).c_str(), 0644), 0);
    for (const auto& [name, target] : row.links)
        fs::create_symlink(target, dir / name);
    const std::set<std::string> files = listing(dir);
    const auto old = snapshot(dir);

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
        const auto o = std::find(row.args.begin(), row.args.end(), "-o");
        const std::string output = o == row.args.end() ? "out.json" : *(o + 1);
        EXPECT_NE(read(output), old.at(output).second) << "the cook's result in " << output;
        if (output == "out.json") {
            EXPECT_EQ(read(output).rfind("{\n  \"points\": [", 0), 0u) << "the cook's result";
        }
    } else {
        EXPECT_EQ(snapshot(dir), old) << "every old file as it was";
    }
    EXPECT_EQ(listing(dir), files) << "no file is left behind or lost";
    for (const std::string& fifo : row.fifos)
        EXPECT_TRUE(fs::is_fifo(dir / fifo)) << fifo;
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
     "hueslice: in.ply: no faces were read (the file has no 'face' element), so there is nothing "
     "to group\n"},
    {"FreeTextHeaderLineIsAComment",
     {{"in.ply", "ply\nformat ascii 1.0\nCreated by an old exporter\n" + kVertexElement +
                     faceElement(1) + "end_header\n" + kAsciiPoints + "3 0 1 2\n"}},
     cook("in.ply"),
     0,
     "hueslice: in.ply:3: header line starting 'Created' has no ply keyword; read as a "
     "comment\n"},
    {"MistypedPropertyKeywordIsNamed",
     {{"in.ply",
       "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
       "propperty float z\n" +
           faceElement(1) + "end_header\n" + kAsciiPoints + "3 0 1 2\n"}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:3: element 'vertex' needs properties x, y and z (line 6 was read as a "
     "comment)\n"},
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
    {"ObjEmptyFile", {{"in.obj", ""}}, cook("in.obj"), 1, "hueslice: in.obj: empty file\n"},
    {"ObjUtf16",
     {{"in.obj", std::string("\xFF\xFEv\0 \0\x30\0 \0\x30\0 \0\x30\0\n\0", 18)}},
     cook("in.obj"),
     1,
     "hueslice: in.obj: the file is UTF-16 text; obj files are read as UTF-8\n"},
    {"ObjVertexColourBeyondFloat",
     {{"in.obj", "v 0 0 0 1 0 0\nv 1 0 0 0 -1e40 0\n"}},
     cook("in.obj"),
     1,
     "hueslice: in.obj:2: vertex colour is beyond the float range\n"},
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

// ---- Names ----

const std::string kNul(1, '\0');

std::string objWith(const std::string& lines) {
    return kObjTriangle + lines + "f 1 2 3\n";
}

// Three parts of a coloured triangle: OBJ naming `library`, using `material`; the MTL defining it.
Files objWithLibrary(const std::string& library, const std::string& mtlFile,
                     const std::string& material) {
    return {{"in.obj", "mtllib " + library + "\n" + objWith("usemtl " + material + "\n")},
            {mtlFile, "newmtl " + material + "\nKd 0.5 0 0\n"}};
}

const Row kNameRows[] = {
    {"ObjGroupNameWithNulCrashed",
     {{"in.obj", objWith("g a" + kNul + "b\n")}},
     cook("in.obj"),
     1,
     "hueslice: in.obj:4: group name holds a NUL byte\n"},
    {"ObjMaterialNameWithNul",
     {{"in.obj", objWith("usemtl a" + kNul + "b\n")}},
     cook("in.obj"),
     1,
     "hueslice: in.obj:4: material name holds a NUL byte\n"},
    {"ObjLibraryNameWithNulWouldOpenAnotherFile",
     {{"in.obj", "mtllib in.mtl" + kNul + "x\n" + objWith("usemtl red\n")},
      {"in.mtl", "newmtl red\nKd 1 0 0\n"}},
     cook("in.obj"),
     1,
     "hueslice: in.obj:1: material library name holds a NUL byte\n"},
    {"MtlMaterialNameWithNul",
     {{"in.obj", "mtllib in.mtl\n" + objWith("usemtl red\n")},
      {"in.mtl", "newmtl red" + kNul + "\nKd 1 0 0\n"}},
     cook("in.obj"),
     1,
     "hueslice: in.mtl:1: material name holds a NUL byte\n"},
    {"JsonGroupNameNulCrashed",
     {{"in.json", jsonTriangleWith(R"("primitive_groups": {"\u0000": [0]})")}},
     cook("in.json"),
     1,
     "hueslice: in.json:2: group name holds a NUL character\n"},
    {"JsonGroupNamesCutAtNulWereMerged",
     {{"in.json", jsonTriangleWith(R"("primitive_groups": {"a\u0000b": [0], "a\u0000c": [0]})")}},
     cook("in.json"),
     1,
     "hueslice: in.json:2: group name holds a NUL character\n"},
    {"JsonAttributeNameWithNul",
     {{"in.json",
       jsonTriangleWith(
           R"("primitive_attributes": {"C\u0000d": {"type": "float", "size": 1, "values": [[1]]}})")}},
     cook("in.json"),
     1,
     "hueslice: in.json:2: primitive attribute name holds a NUL character\n"},
    {"SceneTextWithNul",
     meshAnd("scene.json", R"({"parameters": {"numobj": 1, "group1": "a\u0000b"}})"),
     cookWithScene("scene.json"), 1,
     "hueslice: scene.json:1: parameter 'group1': text holds a NUL character\n"},
    {"PlyPropertyNameWithNul",
     {{"in.ply", plyHeader("ascii", "element extra 0\nproperty float a" + kNul + "b\n")}},
     cook("in.ply"),
     1,
     "hueslice: in.ply:4: property name holds a NUL byte\n"},
    {"MaterialNamesWithSpacesLostTheirColour", objWithLibrary("in.mtl", "in.mtl", "dark red"),
     cook("in.obj"), 0, ""},
    {"LibraryNameWithSpacesWasCutAtTheSpace", objWithLibrary("my lib.mtl", "my lib.mtl", "red"),
     cook("in.obj"), 0, ""},
    {"LibraryListStillNamesItsFirstFile", objWithLibrary("in.mtl other.mtl", "in.mtl", "red"),
     cook("in.obj"), 0, ""},
    {"MessageQuotingANewlineAndAnEscapeStaysOneLine",
     meshAnd("scene.json", R"({"parameters": {"a\nb\u001b[31m": 1}})"), cookWithScene("scene.json"),
     1, "hueslice: scene.json:1: unknown parameter 'a\\nb\\x1B[31m'\n"},
    {"InvalidUtf8InAMessage",
     {{"in\xff.ply", ""}},
     cook("in\xff.ply"),
     1,
     "hueslice: in\\xFF.ply: empty file\n"},
    {"GroupNamesThatDifferOnlyByBlanksWereMerged",
     {{"in.json", jsonTriangleWith(R"("primitive_groups": {"a b": [0], "a_b": [0]})")},
      {"out.obj", "old obj\n"}},
     {"cook", "in.json", "-o", "out.obj"},
     0,
     "hueslice: out.obj: group 'a b' written as 'a_b_2' (obj names cannot hold whitespace, and "
     "'a_b' is taken)\n"},
    {"SvgLegendNameThatXmlCannotHold",
     {{"in.ply", kMeshPly},
      {"out.obj", "old obj\n"},
      {"out.mtl", "old mtl\n"},
      {"out.svg", "old svg\n"}},
     {"cook", "in.ply", "--initialise", "--set", "group1=a\x01\xff", "-o", "out.obj", "--svg",
      "out.svg"},
     0,
     "hueslice: out.svg: legend name 'a\\x01\\xFF' shown with U+FFFD for characters that XML "
     "cannot hold\n"},
};
INSTANTIATE_TEST_SUITE_P(Names, BadInputTest, ::testing::ValuesIn(kNameRows), suite);

// ---- Outputs ----

const std::string kLongName = std::string(245, 'n') + ".json";

const Row kOutputRows[] = {
    {"TwoOutputsOneFileOverwroteEachOther",
     kMesh,
     {"cook", "mesh.json", "-o", "out.json", "--save-scene", "out.json"},
     2,
     "hueslice: out.json: two outputs would write this file\n"},
    {"OneFileSpelledTwoWays",
     kMesh,
     {"cook", "mesh.json", "-o", "out.json", "--save-scene", "./out.json"},
     2,
     "hueslice: ./out.json: two outputs would write this file (also named 'out.json')\n"},
    {"SvgNamesTheObjsLibrary",
     {{"mesh.json", kJsonTriangle + "}\n"}, {"a.obj", "old obj\n"}, {"a.mtl", "old mtl\n"}},
     {"cook", "mesh.json", "-o", "a.obj", "--svg", "a.mtl"},
     2,
     "hueslice: a.mtl: two outputs would write this file\n"},
    {"SvgTargetIsAFolderAfterTheJsonWasReplaced",
     meshAnd("x.svg/keep", "kept\n"),
     {"cook", "mesh.json", "-o", "out.json", "--svg", "x.svg"},
     1,
     "hueslice: x.svg: is a folder, not a file\n"},
    {"AnotherUsersFileInAStickyFolderAfterOurOwnWasReplaced",
     kMesh,
     {"cook", "mesh.json", "-o", "sticky/mine.json", "--save-scene", "sticky/theirs.json"},
     1,
     "hueslice: sticky/theirs.json: cannot replace file: Operation not permitted\n",
     Setup::StickyFolder},
    {"LongOutputNameWasRefused",
     meshAnd(kLongName, "old scene\n"),
     {"cook", "mesh.json", "-o", "out.json", "--save-scene", kLongName},
     0,
     ""},
    {"TwoNamesOfOneFifo",
     kMesh,
     {"cook", "mesh.json", "-o", "out.json", "--svg", "pipe.svg", "--save-scene", "scene.json"},
     2,
     "hueslice: scene.json: two outputs would write this file (also named 'pipe.svg')\n",
     Setup::None,
     {"pipe.svg"},
     {{"scene.json", "pipe.svg"}}},
};
INSTANTIATE_TEST_SUITE_P(Outputs, BadInputTest, ::testing::ValuesIn(kOutputRows), suite);

// ---- Resources ----

std::string manyPropertiesPly(int count) {
    std::string header = "element extra 0\n";
    for (int i = 0; i < count; ++i)
        header += "property float p" + std::to_string(i) + "\n";
    return plyHeader("ascii", header);
}

std::string manyElementsPly(int count) {
    std::string header;
    for (int i = 0; i < count; ++i)
        header += "element e" + std::to_string(i) + " 0\nproperty float p\n";
    return plyHeader("ascii", header);
}

// A scene as the program saves it, with `entries` entries.
std::string savedScene(int entries) {
    std::string text = "{\n  \"parameters\": {\n    \"numobj\": " + std::to_string(entries);
    for (int i = 1; i <= entries; ++i) {
        const std::string n = std::to_string(i);
        text += ",\n    \"enable" + n + "\": 1.0,\n    \"isolate" + n + "\": 0.0,\n    \"col" + n +
                "\": [0.0,0.0,0.0],\n    \"group" + n + "\": \"\"";
    }
    return text + "\n  }\n}\n";
}

std::string bigJsonPoints() {
    std::string text = "{\"points\": [";
    for (int i = 0; i < 200000; ++i)
        text += (i ? ",[" : "[") + std::to_string(i) + ".5,1.25,2.125]";
    return text + "], \"primitives\": []}\n";
}

std::string bigBinaryPoints() {
    std::string ply = plyHeader("binary_little_endian",
                                "element vertex 300000\nproperty float x\nproperty float y\n"
                                "property float z\n");
    for (int i = 0; i < 300000; ++i)
        ply += f32(static_cast<float>(i) + 0.5f) + f32(1.25f) + f32(2.125f);
    return ply;
}

// What a PLY of points alone says on its way to being cooked.
const char* const kNoFacesNote =
    "hueslice: in.ply: no faces were read (the file has no 'face' element), so there is nothing "
    "to group\n";

const Row kResourceRows[] = {
    {"MtllibDevZeroReadUntilMemoryRanOut",
     {{"in.obj", "mtllib /dev/zero\n" + objWith("usemtl red\n")}},
     cook("in.obj"),
     1,
     "hueslice: /dev/zero: cannot read file: not a regular file\n"},
    {"MtllibFifoHungForever",
     {{"in.obj", "mtllib lib.mtl\n" + objWith("usemtl red\n")}},
     cook("in.obj"),
     1,
     "hueslice: lib.mtl: cannot read file: not a regular file\n",
     Setup::None,
     {"lib.mtl"}},
    {"InputFifoHungForever",
     kMesh,
     cook("in.ply"),
     1,
     "hueslice: in.ply: cannot read file: not a regular file\n",
     Setup::None,
     {"in.ply"}},
    {"InputDevice",
     kMesh,
     cook("in.ply"),
     1,
     "hueslice: in.ply: cannot read file: not a regular file\n",
     Setup::None,
     {},
     {{"in.ply", "/dev/zero"}}},
    {"PlyHeaderOf100000PropertiesTookMinutes",
     {{"in.ply", manyPropertiesPly(100000)}},
     cook("in.ply"),
     0,
     kNoFacesNote},
    {"PlyHeaderOf100000ElementsTookMinutes",
     {{"in.ply", manyElementsPly(100000)}},
     cook("in.ply"),
     0,
     kNoFacesNote},
    {"SavedSceneOfMoreThan100000EntriesWasRefused", meshAnd("scene.json", savedScene(100001)),
     cookWithScene("scene.json"), 0, ""},
    {"ShortSceneStillCannotAskForAHugeList",
     meshAnd("scene.json", R"({"parameters": {"numobj": 100001}})"), cookWithScene("scene.json"), 1,
     "hueslice: scene.json:1: parameter 'numobj': count must be from 0 to 100000\n"},
    {"OutOfMemoryReadingJsonAborted",
     {{"in.json", bigJsonPoints()}},
     cook("in.json"),
     1,
     "hueslice: out of memory\n",
     Setup::MemoryLimit},
    {"OutOfMemoryReadingASceneAborted", meshAnd("scene.json", savedScene(100001)),
     cookWithScene("scene.json"), 1, "hueslice: out of memory\n", Setup::MemoryLimit},
};
INSTANTIATE_TEST_SUITE_P(Resources, BadInputTest, ::testing::ValuesIn(kResourceRows), suite);

// The JSON writer streams: a mesh whose document would not fit under the memory limit is still
// written whole, where it once ran out of memory.
TEST_F(CliTest, JsonIsWrittenInFullUnderAMemoryLimitItsDocumentWouldExceed) {
    const std::string limit = "ulimit -v " + std::to_string(kMemoryLimitKb) + " &&";
    if (!startsWith(limit))
        GTEST_SKIP() << "the program does not start with " << limit;
    write("in.ply", bigBinaryPoints());
    const cli_testing::Result r = run(cook("in.ply"), limit);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, kNoFacesNote);
    const std::string json = read("out.json");
    EXPECT_NE(json.find("\n    [0.5,1.25,2.125],\n"), std::string::npos);
    EXPECT_NE(json.find("\n    [299999.5,1.25,2.125]\n  ],\n"), std::string::npos);
}

// ---- Outputs under way ----

// The program run in the background, in the test's folder, with stdout and stderr in files.
class Running {
  public:
    Running(const fs::path& dir, const std::vector<std::string>& args) : folder(dir) {
        std::vector<std::string> argv = {HUESLICE_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        pid = ::fork();
        if (pid == 0) {
            if (::chdir(dir.c_str()) != 0)
                ::_exit(127);
            std::FILE* toOut = std::freopen("stdout.txt", "w", stdout);
            std::FILE* toErr = std::freopen("stderr.txt", "w", stderr);
            if (!toOut || !toErr)
                ::_exit(127);
            std::vector<char*> raw;
            for (std::string& a : argv)
                raw.push_back(a.data());
            raw.push_back(nullptr);
            ::execv(raw[0], raw.data());
            ::_exit(127);
        }
    }

    // Waits until `count` temporaries of the program exist; false after ten seconds.
    bool awaitTemporaries(std::size_t count) const {
        for (int i = 0; i < 10000; ++i) {
            if (temporaries() >= count)
                return true;
            ::usleep(1000);
        }
        return false;
    }

    std::size_t temporaries() const {
        std::size_t n = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            n += entry.path().filename().string().rfind(".hueslice-", 0) == 0;
        return n;
    }

    // The exit status, or -1 when the program did not exit normally.
    int wait() {
        int raw = 0;
        ::waitpid(pid, &raw, 0);
        err = cli_testing::readFile(folder / "stderr.txt");
        out = cli_testing::readFile(folder / "stdout.txt");
        fs::remove(folder / "stderr.txt");
        fs::remove(folder / "stdout.txt");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    pid_t pid = -1;
    fs::path folder;
    std::string out;
    std::string err;
};

// Everything a FIFO gives until its writer closes it.
std::string drain(const fs::path& fifo) {
    std::ifstream in(fifo, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writing into a FIFO waits for its reader, so a FIFO output holds the program between writing
// its temporaries and renaming them, for as long as the test likes.
class OutputUnderWayTest : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        write("mesh.json", kJsonTriangle + "}\n");
        write("out.json", "old output\n");
        write("scene.json", "old scene\n");
        ASSERT_EQ(::mkfifo((dir / "pipe.svg").c_str(), 0644), 0);
    }

    const std::vector<std::string> args = {"cook",         "mesh.json",  "-o",    "out.json",
                                           "--save-scene", "scene.json", "--svg", "pipe.svg"};
};

class SignalTest : public OutputUnderWayTest, public ::testing::WithParamInterface<int> {};

TEST_P(SignalTest, SignalDuringTheRunLeftHiddenTemporariesAndNewFiles) {
    const auto old = snapshot(dir);
    // A split folder the run made goes with the run.
    std::vector<std::string> withSplit = args;
    withSplit.insert(withSplit.end(), {"--split", "parts"});
    Running program(dir, withSplit);
    ASSERT_TRUE(program.awaitTemporaries(2));
    ::kill(program.pid, GetParam());
    EXPECT_EQ(program.wait(), 128 + GetParam());
    EXPECT_EQ(program.err, "hueslice: interrupted\n");
    EXPECT_EQ(snapshot(dir), old);
    EXPECT_EQ(program.temporaries(), 0u);
    EXPECT_FALSE(fs::exists(dir / "parts"));
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.svg"));
}
INSTANTIATE_TEST_SUITE_P(Signals, SignalTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& p) {
                             return std::string(p.param == SIGINT    ? "Interrupt"
                                                : p.param == SIGTERM ? "Terminate"
                                                                     : "HangUp");
                         });

TEST_F(OutputUnderWayTest, RenameFailingAfterTheTemporariesPutsTheEarlierFilesBack) {
    Running program(dir, args);
    ASSERT_TRUE(program.awaitTemporaries(2));
    // The later target becomes a folder that no rename can replace.
    fs::remove(dir / "scene.json");
    fs::create_directories(dir / "scene.json");
    write("scene.json/keep", "kept\n");
    EXPECT_EQ(drain(dir / "pipe.svg").rfind("<?xml", 0), 0u) << "the picture is streamed";
    EXPECT_EQ(program.wait(), 1);
    EXPECT_EQ(program.err, "hueslice: scene.json: cannot replace file: Is a directory\n");
    EXPECT_EQ(read("out.json"), "old output\n");
    EXPECT_EQ(read("scene.json/keep"), "kept\n");
    EXPECT_EQ(program.temporaries(), 0u);
    EXPECT_EQ(listing(dir), (std::set<std::string>{"mesh.json", "out.json", "pipe.svg",
                                                   "scene.json", "scene.json/keep"}));
}

TEST_F(OutputUnderWayTest, FifoIsWrittenIntoAndKept) {
    Running program(dir, args);
    const std::string svg = drain(dir / "pipe.svg");
    EXPECT_EQ(program.wait(), 0) << program.err;
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.svg"));
    EXPECT_EQ(read("out.json").rfind("{\n  \"points\"", 0), 0u);
    EXPECT_EQ(read("scene.json").rfind("{\n  \"parameters\"", 0), 0u);
}

TEST_F(CliTest, CharacterDeviceIsWrittenIntoNotReplaced) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a device node needs root";
    write("mesh.json", kJsonTriangle + "}\n");
    // A null device of the test's own, so that a fault cannot replace the system's.
    ASSERT_EQ(::mknod((dir / "null.svg").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    const auto r = run({"cook", "mesh.json", "--svg", "null.svg"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_character_file(dir / "null.svg"));
}

// Standard output carries the geometry alone, byte for byte what a file would get, wherever
// the other outputs come in the command line.
TEST_F(CliTest, StandardOutputTakesTheJsonAndTheTableGoesToStderr) {
    write("mesh.json", kJsonTriangle + "}\n");
    ASSERT_EQ(run({"cook", "mesh.json", "-o", "file.json"}).status, 0);
    const std::string geometry = read("file.json");
    const std::vector<std::vector<std::string>> orders = {
        {"-o", "-"},
        {"-o", "-", "--save-scene", "s.json"},
        {"--save-scene", "s.json", "-o", "-"},
        {"--svg", "v.svg", "-o", "-", "--save-scene", "s.json"},
        {"--save-scene", "s.json", "--svg", "v.svg", "-o", "-"}};
    for (const auto& order : orders) {
        std::vector<std::string> args = {"cook", "mesh.json"};
        args.insert(args.end(), order.begin(), order.end());
        SCOPED_TRACE(args.size());
        const auto r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, geometry);
        EXPECT_NE(r.err.find("entry  group"), std::string::npos);
        EXPECT_FALSE(exists("-"));
        if (order.size() > 2) {
            EXPECT_EQ(read("s.json").rfind("{", 0), 0u);
        }
    }
}

// A reader of standard output that stops early (`| head -c 10`) makes the next write fail: the
// program says so in one line and exits 1, rather than dying silently of SIGPIPE. The output is
// larger than a pipe holds, so the writes go on after the reader has gone.
TEST_F(CliTest, AReaderThatStopsEarlyIsAOneLineWriteError) {
    const int quads = 20000;
    std::string ply = "ply\nformat ascii 1.0\nelement vertex " + std::to_string(2 * quads + 2) +
                      "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
                      std::to_string(quads) +
                      "\nproperty list uchar int vertex_indices\nend_header\n";
    for (int i = 0; i <= quads; ++i)
        ply += std::to_string(i) + " 0 0\n" + std::to_string(i) + " 1 0\n";
    for (int i = 0; i < quads; ++i) {
        ply += "4 " + std::to_string(2 * i) + " " + std::to_string(2 * i + 2) + " " +
               std::to_string(2 * i + 3) + " " + std::to_string(2 * i + 1) + "\n";
    }
    write("big.ply", ply);
    const std::string command = "cd '" + dir.string() +
                                "' && ('" HUESLICE_PROGRAM
                                "' cook big.ply -o - 2> stderr.txt; echo $? > status.txt) | "
                                "head -c 10 > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read("status.txt"), "1\n");
    EXPECT_EQ(read("stderr.txt"), "hueslice: -: cannot write: Broken pipe\n");
}

TEST_F(CliTest, ReplacedFilesKeepTheirPermissionsAndOwner) {
    write("mesh.json", kJsonTriangle + "}\n");
    const std::pair<const char*, fs::perms> files[] = {
        {"out.json", fs::perms::owner_read | fs::perms::owner_write},
        {"scene.json", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read},
        {"out.svg", fs::perms::owner_all | fs::perms::others_read}};
    for (const auto& [name, perms] : files) {
        write(name, "old\n");
        fs::permissions(dir / name, perms);
    }
    // Root can give a file back to its owner, and must.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((dir / "scene.json").c_str(), 65534, 65534), 0);
    }
    const auto r = run(
        {"cook", "mesh.json", "-o", "out.json", "--save-scene", "scene.json", "--svg", "out.svg"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& [name, perms] : files) {
        EXPECT_EQ(fs::status(dir / name).permissions(), perms) << name;
        EXPECT_NE(read(name), "old\n") << name;
    }
    struct stat info {};
    ASSERT_EQ(::stat((dir / "scene.json").c_str(), &info), 0);
    if (root) {
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
    }
}

TEST_F(CliTest, DemoIsAllOrNothing) {
    ASSERT_EQ(run({"demo", "d"}).status, 0);
    write("d/output.json", "old output\n");
    fs::remove(dir / "d/scene.json");
    fs::create_directories(dir / "d/scene.json");
    write("d/scene.json/keep", "kept\n");
    const auto old = snapshot(dir);
    const auto r = run({"demo", "d"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "hueslice: d/scene.json: is a folder, not a file\n");
    EXPECT_EQ(snapshot(dir), old);
}

}  // namespace
