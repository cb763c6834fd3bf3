#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "io/input/input_file.h"
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

}  // namespace
}  // namespace hueslice::io
