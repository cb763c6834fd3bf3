#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_harness.h"
#include "support/image_files.h"
#include "support/scan_faces.h"

namespace {

using namespace cli_testing;

// One unit quad per face, side by side, as an ASCII PLY with 8-bit face colours; a face of
// `scale` times the side where `scaled` says so.
std::string facesPly(const std::vector<float>& rgb, const std::vector<bool>& scaled = {},
                     float scale = 1) {
    const std::size_t faces = rgb.size() / 3;
    std::string ply = "ply\nformat ascii 1.0\nelement vertex " + std::to_string(4 * faces) +
                      "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
                      std::to_string(faces) +
                      "\nproperty list uchar int vertex_indices\nproperty uchar red\n"
                      "property uchar green\nproperty uchar blue\nend_header\n";
    float x = 0;
    for (std::size_t f = 0; f < faces; ++f) {
        const float side = f < scaled.size() && scaled[f] ? scale : 1;
        for (const auto& corner : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 1}}) {
            ply += std::to_string(x + corner.first * side) + " " +
                   std::to_string(corner.second * side) + " 0\n";
        }
        x += side + 1;
    }
    for (std::size_t f = 0; f < faces; ++f) {
        ply += "4 " + std::to_string(4 * f) + " " + std::to_string(4 * f + 1) + " " +
               std::to_string(4 * f + 2) + " " + std::to_string(4 * f + 3);
        for (int c = 0; c < 3; ++c)
            ply += " " + std::to_string(static_cast<int>(rgb[3 * f + c] * 255 + 0.5f));
        ply += "\n";
    }
    return ply;
}

// The group table's member counts, entry by entry.
std::vector<long long> members(const std::string& table) {
    std::vector<long long> counts;
    std::size_t line = table.find('\n') + 1;
    while (table.compare(line, 7, "hidden ") != 0) {
        const std::size_t end = table.find('\n', line);
        counts.push_back(std::stoll(table.substr(table.rfind(' ', end) + 1, end)));
        line = end + 1;
    }
    return counts;
}

