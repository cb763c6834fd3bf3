// 3MF from strangers: component graphs counted before anything is placed, transforms that
// leave the finite numbers, packages that are empty or lack a part, and triangles that index
// their object's property group without naming it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/formats/3mf/3mf.h"
#include "io/io.h"
#include "support/package_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using namespace testing;
using package_files::meshObject;
using package_files::threeMf;
using package_files::zipOf;

std::string component(int objectId) {
    return R"(<component objectid=")" + std::to_string(objectId) + R"("/>)";
}

// Object 1 is one triangle; object k (up to `top`) holds object k-1 `copies` times.
std::string chain(int top, int copies) {
    std::string resources = meshObject(1, R"(name="leaf")", {""});
    for (int k = 2; k <= top; ++k) {
        std::string components;
        for (int c = 0; c < copies; ++c)
            components += component(k - 1);
        resources += R"(<object id=")" + std::to_string(k) + R"(" type="model"><components>)" +
                     components + "</components></object>";
    }
    return resources;
}

std::string item(int objectId, const std::string& transform = "") {
    return R"(<item objectid=")" + std::to_string(objectId) + "\"" +
           (transform.empty() ? "" : R"( transform=")" + transform + "\"") + "/>";
}

// An object, in no build item, that the library refuses to read.
const std::string kUnreadable =
    R"(<object id="99" type="model"><mesh><vertices><vertex x="0" y="0" z="0"/></vertices>)"
    R"(<triangles><triangle v1="0" v2="1" v3="2"/></triangles></mesh></object>)";

// `package` with the first `from` in its model part made `to`.
std::string edited(const std::string& package, const std::string& from, const std::string& to);

// A package whose model part is `model` as it is.
std::string withModel(const std::string& model) {
    const std::string template3mf = threeMf("", "");
    return zipOf(
        {{"[Content_Types].xml", package_files::zipEntry(template3mf, "[Content_Types].xml")},
         {"_rels/.rels", package_files::zipEntry(template3mf, "_rels/.rels")},
         {"3D/3dmodel.model", model}});
}

std::string edited(const std::string& package, const std::string& from, const std::string& to) {
    std::string model = package_files::zipEntry(package, "3D/3dmodel.model");
    return withModel(model.replace(model.find(from), from.size(), to));
}

