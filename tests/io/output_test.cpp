#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include <dirent.h>
#include <expat.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "io/commit/output_batch.h"
#include "io/formats/formats.h"
#include "io/formats/json/json_geometry.h"
#include "io/formats/obj/obj.h"
#include "io/formats/svg/svg.h"
#include "io/input/input_file.h"
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

// A fresh folder under the test's temporary directory.
std::string makeFolder() {
    std::string pattern = ::testing::TempDir() + "io_test.XXXXXX";
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
    return pattern;
}

std::string contentOf(const std::string& path) {
    return readWholeFile(path);
}

std::size_t entriesIn(const std::string& folder) {
    std::size_t n = 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    while (const dirent* e = ::readdir(dir))
        n += e->d_name[0] != '.' || std::string(e->d_name).size() > 2;
    ::closedir(dir);
    return n;
}

TEST(AtomicWrite, ReplacesTheFileAndLeavesNoTemporary) {
    const std::string folder = makeFolder();
    const std::string path = folder + "/x.json";
    writeFileAtomically(path, "old");
    writeFileAtomically(path, "new");
    EXPECT_EQ(contentOf(path), "new");
    EXPECT_EQ(entriesIn(folder), 1u);
}

TEST(AtomicWrite, MissingFolderIsAnOutputError) {
    const std::string folder = makeFolder();
    const std::string path = folder + "/absent/x.obj";
    EXPECT_EQ(testing::inputErrorOf([&] { writeFileAtomically(path, "data"); }),
              path + ": cannot create file: No such file or directory");
    EXPECT_THROW(writeFileAtomically(path, "data"), OutputError);
    EXPECT_EQ(entriesIn(folder), 0u);
}

TEST(AtomicWrite, ReadOnlyFolderLeavesTheOldFileAndNoTemporary) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root ignores folder permissions";
    const std::string folder = makeFolder();
    const std::string path = folder + "/x.svg";
    writeFileAtomically(path, "old");
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    EXPECT_THROW(writeFileAtomically(path, "new"), OutputError);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(contentOf(path), "old");
    EXPECT_EQ(entriesIn(folder), 1u);
}

TEST(GeometryFiles, ObjAndMtlAreWrittenBesideEachOtherAndReadBack) {
    const std::string folder = makeFolder();
    GU_Detail geo = testing::makeSquare();
    testing::setColour(geo, 0, 0.25f, 0.5f, 1.0f);
    EXPECT_TRUE(writeGeometryFile(folder + "/m.obj", geo).empty());
    EXPECT_EQ(entriesIn(folder), 2u);
    GU_Detail back;
    EXPECT_TRUE(readGeometryFile(folder + "/m.obj", back).empty());
    EXPECT_EQ(testing::colourOf(back, 0), (std::vector<float>{0.25f, 0.5f, 1.0f}));
    EXPECT_EQ(testing::colourOf(back, 1), (std::vector<float>{0.0f, 0.0f, 0.0f}));
}