TEST_F(CliTest, ColoursAutoGroupsAScanByItsPaints) {
    const scan_testing::ScanFaces scan = scan_testing::scanFaces(4, 400);
    write("scan.ply", facesPly(scan.rgb));
    const auto r = run({"cook", "scan.ply", "--colours", "auto", "--initialise", "-o", "out.ply"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Regions lie apart in colour, so each takes all its faces into one group.
    EXPECT_EQ(members(r.out), (std::vector<long long>{400, 400, 400, 400})) << r.out;
    EXPECT_NE(r.err.find("palette: 4 colours for 1600 faces\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nworst face: "), std::string::npos) << r.err;
    EXPECT_TRUE(exists("out.ply"));
}

TEST_F(CliTest, NamedPaletteNamesTheGroupsAndReportsAnUnusedColour) {
    // red, green, red, blue, with a big second red face
    write("mesh.ply", facesPly({1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1}, {false, false, true}, 3));
    write("filaments.txt",
          "#f01010 PLA Red\n\n#10e010  3D green!\ncornflowerblue PLA Red\n#ffffff PLA White\n");
    const auto r = run({"cook", "mesh.ply", "--palette", "filaments.txt", "--initialise"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "entry  group      colour                            members\n"
              "1      PLA_Red    0.9411765 0.0627451 0.0627451     2\n"
              "2      _3D_green  0.0627451 0.8784314 0.0627451     1\n"
              "3      PLA_Red_2  0.39215687 0.58431375 0.92941177  1\n"
              "hidden primitives: 0\n");
    EXPECT_NE(r.err.find("hueslice: palette colour #ffffff (PLA White) is unused: no face is "
                         "nearest to it\n"),
              std::string::npos)
        << r.err;
    // The big face makes red 10 of the 12 units of area.
    EXPECT_NE(r.err.find("  #f01010  PLA Red"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2      83.3%"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("  #ffffff  PLA White  0      0.0%   -        -\n"), std::string::npos)
        << r.err;
}

TEST_F(CliTest, InfoReportsThePaletteWithoutCooking) {
    write("mesh.ply", facesPly({1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1}, {true}, 10));
    const auto r = run({"info", "mesh.ply", "--colours", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    // One colour for all: the big red face outweighs the rest.
    const std::size_t report = r.out.find("palette: 1 colours for 4 faces\n");
    ASSERT_NE(report, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  #f", report), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("palette (1 colours, in Initialise order)"), std::string::npos);
    EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, FacesWithoutAreaCountAlike) {
    // Every face shrunk to a point: the palette weighs faces by count, and says so.
    write("flat.ply", facesPly({1, 0, 0, 0, 0, 1, 0, 0, 1}, {true, true, true}, 0));
    const auto r = run({"info", "flat.ply", "--colours", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "hueslice: no face has an area: the palette weighs every face alike\n");
    EXPECT_NE(r.out.find("palette: 1 colours for 3 faces (weighted by face, none has an area)\n"),
              std::string::npos)
        << r.out;
}

TEST_F(CliTest, AFaceOfNoNumberKeepsItsColour) {
    write("nan.ply",
          "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
          "property float z\nelement face 3\nproperty list uchar int vertex_indices\n"
          "property float red\nproperty float green\nproperty float blue\nend_header\n"
          "0 0 0\n1 0 0\n1 1 0\n0 1 0\n3 0 1 2 1 0 0\n3 0 1 3 nan 0 0\n3 0 2 3 1 0 0\n");
    const auto r = run({"cook", "nan.ply", "--colours", "2", "--initialise", "-o", "out.ply"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("group1  nan 0 0  1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("group2  1 0 0    2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("hueslice: 1 faces keep their colour: a component is not a finite number"),
              std::string::npos)
        << r.err;
}

struct UsageCase {
    std::vector<std::string> args;
    const char* message;
};

TEST_F(CliTest, PaletteUsageErrorsWriteNothing) {
    write("mesh.ply", meshPly("ascii"));
    write("empty.txt", "\n \n");
    write("bad.txt", "red\nbleu Filament\n");
    const UsageCase cases[] = {
        {{"--colours", "0"}, "--colours: expected a whole number from 1 to 256 or 'auto', not '0'"},
        {{"--colours", "257"},
         "--colours: expected a whole number from 1 to 256 or 'auto', not '257'"},
        {{"--colours", "3x"},
         "--colours: expected a whole number from 1 to 256 or 'auto', not '3x'"},
        {{"--colours", "2", "--palette", "red"}, "--colours and --palette cannot be used together"},
        {{"--palette", "red,whit"},
         "--palette: unknown colour 'whit' (expected #rrggbb or a CSS colour name)"},
        {{"--palette", "#12345"}, "--palette: malformed colour '#12345' (expected #rrggbb)"},
        {{"--palette", "white,#FFFFFF"},
         "--palette: '#FFFFFF' is the same colour as 'white' (#ffffff)"},
        {{"--palette", "empty.txt"}, "--palette: empty.txt: holds no colours"},
        {{"--palette", "bad.txt"},
         "--palette: bad.txt:2: unknown colour 'bleu' (expected #rrggbb or a CSS colour name)"},
        {{"--palette", "missing.txt"},
         "--palette: missing.txt: cannot read file: No such file or directory"},
    };
    for (const char* command : {"cook", "info"}) {
        for (const UsageCase& c : cases) {
            std::vector<std::string> args = {command, "mesh.ply", "-o", "out.json"};
            if (std::string(command) == "info")
                args.resize(2);
            args.insert(args.end(), c.args.begin(), c.args.end());
            const auto r = run(args);
            EXPECT_EQ(r.status, 2) << c.message;
            EXPECT_EQ(r.err, std::string("hueslice: ") + c.message + "\n");
            EXPECT_EQ(r.out, "");
            EXPECT_FALSE(exists("out.json")) << c.message;
        }
    }
}

// A textured face whose texels are three shades of red and two of one blue: voting over 8-bit
// colours, blue wins; over texels snapped to the palette, red does, whether the palette is given
// or chosen from the faces (then the input is read twice). A big red and a big blue face keep
// the chosen palette red and blue.
TEST_F(CliTest, ATexturedFaceVotesAmongPaletteColours) {
    write("tex.png", image_files::rgbPng(5, 1,
                                         std::string("\xf0\x00\x00\x00\x00\xff\xe8\x00\x00"
                                                     "\x00\x00\xff\xf8\x08\x08",
                                                     15)));
    write("m.mtl", "newmtl t\nmap_Kd tex.png\nnewmtl r\nKd 1 0 0\nnewmtl b\nKd 0 0 1\n");
    write(
        "m.obj",
        "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 0\nv 9 0 0\nv 9 9 0\n"
        "vt 0 0\nvt 2 0\nvt 0 2\nusemtl t\nf 1/1 2/2 3/3\nusemtl r\nf 4 5 6\nusemtl b\nf 4 6 5\n");
    const struct {
        std::vector<std::string> palette;
        std::string redLine;  // the group table's line for red
    } cases[] = {
        {{}, "group1  1 0 0   1\n"},
        {{"--palette", "red,blue"}, "red    1 0 0   2\n"},
        {{"--colours", "2"}, "group1  1 0 0   2\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"cook", "m.obj", "--initialise", "-q"};
        args.insert(args.end(), c.palette.begin(), c.palette.end());
        const auto r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(c.redLine), std::string::npos) << r.out;
    }
}

}  // namespace
