// Colour from a texture: reading a GLB of about a million triangles over a 4096 x 4096 PNG,
// against reading the same mesh with vertex colours, and against decoding the image alone.
// The textured read should cost no more than the other two together, and at most twice that.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <GU_Detail.h>
#include <benchmark/benchmark.h>

#include <io/formats/gltf/gltf.h>
#include <io/image/image.h>
#include <io/io.h>

#include "tests/support/image_files.h"

namespace {

constexpr unsigned kSide = 708;  // 708 x 708 quads: 1,002,528 triangles
constexpr int kTexels = 4096;

template <typename T>
void append(std::string& out, const std::vector<T>& values) {
    out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

// A 4096 x 4096 PNG of 64 x 64 blocks of distinct colours.
const std::string& png() {
    static const std::string bytes = [] {
        std::string rgb(std::size_t{3} * kTexels * kTexels, '\0');
        for (int y = 0; y < kTexels; ++y) {
            for (int x = 0; x < kTexels; ++x) {
                const int block = (y / 64) * 64 + x / 64;
                char* p = &rgb[3 * (static_cast<std::size_t>(y) * kTexels + x)];
                p[0] = static_cast<char>(block & 255);
                p[1] = static_cast<char>(block >> 8 << 4);
                p[2] = static_cast<char>(x / 64 * 4);
            }
        }
        return image_files::rgbPng(kTexels, kTexels, rgb);
    }();
    return bytes;
}

// The grid as a GLB: positions, indices, and either texture coordinates with a textured
// material whose image is in the binary chunk, or vertex colours.
std::string gridGlb(bool textured) {
    const unsigned points = (kSide + 1) * (kSide + 1);
    std::vector<float> positions, second;
    for (unsigned y = 0; y <= kSide; ++y) {
        for (unsigned x = 0; x <= kSide; ++x) {
            positions.insert(positions.end(), {static_cast<float>(x), static_cast<float>(y), 0});
            const float u = static_cast<float>(x) / kSide, v = static_cast<float>(y) / kSide;
            if (textured)
                second.insert(second.end(), {u, v});
            else
                second.insert(second.end(), {u, v, static_cast<float>((x / 7 + y / 5) % 3) / 2});
        }
    }
    std::vector<std::uint32_t> indices;
    for (unsigned y = 0; y < kSide; ++y) {
        for (unsigned x = 0; x < kSide; ++x) {
            const unsigned a = y * (kSide + 1) + x;
            indices.insert(indices.end(),
                           {a, a + 1, a + kSide + 2, a, a + kSide + 2, a + kSide + 1});
        }
    }
    std::string bin;
    append(bin, positions);
    const std::size_t secondAt = bin.size();
    append(bin, second);
    const std::size_t indicesAt = bin.size();
    append(bin, indices);
    const std::size_t imageAt = bin.size();
    if (textured)
        bin += png();
    while (bin.size() % 4)
        bin += '\0';
    const auto view = [](std::size_t at, std::size_t length) {
        return R"({"buffer": 0, "byteOffset": )" + std::to_string(at) + R"(, "byteLength": )" +
               std::to_string(length) + "}";
    };
    std::string json =
        R"({"asset": {"version": "2.0"}, "buffers": [{"byteLength": )" +
        std::to_string(bin.size()) + R"(}], "bufferViews": [)" + view(0, secondAt) + "," +
        view(secondAt, indicesAt - secondAt) + "," + view(indicesAt, imageAt - indicesAt) +
        (textured ? "," + view(imageAt, png().size()) : "") +
        R"(], "accessors": [{"bufferView": 0, "componentType": 5126, "count": )" +
        std::to_string(points) +
        R"(, "type": "VEC3"}, {"bufferView": 1, "componentType": 5126,)"
        R"( "count": )" +
        std::to_string(points) + R"(, "type": ")" + (textured ? "VEC2" : "VEC3") +
        R"("}, {"bufferView": 2, "componentType": 5125, "count": )" +
        std::to_string(indices.size()) +
        R"(, "type": "SCALAR"}], "meshes": [{"primitives": [{"attributes": {"POSITION": 0, ")" +
        (textured ? "TEXCOORD_0" : "COLOR_0") +
        R"(": 1}, "indices": 2, "material": 0}]}], "materials": [{"pbrMetallicRoughness": {)" +
        (textured ? R"("baseColorTexture": {"index": 0})" : R"("baseColorFactor": [1, 1, 1, 1])") +
        "}}]" +
        (textured
             ? R"(, "textures": [{"source": 0}], "images": [{"bufferView": 3, "mimeType": "image/png"}])"
             : "") +
        "}";
    while (json.size() % 4)
        json += ' ';
    const auto le32 = [](std::size_t v) {
        std::string s(4, '\0');
        for (int i = 0; i < 4; ++i)
            s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
        return s;
    };
    return "glTF" + le32(2) + le32(12 + 8 + json.size() + 8 + bin.size()) + le32(json.size()) +
           "JSON" + json + le32(bin.size()) + std::string("BIN\0", 4) + bin;
}

void readGlb(benchmark::State& state, const std::string& glb) {
    for (auto _ : state) {
        GU_Detail out;
        hueslice::io::readGltf(glb, "grid.glb", out);
        benchmark::DoNotOptimize(out.primitiveCount());
    }
    state.SetItemsProcessed(state.iterations() * 2 * kSide * kSide);
}

void BM_ReadGlbTextured(benchmark::State& state) {
    static const std::string glb = gridGlb(true);
    readGlb(state, glb);
}

void BM_ReadGlbVertexColours(benchmark::State& state) {
    static const std::string glb = gridGlb(false);
    readGlb(state, glb);
}

void BM_DecodeTexture(benchmark::State& state) {
    for (auto _ : state) {
        const hueslice::io::Image image = hueslice::io::decodeImage(png(), "grid.glb", "texture");
        benchmark::DoNotOptimize(image.rgba.data());
    }
    state.counters["png_bytes"] = static_cast<double>(png().size());
}

}  // namespace

BENCHMARK(BM_ReadGlbTextured)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadGlbVertexColours)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DecodeTexture)->Unit(benchmark::kMillisecond)->Iterations(3);
