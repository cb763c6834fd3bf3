#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace cli_testing {

struct Result {
    int status;
    std::string out;
    std::string err;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Each test runs the built program in a folder of its own, removed afterwards.
class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/hueslice_cli_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Runs `hueslice ARGS...` in the test's folder; arguments are passed through unchanged.
    Result run(const std::vector<std::string>& args) {
        std::string command = "cd '" + dir.string() + "' && '" HUESLICE_PROGRAM "'";
        for (const std::string& a : args) {
            std::string quoted;
            for (char c : a)
                quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
            command += " '" + quoted + "'";
        }
        command += " > stdout.txt 2> stderr.txt";
        const int raw = std::system(command.c_str());
        Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(dir / "stdout.txt"),
                 readFile(dir / "stderr.txt")};
        std::filesystem::remove(dir / "stdout.txt");
        std::filesystem::remove(dir / "stderr.txt");
        return r;
    }

    void write(const std::string& name, const std::string& bytes) { writeFile(dir / name, bytes); }
    std::string read(const std::string& name) { return readFile(dir / name); }
    bool exists(const std::string& name) { return std::filesystem::exists(dir / name); }

    std::filesystem::path dir;
};

}  // namespace cli_testing