// Geometry files are made while the batch commits; a detail staged and then changed or gone
// must still be written as it was when staged.
TEST(GeometryFiles, AStagedFileIsWrittenAsItsDetailWasWhenStaged) {
    const std::string folder = makeFolder();
    GU_Detail reference = testing::makeSquare();
    testing::setColour(reference, 0, 0.25f, 0.5f, 1.0f);
    HOST_Internals::addMember(*reference.primitiveGroups().newGroup("g", 0), 1);
    OutputBatch batch;
    {
        GU_Detail staged = reference;
        for (const char* name : {"/m.json", "/m.obj"})
            stageGeometryFile(batch, folder + name, staged);
        testing::setColour(staged, 0, 9, 9, 9);  // changed after staging, then gone
    }
    batch.commit();
    std::ifstream json(folder + "/m.json"), obj(folder + "/m.obj"), mtl(folder + "/m.mtl");
    const auto text = [](std::ifstream& in) {
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(text(json), writeJsonGeometry(reference, folder + "/m.json"));
    const ObjText expected = writeObj(reference, "m.mtl", folder + "/m.obj");
    EXPECT_EQ(text(obj), expected.obj);
    EXPECT_EQ(text(mtl), expected.mtl);
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

TEST(Printable, ControlCharactersAndBadBytesBecomeEscapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain 'name' caf\xc3\xa9", "plain 'name' caf\xc3\xa9"},
        {"a\nb\r\tc", "a\\nb\\r\\tc"},
        {"\x1b[2J", "\\x1B[2J"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x7f", "\\x7F"},
        {"\xc2\x9b"
         "1m",
         "\\u009B1m"},
        {"\xff\xfe", "\\xFF\\xFE"},
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(printable(text), shown);
}

class OutputClashes : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(OutputClashes, TwoSpellingsOfOneFileAreRefusedBeforeWriting) {
    const std::string folder = makeFolder();
    ASSERT_EQ(::mkdir((folder + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("sub", (folder + "/link").c_str()), 0);
    OutputBatch batch;
    batch.add(folder + "/" + GetParam().first, "one");
    batch.add(folder + "/" + GetParam().second, "two");
    EXPECT_THROW(batch.commit(), OutputClash);
    EXPECT_EQ(entriesIn(folder), 2u) << "only sub and link";
    EXPECT_EQ(entriesIn(folder + "/sub"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Spellings, OutputClashes,
                         ::testing::Values(std::make_pair("sub/a.json", "sub/a.json"),
                                           std::make_pair("sub/a.json", "sub/./a.json"),
                                           std::make_pair("sub/a.json", "sub/../sub/a.json"),
                                           std::make_pair("sub/a.json", "link/a.json")));

TEST(OutputBatch, LinksToOneFileAreTwoNamesAndBothAreWritten) {
    const std::string folder = makeFolder();
    writeFileAtomically(folder + "/a.json", "old");
    ASSERT_EQ(::link((folder + "/a.json").c_str(), (folder + "/b.json").c_str()), 0);
    OutputBatch batch;
    batch.add(folder + "/a.json", "one");
    batch.add(folder + "/b.json", "two");
    batch.commit();
    EXPECT_EQ(contentOf(folder + "/a.json"), "one");
    EXPECT_EQ(contentOf(folder + "/b.json"), "two");
    EXPECT_EQ(entriesIn(folder), 2u);
}

TEST(OutputBatch, TheLongestLegalNameCanBeReplaced) {
    const std::string folder = makeFolder();
    const std::string path = folder + "/" + std::string(250, 'n') + ".json";
    writeFileAtomically(path, "old");
    writeFileAtomically(path, "new");
    EXPECT_EQ(contentOf(path), "new");
    EXPECT_EQ(entriesIn(folder), 1u);
}

TEST(OutputBatch, FolderTargetIsRefusedBeforeAnythingIsWritten) {
    const std::string folder = makeFolder();
    ASSERT_EQ(::mkdir((folder + "/x.svg").c_str(), 0755), 0);
    OutputBatch batch;
    batch.add(folder + "/a.json", "one");
    batch.add(folder + "/x.svg", "two");
    EXPECT_EQ(testing::inputErrorOf([&] { batch.commit(); }),
              folder + "/x.svg: is a folder, not a file");
    EXPECT_EQ(entriesIn(folder), 1u);
}

TEST(ReadWholeFile, OnlyRegularFilesAreRead) {
    const std::string folder = makeFolder();
    ASSERT_EQ(::mkfifo((folder + "/pipe").c_str(), 0644), 0);
    for (const std::string& path : {folder + "/pipe", std::string("/dev/zero")}) {
        EXPECT_EQ(testing::inputErrorOf([&] { readWholeFile(path); }),
                  path + ": cannot read file: not a regular file");
    }
}

// Output names whose material library an `mtllib` line could name only with care.
class ObjOutputNames : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(ObjOutputNames, TheMaterialLibraryReadsBack) {
    const std::string folder = makeFolder();
    GU_Detail geo = testing::makeSquare();
    testing::setColour(geo, 0, 0.25f, 0.5f, 1.0f);
    const std::string path = folder + "/" + GetParam().first;
    const Notes warnings = writeGeometryFile(path, geo);
    const std::string& name = GetParam().first;
    const bool renamed = name.substr(0, name.size() - 4) + ".mtl" != GetParam().second;
    EXPECT_EQ(warnings.size(), renamed ? 1u : 0u);
    EXPECT_EQ(contentOf(folder + "/" + GetParam().second).rfind("newmtl", 0), 0u);
    GU_Detail back;
    EXPECT_TRUE(readGeometryFile(path, back).empty());
    EXPECT_EQ(testing::colourOf(back, 0), (std::vector<float>{0.25f, 0.5f, 1.0f}));
}

INSTANTIATE_TEST_SUITE_P(Names, ObjOutputNames,
                         ::testing::Values(std::make_pair("my model.obj", "my model.mtl"),
                                           std::make_pair("a  b\tc.obj", "a  b\tc.mtl"),
                                           std::make_pair(" lead.obj", "_lead.mtl"),
                                           std::make_pair("two\nlines.obj", "two_lines.mtl"),
                                           std::make_pair("#hash.obj", "#hash.mtl")));

}  // namespace
}  // namespace hueslice::io
