// A batch of outputs whose commit fails (one of them cannot be written) must leave the folder
// as it found it: no target touched, no temporary left behind.

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/commit/output_batch.h"
#include "io/input/input_file.h"
#include "io/io.h"

namespace hueslice::io {
namespace {

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(OutputBatch, AFailedCommitLeavesNeitherNewTargetsNorTemporaries) {
    std::string folder = ::testing::TempDir() + "batch_test.XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    writeFileAtomically(folder + "/a.json", "old a");
    OutputBatch batch;
    batch.add(folder + "/a.json", "new a");
    batch.add(folder + "/b.svg", "new b");
    batch.add(folder + "/missing/c.obj", "new c");
    EXPECT_THROW(batch.commit(), OutputError);
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"a.json"});
    EXPECT_EQ(readWholeFile(folder + "/a.json"), "old a");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace hueslice::io
