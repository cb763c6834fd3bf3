#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include <expat.h>

#include <limits>
#include <string>

#include "io/formats/svg/svg.h"
#include "io/io.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(Svg, HiddenFacesAreLeftOutAndTheLegendIsEscaped) {
    GU_Detail geo = testing::makeSquare();
    testing::setColour(geo, 0, 1.0f, 0.0f, std::numeric_limits<float>::quiet_NaN());
    testing::setColour(geo, 1, 2.0f, -1.0f, 0.5f);
    const std::string visible = writeSvg(geo, {});
    EXPECT_EQ(count(visible, "<polygon"), 2u);
    EXPECT_NE(visible.find("fill=\"rgb(255,0,0)\""), std::string::npos);
    EXPECT_NE(visible.find("fill=\"rgb(255,0,128)\""), std::string::npos);

    HOST_Internals::addMember(*geo.primitiveGroups().newGroup(kHiddenGroupName, 0), 0);
    LegendEntry entry;
    entry.name = "<red> & \"blue\"";
    entry.members = 7;
    const std::string svg = writeSvg(geo, {entry});
    EXPECT_EQ(count(svg, "<polygon"), 1u);
    EXPECT_EQ(svg.find("rgb(255,0,0)"), std::string::npos);
    EXPECT_NE(svg.find("&lt;red&gt; &amp; &quot;blue&quot; (7)</text>"), std::string::npos);
}

TEST(Svg, EmptyMeshGivesACompleteDocumentWithTheLegend) {
    LegendEntry entry;
    entry.name = "g";
    const std::string svg = writeSvg(GU_Detail(), {entry});
    EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
    EXPECT_NE(svg.find("g (0)</text>"), std::string::npos);
}

TEST(Svg, FacesAreDrawnBackToFrontAlongTheThinnestAxis) {
    // Thin along y: the face at higher y is nearer and must come last.
    GU_Detail geo = testing::makeMesh(
        {{0, 1, 0}, {4, 1, 0}, {4, 1, 4}, {0, 0, 0}, {4, 0, 0}, {4, 0, 4}}, {{0, 1, 2}, {3, 4, 5}});
    testing::setColour(geo, 0, 1, 0, 0);
    testing::setColour(geo, 1, 0, 0, 1);
    const std::string svg = writeSvg(geo, {});
    EXPECT_LT(svg.find("rgb(0,0,255)"), svg.find("rgb(255,0,0)"));
}

// Whether `text` is well-formed XML, by a real parser.
bool wellFormed(const std::string& text) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    const bool ok =
        XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

struct LegendNameCase {
    const char* label;
    std::string name;
    bool replaced;  // whether XML cannot hold some of it
};

class SvgLegendNames : public ::testing::TestWithParam<LegendNameCase> {};

TEST_P(SvgLegendNames, EveryNameGivesWellFormedXml) {
    LegendEntry entry;
    entry.name = GetParam().name;
    Notes warnings;
    const std::string svg = writeSvg(testing::makeSquare(), {entry}, &warnings);
    EXPECT_TRUE(wellFormed(svg)) << svg;
    EXPECT_EQ(warnings.size(), GetParam().replaced ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SvgLegendNames,
    ::testing::Values(LegendNameCase{"Markup", "<a href=\"x\">&amp;'", false},
                      LegendNameCase{"Utf8", "caf\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x8e\xa8", false},
                      LegendNameCase{"TabAndLineBreaks", "a\tb\nc\rd", false},
                      LegendNameCase{"ControlCharacter", "a\x01z", true},
                      LegendNameCase{"Escape", "\x1b[31mred", true},
                      LegendNameCase{"Nul", std::string("a\0b", 3), true},
                      LegendNameCase{"LoneByte", "caf\xe9", true},
                      LegendNameCase{"CutShort", "\xe2\x9c", true},
                      LegendNameCase{"Overlong", "\xc0\xaf", true},
                      LegendNameCase{"Surrogate", "\xed\xa0\x80", true},
                      LegendNameCase{"NotACharacter", "\xef\xbf\xbe", true},
                      LegendNameCase{"BeyondUnicode", "\xf4\x90\x80\x80", true}),
    [](const ::testing::TestParamInfo<LegendNameCase>& p) { return std::string(p.param.label); });

}  // namespace
}  // namespace hueslice::io
