// 3MF in and out: every colour mechanism of hand-made packages, build items and components with
// their transforms, the layout of written packages, round trips and refused packages.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <HOST_Internals.h>

#include "io/formats/3mf/3mf.h"
#include "io/io.h"
#include "support/package_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using namespace testing;
using package_files::meshObject;
using package_files::threeMf;

GU_Detail read(const std::string& bytes, Notes* notes = nullptr) {
    GU_Detail out;
    Notes n = read3mf(bytes, "in.3mf", out);
    if (notes)
        *notes = n;
    return out;
}

std::vector<float> rgb(int r, int g, int b) {
    return {r / 255.0f, g / 255.0f, b / 255.0f};
}

const std::string kBase = R"(<basematerials id="1"><base name="red" displaycolor="#FF0000"/>)"
                          R"(<base name="teal" displaycolor="#00808080"/></basematerials>)";
const std::string kColours = R"(<m:colorgroup id="2"><m:color color="#0000FF"/>)"
                             R"(<m:color color="#FFFF00"/></m:colorgroup>)";

struct ColourCase {
    const char* label;
    std::string resources;
    std::vector<std::vector<float>> expected;  // per triangle; empty: no colour attribute
};

void PrintTo(const ColourCase& c, std::ostream* os) {
    *os << c.label;
}

class ThreeMfColours : public ::testing::TestWithParam<ColourCase> {};

TEST_P(ThreeMfColours, EachTriangleTakesItsPropertyElseTheObjectDefault) {
    const ColourCase& c = GetParam();
    const GU_Detail geo = read(threeMf(c.resources, R"(<item objectid="5"/>)"));
    ASSERT_EQ(geo.primitiveCount(), 2);
    if (c.expected.empty()) {
        EXPECT_TRUE(colourOf(geo, 0).empty());
        return;
    }
    for (long long t = 0; t < 2; ++t)
        EXPECT_EQ(colourOf(geo, t), c.expected[static_cast<std::size_t>(t)]) << "triangle " << t;
}

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, ThreeMfColours,
    ::testing::Values(
        ColourCase{"BaseMaterialPerTriangle",
                   kBase + meshObject(5, "", {R"(pid="1" p1="1")", R"(pid="1" p1="0")"}),
                   {rgb(0, 128, 128), rgb(255, 0, 0)}},
        ColourCase{"ColourGroupPerTriangle",
                   kColours + meshObject(5, "", {R"(pid="2" p1="1")", R"(pid="2" p1="0")"}),
                   {rgb(255, 255, 0), rgb(0, 0, 255)}},
        ColourCase{"ColourGroupFirstCornerWins",
                   kColours + meshObject(5, "",
                                         {R"(pid="2" p1="0" p2="1" p3="1")",
                                          R"(pid="2" p1="1" p2="0" p3="0")"}),
                   {rgb(0, 0, 255), rgb(255, 255, 0)}},
        ColourCase{"ObjectDefaultBaseMaterial",
                   kBase + meshObject(5, R"(pid="1" pindex="1")", {"", R"(pid="1" p1="0")"}),
                   {rgb(0, 128, 128), rgb(255, 0, 0)}},
        ColourCase{"ObjectDefaultColourGroup",
                   kColours + meshObject(5, R"(pid="2" pindex="1")", {"", ""}),
                   {rgb(255, 255, 0), rgb(255, 255, 0)}},
        ColourCase{"TriangleWithoutAnyPropertyIsWhite",
                   kBase + meshObject(5, "", {R"(pid="1" p1="0")", ""}),
                   {rgb(255, 0, 0), rgb(255, 255, 255)}},
        ColourCase{"NoPropertiesNoColours", meshObject(5, "", {"", ""}), {}}),
    [](const auto& param) { return std::string(param.param.label); });