TEST(ThreeMfHostile, RefusedInOneLineNamingThePlace) {
    const std::string part = "in.3mf: 3D/3dmodel.model: ";
    const std::string moved = "1 0 0 0 1 0 0 0 1 ";
    const std::string cycle = R"(<object id="2" type="model"><components>)" + component(3) +
                              R"(</components></object><object id="3" type="model"><components>)" +
                              component(2) + "</components></object>";
    const struct {
        const char* label;
        std::string bytes;
        std::string error;
    } cases[] = {
        {"2^40 copies from 1.3 KB", threeMf(chain(41, 2), item(41)),
         part + "the build places more than 100000000 triangles"},
        // The unplaced object with a vertex out of range makes the library refuse the file at
        // once should a count let it through, rather than placing 2^64 or 2^26 copies.
        {"2^64 copies, which wrap without saturation",
         threeMf(chain(65, 2) + kUnreadable, item(65)),
         part + "the build places more than 100000000 triangles"},
        {"vertices past the limit", threeMf(chain(27, 2) + kUnreadable, item(27)),
         part + "the build places more than 100000000 vertices"},
        // Objects that place nothing still cost a step each time they are placed.
        {"2^27 placements of an empty object",
         threeMf(R"(<object id="1" type="model"><mesh><vertices/><triangles/></mesh></object>)" +
                     chain(28, 2).substr(chain(1, 1).size()),
                 item(28)),
         part + "the build places more than 100000000 components"},
        {"copies summed over build items", threeMf(chain(27, 2), item(27) + item(27) + item(27)),
         part + "the build places more than 100000000 triangles"},
        {"70 nested objects", threeMf(chain(70, 1), item(70)),
         part + "components nest more than 64 deep"},
        {"100000 nested objects", threeMf(chain(100000, 1), item(100000)),
         part + "components nest more than 64 deep"},
        {"components holding themselves", threeMf(cycle, item(2)),
         part + "object 2 holds itself through its components"},
        {"build scale past float", threeMf(chain(1, 1), item(1, "1e39 0 0 0 1 0 0 0 1 0 0 0")),
         "in.3mf: object 1 'leaf' is placed by a transform that is not finite"},
        {"build translation nan", threeMf(chain(1, 1), item(1, moved + "nan 0 0")),
         "in.3mf: object 1 'leaf' is placed by a transform that is not finite"},
        {"nested scales overflow",
         threeMf(meshObject(1, "", {""}) +
                     R"(<object id="2" type="model"><components>)"
                     R"(<component objectid="1" transform="1e30 0 0 0 1 0 0 0 1 0 0 0"/>)"
                     R"(</components></object>)",
                 item(2, "1e30 0 0 0 1 0 0 0 1 0 0 0")),
         "in.3mf: a vertex of object 1 is out of range once placed"},
        {"scale past float once placed",
         threeMf(meshObject(1, R"(name="leaf")", {"", ""}), item(1, "3e38 0 0 0 1 0 0 0 1 0 0 0")),
         "in.3mf: a vertex of object 1 'leaf' is out of range once placed"},
        {"empty file", "", "in.3mf: empty file, not a 3MF package"},
        {"missing model part",
         zipOf(
             {{"_rels/.rels",
               R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
               R"(<Relationship Target="/3D/3dmodel.model" Id="rel0" Type="http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel"/></Relationships>)"},
              {"[Content_Types].xml",
               package_files::zipEntry(threeMf("", ""), "[Content_Types].xml")}}),
         "in.3mf: cannot read 3mf: the package has no part \"/3D/3dmodel.model\", which a "
         "relationship names"},
        {"relationships that inflate past 16 MiB",
         zipOf({{"[Content_Types].xml",
                 package_files::zipEntry(threeMf("", ""), "[Content_Types].xml")},
                {"_rels/.rels", std::string((std::size_t{16} << 20) + 1, ' ')},
                {"3D/3dmodel.model",
                 package_files::zipEntry(threeMf(chain(1, 1), item(1)), "3D/3dmodel.model")}}),
         "in.3mf: cannot read 3mf: _rels/.rels: relationships larger than 16 MiB"},
        {"p1 past the object's group",
         threeMf(
             R"(<basematerials id="7"><base name="red" displaycolor="#FF0000"/></basematerials>)" +
                 meshObject(5, R"(pid="7" pindex="0")", {R"(p1="1")"}),
             item(5)),
         part + "triangle 0 of object 5 refers to property group 7, p1 1, which has 1 entry"},
        {"p3 past its own group",
         threeMf(
             R"(<colorgroup id="7"><color color="#FF0000"/><color color="#00FF00"/></colorgroup>)" +
                 meshObject(5, "", {R"(pid="7" p1="0" p2="1" p3="2")"}),
             item(5)),
         part + "triangle 0 of object 5 refers to property group 7, p3 2, which has 2 entries"},
        {"property group defined twice",
         threeMf(R"(<colorgroup id="7"/><basematerials id="7"/>)", item(1)),
         part + "line 1: property group 7 is defined twice"},
        {"vertex without y", edited(threeMf(chain(1, 1), item(1)), R"(y="0")", ""),
         part + "line 1: <vertex> has no y"},
        {"triangle without v3", edited(threeMf(chain(1, 1), item(1)), R"(v3="2")", ""),
         part + "line 1: <triangle> has no v3"},
        // Its end popped an empty stack: the reader crashed.
        {"a document that is not a model", withModel("<mesh/>"),
         part + "line 1: the document is a <mesh>, not a 3MF <model>"},
        {"colour with a malformed alpha",
         threeMf(R"(<colorgroup id="7"><color color="#FF0000G0"/></colorgroup>)", ""),
         part + "line 1: color=\"#FF0000G0\" is not a colour #RRGGBB or #RRGGBBAA"},
        {"object defined twice", threeMf(chain(1, 1) + chain(1, 1), item(1)),
         part + "line 1: object 1 is defined twice"},
        {"build item naming no object", threeMf(chain(1, 1), item(7)),
         part + "build item 0 names object 7, which 3D/3dmodel.model does not define"},
        {"component naming no object",
         edited(threeMf(chain(2, 1), item(2)), R"(component objectid="1")",
                R"(component objectid="3")"),
         part + "a component of object 2 names object 3, which 3D/3dmodel.model does not define"},
        {"component in a missing part",
         threeMf(R"(<object id="2" type="model"><components><component objectid="1" )"
                 R"(p:path="/3D/gone.model"/></components></object>)",
                 item(2)),
         "in.3mf: cannot read 3mf: the package has no part \"3D/gone.model\", which a path in "
         "3D/3dmodel.model names"},
        {"vertex just past the object's",
         edited(threeMf(chain(1, 1), item(1)), R"(v3="2")", R"(v3="3")"),
         "in.3mf: cannot read 3mf: Invalid model node index in 3D/3dmodel.model: triangle 0 of "
         "object 1 uses vertex 3, but the object has 3 vertices"},
        {"malformed XML", threeMf(R"(<object id="1">)", item(1)),
         "in.3mf: cannot read 3mf: 3D/3dmodel.model: line 1: mismatched tag"},
        {"document type, as entity expansion needs",
         withModel(R"(<!DOCTYPE model [<!ENTITY a "aaaa">]><model/>)"),
         part + "line 1: a document type declaration is not allowed"},
        {"unknown unit", threeMf(chain(1, 1), item(1), "furlong"),
         part + "unit \"furlong\" is not one 3MF defines"},
        {"transform of eleven numbers", threeMf(chain(1, 1), item(1, "1 0 0 0 1 0 0 0 1 0 0")),
         part + "line 1: transform=\"1 0 0 0 1 0 0 0 1 0 0\" is not twelve numbers"},
        {"negative object id", threeMf(chain(1, 1), R"(<item objectid="-1"/>)"),
         part + "line 1: objectid=\"-1\" is not a whole number from 0 to 2147483647"},
        {"coordinate that is not a number",
         edited(threeMf(chain(1, 1), item(1)), R"(x="0.5")", R"(x="0.5mm")"),
         part + "line 1: x=\"0.5mm\" is not a number"},
        {"colour that is not a colour",
         threeMf(R"(<basematerials id="7"><base name="red" displaycolor="red"/></basematerials>)",
                 ""),
         part + "line 1: displaycolor=\"red\" is not a colour #RRGGBB or #RRGGBBAA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        GU_Detail out = makeSquare();
        EXPECT_EQ(inputErrorOf([&] { read3mf(c.bytes, "in.3mf", out); }), c.error);
        EXPECT_EQ(out.primitiveCount(), 2);
    }
}

TEST(ThreeMfHostile, RepeatedComponentsArePlacedOnceEach) {
    // 2^17 placements of one triangle, each object counted once before any is placed.
    GU_Detail out;
    read3mf(threeMf(chain(18, 2), item(18)), "in.3mf", out);
    EXPECT_EQ(out.primitiveCount(), 1 << 17);
    EXPECT_EQ(out.pointCount(), 3 << 17);
    EXPECT_EQ(out.primitiveGroups().find("leaf")->entries(), 1u << 17);
}

TEST(ThreeMfHostile, FirstIndexWithoutGroupIndexesTheObjectsGroup) {
    const std::string base = R"(<basematerials id="7"><base name="red" displaycolor="#FF0000"/>)"
                             R"(<base name="blue" displaycolor="#0000FFFF"/></basematerials>)";
    const std::string colours = R"(<m:colorgroup id="8"><m:color color="#00FF00"/>)"
                                R"(<m:color color="#808080"/></m:colorgroup>)";
    const float grey = 128 / 255.0f;
    const struct {
        const char* label;
        std::string resources;
        std::vector<float> second;  // the colour of triangle 1, which gives p1 alone
    } cases[] = {
        {"base materials",
         base + meshObject(5, R"(pid="7" pindex="0")", {"", R"(p1="1")"}),
         {0, 0, 1}},
        {"colour group",
         colours + meshObject(5, R"(pid="8" pindex="0")", {"", R"(p1="1")"}),
         {grey, grey, grey}},
        {"own pid wins",
         colours + base + meshObject(5, R"(pid="8" pindex="0")", {"", R"(pid="7" p1="1")"}),
         {0, 0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        GU_Detail out;
        read3mf(threeMf(c.resources, item(5)), "in.3mf", out);
        ASSERT_EQ(out.primitiveCount(), 2);
        EXPECT_NE(colourOf(out, 0), c.second);
        EXPECT_EQ(colourOf(out, 1), c.second);
    }
}

}  // namespace
}  // namespace hueslice::io
