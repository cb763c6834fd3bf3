#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

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

}  // namespace
}  // namespace hueslice::io
