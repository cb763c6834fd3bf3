#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <HOST_PluginLoader.h>
#include <gtest/gtest.h>

namespace {

std::string fixture(const char* name) {
    return std::string(FIXTURE_DIR) + "/" + name + ".so";
}

struct LoaderTest : ::testing::Test {
    // Tries to load `path` and expects a refusal with exactly `message`.
    void expectRefused(const std::string& path, const std::string& message) {
        std::string error;
        EXPECT_EQ(HOST_Plugin::load(path, table, error), nullptr);
        EXPECT_EQ(error, message);
        EXPECT_EQ(table.entries(), 0u) << "a failed load leaves the table unchanged";
    }
    OP_OperatorTable table;
};

TEST_F(LoaderTest, MissingFile) {
    expectRefused("/nonexistent/SOP_Hueslice.so", "/nonexistent/SOP_Hueslice.so: no such file");
}

TEST_F(LoaderTest, NotALibrary) {
    const std::filesystem::path text =
        std::filesystem::temp_directory_path() / ("not_a_library_" + std::to_string(getpid()));
    std::ofstream(text) << "plain text\n";
    std::string error;
    EXPECT_EQ(HOST_Plugin::load(text.string(), table, error), nullptr);
    EXPECT_EQ(error.rfind(text.string() + ": not a loadable library (", 0), 0u) << error;
    EXPECT_EQ(table.entries(), 0u);
    std::filesystem::remove(text);
}

TEST_F(LoaderTest, LibraryWithoutEntryPoints) {
    expectRefused(fixture("fixture_no_entry_points"),
                  fixture("fixture_no_entry_points") + ": missing entry point 'HoudiniDSOVersion'");
    expectRefused(fixture("fixture_no_register"),
                  fixture("fixture_no_register") + ": missing entry point 'newSopOperator'");
}

TEST_F(LoaderTest, WrongInterfaceVersion) {
    expectRefused(fixture("fixture_wrong_version"),
                  fixture("fixture_wrong_version") +
                      ": built for plug-in interface version '6.5', this host needs '7.0'");
}

TEST_F(LoaderTest, RelativePathsAreResolvedAgainstTheCurrentFolderOnly) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(FIXTURE_DIR);
    std::string error;
    // A bare name would make dlopen search the library path; the loader must not.
    EXPECT_EQ(HOST_Plugin::load("libhueslice_host.so", table, error), nullptr);
    EXPECT_EQ(error, std::string(FIXTURE_DIR) + "/libhueslice_host.so: no such file");
    std::filesystem::current_path(previous);
}

}  // namespace
