#include <gtest/gtest.h>

#include <sys/stat.h>

#include <unistd.h>
#include <string>

#include "io/input/input_file.h"
#include "io/input/named_files.h"
#include "test_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using testing::makeFolder;

TEST(ReadWholeFile, OnlyRegularFilesAreRead) {
    const std::string folder = makeFolder();
    ASSERT_EQ(::mkfifo((folder + "/pipe").c_str(), 0644), 0);
    for (const std::string& path : {folder + "/pipe", std::string("/dev/zero")}) {
        EXPECT_EQ(testing::inputErrorOf([&] { readWholeFile(path); }),
                  path + ": cannot read file: not a regular file");
    }
}

// A model from a stranger names files: only those inside its own folder tree are looked at.
TEST(LocateNamedFile, StaysInsideTheModelsFolderTree) {
    const std::string root = makeFolder();
    const std::string folder = root + "/model";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((folder + "/tex").c_str(), 0755), 0);
    testing::writeFile(folder + "/tex/a.png", "x");
    testing::writeFile(root + "/secret.bin", "x");
    ASSERT_EQ(::symlink("../secret.bin", (folder + "/out.bin").c_str()), 0);
    ASSERT_EQ(::symlink("tex/a.png", (folder + "/in.png").c_str()), 0);
    ASSERT_EQ(::symlink("gone.png", (folder + "/dangling.png").c_str()), 0);
    const std::string model = folder + "/m.gltf";
    const std::string out = "leads out of the model's folder";
    const struct {
        std::string reference;
        std::string path;  // found there; empty when refused
        bool found;
        std::string fault;
    } cases[] = {
        {"tex/a.png", folder + "/tex/a.png", true, ""},
        {"./tex//a.png", folder + "/tex/a.png", true, ""},
        {"tex/../tex/a.png", folder + "/tex/a.png", true, ""},
        {"in.png", folder + "/in.png", true, ""},
        {"missing.png", folder + "/missing.png", false, ""},
        {"dangling.png", folder + "/dangling.png", false, ""},
        {"tex/a.png/b", folder + "/tex/a.png/b", false, ""},
        {"../secret.bin", "", false, out},
        {"../nothing.png", "", false, out},
        {"tex/../../secret.bin", "", false, out},
        {"out.bin", "", false, out},
        {root + "/secret.bin", "", false, "absolute paths are not followed"},
        {"file:secret.bin", "", false, "only relative file names are followed"},
        {"C:secret.bin", "", false, "only relative file names are followed"},
        {"", "", false, "empty file name"},
        {"tex/..", "", false, "names the model's folder, not a file"},
        {std::string("a\0b", 3), "", false, "NUL in file name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reference);
        if (!c.fault.empty()) {
            EXPECT_EQ(testing::inputErrorOf([&] { locateNamedFile(model, c.reference, "image"); }),
                      model + ": image \"" + printable(c.reference) + "\": " + c.fault);
            continue;
        }
        const NamedFile named = locateNamedFile(model, c.reference, "image");
        EXPECT_EQ(named.path, c.path);
        EXPECT_EQ(named.found, c.found);
    }
    // A bare model name is looked up from the current folder, as its own folder.
    const NamedFile bare = locateNamedFile("m.gltf", "./a:b/c.png", "image");
    EXPECT_EQ(bare.path, "./a:b/c.png");
}

}  // namespace
}  // namespace hueslice::io
