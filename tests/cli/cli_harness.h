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

// Four quads in a row coloured red, green, red, blue (10 points), as PLY in the encoding named by
// `format`: "ascii", "binary_little_endian" or "binary_big_endian". In the binary encodings the
// header is 221 bytes, the points 120 and each face 20 (count, four ints, three uchar colours).
inline std::string meshPly(const std::string& format) {
    const float points[10][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0},
                                 {2, 1, 0}, {3, 0, 0}, {3, 1, 0}, {4, 0, 0}, {4, 1, 0}};
    const int faces[4][4] = {{0, 1, 2, 3}, {1, 4, 5, 2}, {4, 6, 7, 5}, {6, 8, 9, 7}};
    const unsigned char colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {255, 0, 0}, {0, 0, 255}};
    std::string ply = "ply\nformat " + format +
                      " 1.0\nelement vertex 10\nproperty float x\nproperty float y\n"
                      "property float z\nelement face 4\nproperty list uchar int vertex_indices\n"
                      "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    const bool big = format == "binary_big_endian";
    auto put = [&](const void* data, std::size_t size) {
        const char* bytes = static_cast<const char*>(data);
        for (std::size_t i = 0; i < size; ++i)
            ply += bytes[big ? size - 1 - i : i];
    };
    for (const auto& p : points) {
        for (float c : p) {
            if (format == "ascii") {
                ply += std::to_string(c) + " ";
            } else {
                put(&c, 4);
            }
        }
        if (format == "ascii")
            ply += "\n";
    }
    for (int f = 0; f < 4; ++f) {
        if (format == "ascii") {
            ply += "4";
            for (int i : faces[f])
                ply += " " + std::to_string(i);
            for (unsigned char c : colours[f])
                ply += " " + std::to_string(c);
            ply += "\n";
            continue;
        }
        ply += '\4';
        for (int i : faces[f])
            put(&i, 4);
        for (unsigned char c : colours[f])
            ply += static_cast<char>(c);
    }
    return ply;
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
    // `before` is shell text put in front of the program, e.g. "ulimit -f 8 &&".
    Result run(const std::vector<std::string>& args, const std::string& before = "") {
        std::string command = "cd '" + dir.string() + "' && " + before + " '" HUESLICE_PROGRAM "'";
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
