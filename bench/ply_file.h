#pragma once

// Binary PLY files for the benchmarks that read them.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_grid.h"

namespace bench {

// The 8-bit colour of face `i`.
using FaceColour = std::function<void(long long i, unsigned char rgb[3])>;

// A binary little-endian PLY of `prims` quads on a grid, in a temporary file that is removed
// with this object. Colours are on the faces (face i has colour i mod 4096, or the colour
// `faceColour` gives it) or, with `vertexColours`, on the points only, in diagonal bands that
// give quads of one, two and three colours, ties included.
class PlyFile {
  public:
    explicit PlyFile(long long prims, bool vertexColours = false, FaceColour faceColour = {}) {
        char name[] = "/tmp/hueslice_bench_XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            return;
        close(fd);
        path = name;
        std::ofstream out(path, std::ios::binary);
        const unsigned side = gridSide(prims);
        const unsigned long long points = static_cast<unsigned long long>(side + 1) * (side + 1);
        const char* rgbProperties =
            "property uchar red\nproperty uchar green\nproperty uchar blue\n";
        out << "ply\nformat binary_little_endian 1.0\n"
            << "element vertex " << points << "\nproperty float x\nproperty float y\n"
            << "property float z\n"
            << (vertexColours ? rgbProperties : "") << "element face " << prims
            << "\nproperty list uchar int vertex_indices\n"
            << (vertexColours ? "" : rgbProperties) << "end_header\n";
        std::vector<unsigned char> bytes;
        bytes.reserve(static_cast<std::size_t>(points) * 12 + static_cast<std::size_t>(prims) * 20);
        const auto put = [&bytes](const void* data, std::size_t size) {
            const auto* at = static_cast<const unsigned char*>(data);
            bytes.insert(bytes.end(), at, at + size);  // this machine is little-endian
        };
        for (unsigned y = 0; y <= side; ++y) {
            for (unsigned x = 0; x <= side; ++x) {
                const float xyz[3] = {static_cast<float>(x), static_cast<float>(y), 0.0f};
                put(xyz, sizeof xyz);
                if (vertexColours) {
                    const unsigned k = ((x + 2 * y) / 3) % 4096;
                    const unsigned char rgb[3] = {static_cast<unsigned char>(k & 255),
                                                  static_cast<unsigned char>((k >> 8) * 16), 128};
                    put(rgb, sizeof rgb);
                }
            }
        }
        for (long long i = 0; i < prims; ++i) {
            const auto x = static_cast<std::int32_t>(i % side);
            const auto y = static_cast<std::int32_t>(i / side);
            const std::int32_t base = y * static_cast<std::int32_t>(side + 1) + x;
            const std::int32_t quad[4] = {base, base + 1,
                                          base + static_cast<std::int32_t>(side) + 2,
                                          base + static_cast<std::int32_t>(side) + 1};
            const unsigned char count = 4;
            put(&count, 1);
            put(quad, sizeof quad);
            if (vertexColours)
                continue;
            const long long k = i % 4096;
            unsigned char rgb[3] = {static_cast<unsigned char>(k & 255),
                                    static_cast<unsigned char>((k >> 8) * 16), 128};
            if (faceColour)
                faceColour(i, rgb);
            put(rgb, sizeof rgb);
        }
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out)
            path.clear();
    }
    ~PlyFile() {
        if (!path.empty())
            std::remove(path.c_str());
    }
    PlyFile(const PlyFile&) = delete;
    PlyFile& operator=(const PlyFile&) = delete;

    std::string path;  // empty when the file could not be written
};

}  // namespace bench
