#pragma once

// Folders and files for the io tests that write.

#include <dirent.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <string>

#include "io/input/input_file.h"

namespace hueslice::io::testing {

// A fresh folder under the test's temporary directory.
inline std::string makeFolder() {
    std::string pattern = ::testing::TempDir() + "io_test.XXXXXX";
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
    return pattern;
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string contentOf(const std::string& path) {
    return readWholeFile(path);
}

// How many names `folder` holds, "." and ".." aside.
inline std::size_t entriesIn(const std::string& folder) {
    std::size_t n = 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    while (const dirent* e = ::readdir(dir))
        n += e->d_name[0] != '.' || std::string(e->d_name).size() > 2;
    ::closedir(dir);
    return n;
}

}  // namespace hueslice::io::testing
