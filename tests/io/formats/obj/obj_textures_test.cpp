// OBJ colour textures: map_Kd with its options and awkward names, over a 4 x 4 texture whose
// quadrants are red (top left), blue, green and white, read from files as a user has them.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "io/formats/obj/obj.h"
#include "io/io.h"
#include "support/image_files.h"
#include "test_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using namespace testing;

// Triangle 0 covers the bottom-left half of the texture (mostly green, as v points up) and
// triangle 1 the top-right half (mostly blue).
const char* kSquare =
    "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl paint\n";
const char* kTriangles = "f 1/1 2/2 4/4\nf 2/2 3/3 4/4\n";

std::vector<int> bytesOfFace(const GU_Detail& geo, long long face) {
    std::vector<int> out;
    for (float c : colourOf(geo, face))
        out.push_back(static_cast<int>(std::lround(c * 255)));
    return out;
}

const std::vector<int> kBlue{0, 0, 255}, kGreen{0, 255, 0}, kWhite{255, 255, 255};

TEST(ObjTextures, FacesTakeTheirMapKdColour) {
    const struct {
        const char* what;
        std::string mapLine;
        std::string faces;
        std::vector<int> face0, face1;
        std::string note;  // the last note, when there is one
    } cases[] = {
        {"v points up", "Kd 1 1 1\nmap_Kd tex.png", kTriangles, kGreen, kBlue, ""},
        {"no Kd: the texture alone", "map_Kd tex.png", kTriangles, kGreen, kBlue, ""},
        {"Kd x map_Kd in linear light",
         "Kd 0.5 0.5 0.5\nmap_Kd grey.png",
         kTriangles,
         {61, 61, 61},
         {61, 61, 61},
         ""},
        {"relative vt", "map_Kd tex.png", "f -4/-4 -3/-3 -1/-1\nf -3/-3 -2/-2 -1/-1\n", kGreen,
         kBlue, ""},
        {"name with spaces", "map_Kd my wood.png", kTriangles, kGreen, kBlue, ""},
        {"backslashes", "map_Kd .\\sub dir\\tex.png", kTriangles, kGreen, kBlue, ""},
        {"scale", "map_Kd -s 0.5 0.5 1 tex.png", kTriangles, kGreen, kGreen, ""},
        {"offset and clamp", "map_Kd -o 0.5 0 0 -clamp on -bm 1 tex.png", kTriangles, kWhite, kBlue,
         ""},
        {"quad: a tie between the quadrants, the centroid's texel",
         "map_Kd tex.png",
         "f 1/1 2/2 3/3 4/4\n",
         kWhite,
         {},
         ""},
        {"faces without vt keep Kd", "Kd 0 0 1\nmap_Kd tex.png", "f 1 2 4\nf 2/2 3/3 4/4\n", kBlue,
         kBlue,
         "m.obj: 1 face of material 'paint' has no usable texture coordinates and keeps the "
         "material's colour"},
        {"missing image keeps Kd", "Kd 0 1 0\nmap_Kd gone.png", kTriangles, kGreen, kGreen,
         "m.mtl:3: image \"gone.png\" is not there; the faces of material 'paint' keep its colour"},
    };
    const std::string folder = makeFolder();
    const std::string png = image_files::rgbPng(4, 4, image_files::quadrantsRgb());
    writeFile(folder + "/tex.png", png);
    writeFile(folder + "/my wood.png", png);
    ::mkdir((folder + "/sub dir").c_str(), 0755);
    writeFile(folder + "/sub dir/tex.png", png);
    writeFile(folder + "/grey.png", image_files::rgbPng(1, 1, "\x80\x80\x80"));
    for (const auto& c : cases) {
        writeFile(folder + "/m.obj", std::string(kSquare) + c.faces);
        writeFile(folder + "/m.mtl", "newmtl paint\n" + c.mapLine + "\n");
        GU_Detail geo;
        const Notes notes = readObjFile(folder + "/m.obj", geo);
        EXPECT_EQ(bytesOfFace(geo, 0), c.face0) << c.what;
        if (!c.face1.empty()) {
            EXPECT_EQ(bytesOfFace(geo, 1), c.face1) << c.what;
        }
        if (c.note.empty()) {
            EXPECT_EQ(notes, Notes{}) << c.what;
        } else {
            ASSERT_FALSE(notes.empty()) << c.what;
            EXPECT_EQ(notes.back(), folder + "/" + c.note) << c.what;
        }
    }
}

TEST(ObjTextures, BadImagesAndReferencesAreRefused) {
    const std::string folder = makeFolder();
    writeFile(folder + "/m.obj", std::string(kSquare) + kTriangles);
    writeFile(folder + "/bad.png",
              image_files::rgbPng(4, 4, image_files::quadrantsRgb()).substr(0, 50));
    const struct {
        const char* what;
        std::string mapLine;
        std::string message;
    } cases[] = {
        {"corrupt", "map_Kd bad.png", folder + "/m.obj: image \"bad.png\": corrupt PNG: truncated"},
        {"outside the folder", "map_Kd ../x.png",
         folder + "/m.obj: image \"../x.png\": leads out of the model's folder"},
    };
    for (const auto& c : cases) {
        writeFile(folder + "/m.mtl", "newmtl paint\n" + c.mapLine + "\n");
        GU_Detail geo;
        EXPECT_EQ(
            inputErrorOf([&] { readObjFile(folder + "/m.obj", geo); }).substr(0, c.message.size()),
            c.message)
            << c.what;
    }
}

}  // namespace
}  // namespace hueslice::io