TEST(ThreeMfInput, BuildItemsAreMergedInOrderWithTheirTransforms) {
    // Object 5 is placed twice, the second time moved by (10, 20, 30); the assembly 6 places it
    // scaled by 2 and is placed moved by 100 along x.
    const std::string resources =
        meshObject(5, R"(name="part")", {""}) +
        R"(<object id="6" type="model" name="assembly"><components>)"
        R"(<component objectid="5" transform="2 0 0 0 2 0 0 0 2 0 0 0"/></components></object>)";
    const std::string build = R"(<item objectid="5"/>)"
                              R"(<item objectid="5" transform="1 0 0 0 1 0 0 0 1 10 20 30"/>)"
                              R"(<item objectid="6" transform="1 0 0 0 1 0 0 0 1 100 0 0"/>)";
    const GU_Detail geo = read(threeMf(resources, build));
    ASSERT_EQ(geo.primitiveCount(), 3);
    ASSERT_EQ(geo.pointCount(), 9);
    const auto at = [&](int i) {
        const UT_Vector3& p = geo.points()[static_cast<std::size_t>(i)];
        return std::vector<float>{p.x(), p.y(), p.z()};
    };
    EXPECT_EQ(at(1), (std::vector<float>{0.5f, 0, 0}));
    EXPECT_EQ(at(4), (std::vector<float>{10.5f, 20, 30}));
    EXPECT_EQ(at(7), (std::vector<float>{101, 0, 0}));
    EXPECT_EQ(at(8), (std::vector<float>{100, 2, 0}));
    // The mesh object is the only source of its triangles, so its name is their group; the
    // assembly's name is not.
    const GB_PrimitiveGroup* part = geo.primitiveGroups().find("part");
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->entries(), 3u);
    EXPECT_EQ(geo.primitiveGroups().find("assembly"), nullptr);
}

// The unit applies to the whole placed model: a build item's translation is converted with the
// vertices it moves.
// Components may name objects of another model part by path; that part's resources colour them.
TEST(ThreeMfInput, ComponentsInOtherPartsArePlacedWithTheirColours) {
    const std::string root = package_files::zipEntry(
        threeMf(R"(<object id="1" type="model"><components><component objectid="1" )"
                R"(p:path="/3D/leaf.model" transform="1 0 0 0 1 0 0 0 1 5 0 0"/>)"
                R"(</components></object>)",
                R"(<item objectid="1"/>)"),
        "3D/3dmodel.model");
    const std::string leaf = package_files::zipEntry(
        threeMf(kBase + meshObject(1, R"(name="leaf" pid="1" pindex="1")", {""}), ""),
        "3D/3dmodel.model");
    const std::string any = threeMf("", "");
    const GU_Detail geo = read(package_files::zipOf(
        {{"[Content_Types].xml", package_files::zipEntry(any, "[Content_Types].xml")},
         {"_rels/.rels", package_files::zipEntry(any, "_rels/.rels")},
         {"3D/3dmodel.model", root},
         {"3D/leaf.model", leaf}}));
    ASSERT_EQ(geo.primitiveCount(), 1);
    EXPECT_EQ(geo.points()[1].x(), 5.5f);
    EXPECT_EQ(colourOf(geo, 0), rgb(0, 128, 128));
    ASSERT_NE(geo.primitiveGroups().find("leaf"), nullptr);
}

TEST(ThreeMfInput, OtherUnitsAreConvertedToMillimetres) {
    const std::pair<const char*, double> units[] = {
        {"micron", 0.001}, {"centimeter", 10}, {"inch", 25.4}, {"foot", 304.8}, {"meter", 1000}};
    for (const auto& [unit, millimetres] : units) {
        SCOPED_TRACE(unit);
        Notes notes;
        const GU_Detail geo =
            read(threeMf(meshObject(5, "", {""}),
                         R"(<item objectid="5" transform="1 0 0 0 1 0 0 0 1 1 2 0"/>)", unit),
                 &notes);
        EXPECT_FLOAT_EQ(geo.points()[1].x(), static_cast<float>(1.5 * millimetres));
        EXPECT_FLOAT_EQ(geo.points()[2].y(), static_cast<float>(3 * millimetres));
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0], std::string("in.3mf: model unit is ") + unit +
                                "; coordinates converted to millimeters");
    }
}

