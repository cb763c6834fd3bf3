// Feeds every file kept for each fuzz target (the crashes it once found, then its seeds) to the
// target's entry. A broken invariant aborts with the target's message; sanitizer builds also
// catch memory and undefined-behaviour faults on these inputs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

struct Target {
    const char* name;
    int (*entry)(const std::uint8_t*, std::size_t);
};

void PrintTo(const Target& target, std::ostream* out) {
    *out << target.name;
}

const Target kTargets[] = {
    {"ply", hueslice::fuzz::fuzzPly},         {"json_geometry", hueslice::fuzz::fuzzJsonGeometry},
    {"scene", hueslice::fuzz::fuzzScene},     {"obj", hueslice::fuzz::fuzzObj},
    {"node", hueslice::fuzz::fuzzNode},       {"gltf", hueslice::fuzz::fuzzGltf},
    {"threemf", hueslice::fuzz::fuzzThreeMf}, {"image", hueslice::fuzz::fuzzImage},
    {"palette", hueslice::fuzz::fuzzPalette},
};

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    if (!fs::is_directory(dir))
        return files;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file())
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, KeptInputsPassEveryCheck) {
    const Target& target = GetParam();
    const fs::path root(HUESLICE_FUZZ_DIR);
    const std::vector<fs::path> seeds = filesIn(root / "corpus" / target.name);
    EXPECT_FALSE(seeds.empty()) << "no seeds for " << target.name;
    std::vector<fs::path> inputs = filesIn(root / "regressions" / target.name);
    inputs.insert(inputs.end(), seeds.begin(), seeds.end());
    for (const fs::path& path : inputs) {
        SCOPED_TRACE(path.string());
        std::ifstream file(path, std::ios::binary);
        ASSERT_TRUE(file) << "cannot read " << path;
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                      std::istreambuf_iterator<char>());
        EXPECT_EQ(target.entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                  0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