TEST(ThreeMfInput, RefusedPackagesLeaveTheOutputAlone) {
    const struct {
        const char* label;
        std::string bytes;
        std::string error;
    } cases[] = {
        {"not a zip", "just text", "in.3mf: cannot read 3mf: "},
        {"corrupt zip", threeMf(meshObject(5, "", {""}), R"(<item objectid="5"/>)").substr(0, 200),
         "in.3mf: cannot read 3mf: "},
        {"missing property group",
         threeMf(kBase + meshObject(5, R"(pid="1" pindex="0")", {"", R"(pid="9" p1="0")"}),
                 R"(<item objectid="5"/>)"),
         "in.3mf: 3D/3dmodel.model: triangle 1 of object 5 refers to property group 9, which "
         "does not exist"},
        {"missing property entry",
         threeMf(kBase + meshObject(5, R"(pid="1" pindex="2")", {""}), R"(<item objectid="5"/>)"),
         "in.3mf: 3D/3dmodel.model: object 5 refers to property group 1, pindex 2, which has 2 "
         "entries"},
        {"vertex out of range",
         threeMf(R"(<object id="5" type="model"><mesh><vertices><vertex x="0" y="0" z="0"/>)"
                 R"(</vertices><triangles><triangle v1="0" v2="1" v3="2"/></triangles></mesh>)"
                 R"(</object>)",
                 R"(<item objectid="5"/>)"),
         "in.3mf: cannot read 3mf: Invalid model node index"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        GU_Detail out = makeSquare();
        const std::string error = inputErrorOf([&] { read3mf(c.bytes, "in.3mf", out); });
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(out.primitiveCount(), 2);
    }
}

// Four triangles coloured red, green, red, blue; "reds" holds 0 and 2, "greens" 1; the blue
// one is in no group.
GU_Detail groupedTriangles() {
    GU_Detail geo = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 0, 0}, {2, 1, 0}},
                             {{0, 1, 2}, {1, 3, 2}, {1, 4, 3}, {4, 5, 3}});
    setColour(geo, 0, 1, 0, 0);
    setColour(geo, 1, 0, 1, 0);
    setColour(geo, 2, 1, 0, 0);
    setColour(geo, 3, 0, 0, 1);
    GB_PrimitiveGroup* reds = geo.primitiveGroups().newGroup("reds");
    HOST_Internals::addMember(*reds, 0);
    HOST_Internals::addMember(*reds, 2);
    HOST_Internals::addMember(*geo.primitiveGroups().newGroup("greens"), 1);
    return geo;
}

std::vector<LegendEntry> legend() {
    LegendEntry reds;
    reds.name = "reds";
    reds.swatch[0] = 1.0f;
    reds.swatch[1] = reds.swatch[2] = 0.0f;
    LegendEntry greens;
    greens.name = "greens";
    greens.swatch[1] = 1.0f;
    greens.swatch[0] = greens.swatch[2] = 0.0f;
    return {reds, greens};
}

TEST(ThreeMfRoundTrip, GroupsCountsAndColoursComeBack) {
    GU_Detail geo = groupedTriangles();
    geo.appendPoint(UT_Vector3(0.1234567f, 0, 0));
    const unsigned extra[3] = {6, 1, 2};
    geo.appendPrimitive(extra, 3);  // no group; its colour is black
    const WrittenFile file = write3mf(geo, legend(), "out.3mf");
    const GU_Detail back = read(file.bytes);
    ASSERT_EQ(back.primitiveCount(), 5);
    const GB_PrimitiveGroup* reds = back.primitiveGroups().find("reds");
    const GB_PrimitiveGroup* greens = back.primitiveGroups().find("greens");
    ASSERT_NE(reds, nullptr);
    ASSERT_NE(greens, nullptr);
    EXPECT_EQ(back.primitiveGroups().entries(), 2u);
    EXPECT_EQ(reds->members(), (std::vector<unsigned>{0, 1}));
    EXPECT_EQ(greens->members(), (std::vector<unsigned>{2}));
    EXPECT_EQ(colourOf(back, 0), rgb(255, 0, 0));
    EXPECT_EQ(colourOf(back, 2), rgb(0, 255, 0));
    EXPECT_EQ(colourOf(back, 3), rgb(0, 0, 255));  // no group: its own colour
    EXPECT_EQ(colourOf(back, 4), rgb(0, 0, 0));
    EXPECT_EQ(back.points()[back.primitiveVertices(*back.primitives()(4))[0]].x(), 0.123456f)
        << "coordinates are cut to six decimals";
}

// Reading was quadratic in objects, so a 3MF of more than 9,998 parts, written here in well
// under a second, could not be read back (bench/parts_bench.cpp times 20,000 and fits the growth).
TEST(ThreeMfRoundTrip, TenThousandPartsComeBack) {
    constexpr unsigned kParts = 10000;
    GU_Detail geo;
    const int cd = geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
    for (unsigned i = 0; i < kParts; ++i) {
        const auto x = static_cast<float>(i);
        geo.appendPoint(UT_Vector3(x, 0, 0));
        geo.appendPoint(UT_Vector3(x + 1, 0, 0));
        geo.appendPoint(UT_Vector3(x, 1, 0));
        const unsigned corners[3] = {3 * i, 3 * i + 1, 3 * i + 2};
        const long long face = geo.appendPrimitive(corners, 3);
        const float colour[3] = {static_cast<float>(i % 256) / 255.0f,
                                 static_cast<float>(i / 256) / 255.0f, 0};
        std::memcpy(geo.primitiveAttribData(face) + cd, colour, sizeof colour);
        HOST_Internals::addMember(
            *geo.primitiveGroups().newGroup(("part" + std::to_string(i)).c_str()), i);
    }
    const GU_Detail back = read(write3mf(geo, {}, "out.3mf").bytes);
    ASSERT_EQ(back.primitiveCount(), kParts);
    EXPECT_EQ(back.primitiveGroups().entries(), kParts);
    for (const unsigned i : {0u, 4999u, 9999u}) {
        const GB_PrimitiveGroup* part =
            back.primitiveGroups().find(("part" + std::to_string(i)).c_str());
        ASSERT_NE(part, nullptr) << i;
        EXPECT_EQ(part->members(), std::vector<unsigned>{i});
        EXPECT_EQ(colourOf(back, i), rgb(static_cast<int>(i % 256), static_cast<int>(i / 256), 0));
        EXPECT_EQ(back.points()[back.primitiveVertices(*back.primitives()(i))[1]].x(),
                  static_cast<float>(i + 1));
    }
}

TEST(ThreeMfOutput, PartsAreComponentsOfOneAssemblyThatIsTheOnlyBuildItem) {
    GU_Detail geo = groupedTriangles();
    const WrittenFile file = write3mf(geo, legend(), "dir/plate.3mf");
    const std::string model = package_files::zipEntry(file.bytes, "3D/3dmodel.model");
    ASSERT_FALSE(model.empty());
    const auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = model.find(what); at != std::string::npos;
             at = model.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_NE(model.find(R"(unit="millimeter")"), std::string::npos);
    EXPECT_EQ(count("<item "), 1u);
    EXPECT_EQ(count("<component "), 3u);  // reds, greens, and the faces in no group
    EXPECT_EQ(count("transform="), 0u);   // identity everywhere
    EXPECT_NE(model.find(R"(name="plate")"), std::string::npos);
    EXPECT_NE(model.find(R"(<base name="reds" displaycolor="#FF0000FF")"), std::string::npos);
    // The parts come before the assembly that uses them, the unnamed one last.
    EXPECT_LT(model.find(R"(name="reds")"), model.find(R"(name="greens")"));
    EXPECT_LT(model.find("<mesh>", model.find(R"(name="greens")")), model.find("<components>"));
}

TEST(ThreeMfOutput, HiddenPrimitivesAreLeftOut) {
    GU_Detail geo = groupedTriangles();
    GB_PrimitiveGroup* hidden = geo.primitiveGroups().newGroup(kHiddenGroupName);
    HOST_Internals::addMember(*hidden, 1);
    HOST_Internals::addMember(*hidden, 3);
    const GU_Detail back = read(write3mf(geo, legend(), "out.3mf").bytes);
    EXPECT_EQ(back.primitiveCount(), 2);
    EXPECT_EQ(back.primitiveGroups().entries(), 1u);  // no greens, no part for the blue face
}

TEST(ThreeMfOutput, NothingVisibleOrNonFinitePositionIsRefused) {
    GU_Detail everythingHidden = makeSquare();
    GB_PrimitiveGroup* hidden = everythingHidden.primitiveGroups().newGroup(kHiddenGroupName);
    HOST_Internals::addMember(*hidden, 0);
    HOST_Internals::addMember(*hidden, 1);
    GU_Detail nan = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, std::nanf(""), 0}}, {{0, 1, 2}});
    EXPECT_EQ(inputErrorOf([&] { write3mf(everythingHidden, {}, "out.3mf"); }),
              "out.3mf: there is no visible triangle to write");
    EXPECT_EQ(inputErrorOf([&] { write3mf(nan, {}, "out.3mf"); }),
              "out.3mf: point 2 is not a finite position, which 3MF cannot carry");
}

}  // namespace
}  // namespace hueslice::io
