// Reads and writes the command-line host's files: the PLY reader against the bare bytes, each
// exchange format on one large mesh, and the OBJ writer's chunks.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <GU_Detail.h>
#include <HOST_Internals.h>
#include <benchmark/benchmark.h>

#include <io/formats/3mf/3mf.h>
#include <io/formats/gltf/gltf.h>
#include <io/formats/obj/obj.h>
#include <io/formats/ply/ply.h>
#include <io/io.h>
#include <io/text/text_chunks.h>

#include "bench_grid.h"
#include "ply_file.h"

namespace {

using namespace bench;

// The whole file in one read of its known size: the floor for any reader of it.
std::string readBytes(const std::string& path) {
    std::string bytes;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return bytes;
    if (std::fseek(in, 0, SEEK_END) == 0) {
        const long size = std::ftell(in);
        if (size > 0 && std::fseek(in, 0, SEEK_SET) == 0) {
            bytes.resize(static_cast<std::size_t>(size));
            bytes.resize(std::fread(&bytes[0], 1, bytes.size(), in));
        }
    }
    std::fclose(in);
    return bytes;
}

void BM_ReadFileBytes(benchmark::State& state) {
    const long long prims = state.range(0);
    const PlyFile file(prims);
    if (file.path.empty()) {
        state.SkipWithError("cannot write the PLY file");
        return;
    }
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string bytes = readBytes(file.path);
        size = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * prims);
    state.counters["file_bytes"] = static_cast<double>(size);
}

// The pair that shows what taking face colours from vertex colours costs: the same grid read
// with colours on its faces, and with colours on its points that each face takes by majority.
void readPlyColours(benchmark::State& state, bool vertexColours) {
    const long long prims = state.range(0);
    const PlyFile file(prims, vertexColours);
    if (file.path.empty()) {
        state.SkipWithError("cannot write the PLY file");
        return;
    }
    GU_Detail detail;
    for (auto _ : state) {
        hueslice::io::readPlyFile(file.path, detail);
        benchmark::DoNotOptimize(detail.primitiveCount());
    }
    if (detail.primitiveCount() != prims || detail.primitiveAttribs().find("Cd") == nullptr)
        state.SkipWithError("the reader lost faces or colours");
    state.SetItemsProcessed(state.iterations() * prims);
}

// A file read as the program reads it: face colours, so every face gets "Cd".
void BM_ReadPly(benchmark::State& state) {
    readPlyColours(state, false);
}

// The formats compared on one mesh: 1,048,576 triangles on a 1024 x 512 grid of cells, in 16
// groups of whole rows, each group with its own colour in "Cd".
enum class Format { Ply, Obj, ThreeMf, Glb };

const GU_Detail& exchangeMesh() {
    static const GU_Detail mesh = [] {
        constexpr unsigned kColumns = 1024;
        constexpr unsigned kRows = 512;
        constexpr unsigned kGroups = 16;
        GU_Detail geo;
        geo.reservePoints(static_cast<std::size_t>(kColumns + 1) * (kRows + 1));
        for (unsigned y = 0; y <= kRows; ++y) {
            for (unsigned x = 0; x <= kColumns; ++x)
                geo.appendPoint(UT_Vector3(static_cast<float>(x), static_cast<float>(y), 0.0f));
        }
        geo.reservePrimitives(2ull * kColumns * kRows, 6ull * kColumns * kRows);
        const int cd = geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
        std::vector<GB_PrimitiveGroup*> groups;
        for (unsigned g = 0; g < kGroups; ++g)
            groups.push_back(geo.primitiveGroups().newGroup(("part" + std::to_string(g)).c_str()));
        for (unsigned y = 0; y < kRows; ++y) {
            const unsigned g = y * kGroups / kRows;
            const float rgb[3] = {static_cast<float>(g) / kGroups, 0.5f,
                                  1.0f - static_cast<float>(g) / kGroups};
            for (unsigned x = 0; x < kColumns; ++x) {
                const unsigned base = y * (kColumns + 1) + x;
                const unsigned triangles[2][3] = {{base, base + 1, base + kColumns + 2},
                                                  {base, base + kColumns + 2, base + kColumns + 1}};
                for (const auto& t : triangles) {
                    const long long prim = geo.appendPrimitive(t, 3);
                    std::memcpy(geo.primitiveAttribData(prim) + cd, rgb, sizeof rgb);
                    HOST_Internals::addMember(*groups[g], static_cast<unsigned>(prim));
                }
            }
        }
        return geo;
    }();
    return mesh;
}

// The file of the exchange mesh in `format`, in memory; OBJ text and its MTL joined by a NUL.
std::string writeMesh(Format format) {
    const GU_Detail& mesh = exchangeMesh();
    switch (format) {
        case Format::Ply:
            return hueslice::io::writePly(mesh, "mesh.ply").bytes;
        case Format::Obj: {
            hueslice::io::ObjText text = hueslice::io::writeObj(mesh, "mesh.mtl", "mesh.obj");
            return text.obj + '\0' + text.mtl;
        }
        case Format::ThreeMf:
            return hueslice::io::write3mf(mesh, {}, "mesh.3mf").bytes;
        case Format::Glb:
            return hueslice::io::writeGltf(mesh, {}, true, "mesh.glb").bytes;
    }
    return {};
}

void BM_WriteMesh(benchmark::State& state, Format format) {
    exchangeMesh();
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string bytes = writeMesh(format);
        size = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * exchangeMesh().primitiveCount());
    state.counters["file_bytes"] = static_cast<double>(size);
}

void BM_ReadMesh(benchmark::State& state, Format format) {
    const std::string bytes = writeMesh(format);
    GU_Detail detail;
    for (auto _ : state) {
        switch (format) {
            case Format::Ply:
                hueslice::io::readPly(bytes, "mesh.ply", detail);
                break;
            case Format::Obj: {
                const std::string_view all(bytes);
                const std::size_t nul = all.find('\0');
                hueslice::io::readObj(all.substr(0, nul), "mesh.obj", all.substr(nul + 1),
                                      "mesh.mtl", detail);
                break;
            }
            case Format::ThreeMf:
                hueslice::io::read3mf(bytes, "mesh.3mf", detail);
                break;
            case Format::Glb:
                hueslice::io::readGltf(bytes, "mesh.glb", detail);
                break;
        }
        benchmark::DoNotOptimize(detail.primitiveCount());
    }
    if (detail.primitiveCount() != exchangeMesh().primitiveCount())
        state.SkipWithError("the reader lost faces");
    state.SetItemsProcessed(state.iterations() * exchangeMesh().primitiveCount());
    state.counters["file_bytes"] = static_cast<double>(bytes.size());
}

void BM_ReadPlyFaceColours(benchmark::State& state) {
    readPlyColours(state, false);
}

void BM_ReadPlyVertexColours(benchmark::State& state) {
    readPlyColours(state, true);
}

// OBJ text of a grid of quads as the node leaves it after "Initialise": colours in runs of 1-15
// faces, one group per colour, so that grouped faces are written out of input order. Arguments:
// colours, workers (0: one per core) and whether the input order is kept. The text goes to a
// sink that only counts it.
const GU_Detail& runsMesh(unsigned colours) {
    static std::map<unsigned, GU_Detail> meshes;
    auto found = meshes.find(colours);
    if (found != meshes.end())
        return found->second;
    constexpr unsigned kSide = 1024;
    GU_Detail& geo = meshes[colours];
    for (unsigned y = 0; y <= kSide; ++y) {
        for (unsigned x = 0; x <= kSide; ++x)
            geo.appendPoint(UT_Vector3(x * 0.001f, y * 0.001f, 0.0f));
    }
    geo.reservePrimitives(std::size_t{kSide} * kSide, 4ull * kSide * kSide);
    const int cd = geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
    std::vector<GB_PrimitiveGroup*> groups;
    for (unsigned c = 0; c < colours; ++c)
        groups.push_back(geo.primitiveGroups().newGroup(("group" + std::to_string(c + 1)).c_str()));
    std::mt19937 random(15);
    unsigned colour = 0;
    unsigned runLeft = 0;
    for (unsigned y = 0; y < kSide; ++y) {
        for (unsigned x = 0; x < kSide; ++x) {
            if (runLeft-- == 0) {
                colour = random() % colours;
                runLeft = random() % 15;
            }
            const unsigned base = y * (kSide + 1) + x;
            const unsigned quad[4] = {base, base + 1, base + kSide + 2, base + kSide + 1};
            const long long prim = geo.appendPrimitive(quad, 4);
            const float rgb[3] = {static_cast<float>(colour % 16) / 15.0f,
                                  static_cast<float>(colour / 16 % 16) / 15.0f,
                                  static_cast<float>(colour / 256) / 15.0f};
            std::memcpy(geo.primitiveAttribData(prim) + cd, rgb, sizeof rgb);
            HOST_Internals::addMember(*groups[colour], static_cast<unsigned>(prim));
        }
    }
    return geo;
}

void BM_WriteObj(benchmark::State& state) {
    const GU_Detail& mesh = runsMesh(static_cast<unsigned>(state.range(0)));
    hueslice::io::detail::ChunkShape& shape = hueslice::io::detail::chunkShape();
    const hueslice::io::detail::ChunkShape saved = shape;
    shape.workers = static_cast<unsigned>(state.range(1));
    std::size_t size = 0;
    for (auto _ : state) {
        size = 0;
        const hueslice::io::ObjStream stream =
            hueslice::io::streamObj(mesh, "mesh.mtl", "mesh.obj", state.range(2) != 0);
        stream.writeObj([&size](std::string_view piece) { size += piece.size(); });
        benchmark::DoNotOptimize(size);
    }
    shape = saved;
    state.SetItemsProcessed(state.iterations() * mesh.primitiveCount());
    state.counters["file_bytes"] = static_cast<double>(size);
}

BENCHMARK(BM_ReadFileBytes)
    ->Unit(benchmark::kMillisecond)
    ->Arg(kSmall)
    ->Arg(kMedium)
    ->Arg(kLarge)
    ->MinTime(0.3);
BENCHMARK(BM_ReadPly)
    ->Unit(benchmark::kMillisecond)
    ->Arg(kSmall)
    ->Arg(kMedium)
    ->Arg(kLarge)
    ->MinTime(0.3);
BENCHMARK(BM_ReadPlyFaceColours)->Unit(benchmark::kMillisecond)->Arg(kMedium)->MinTime(0.3);
BENCHMARK(BM_ReadPlyVertexColours)->Unit(benchmark::kMillisecond)->Arg(kMedium)->MinTime(0.3);
BENCHMARK_CAPTURE(BM_WriteMesh, ply, Format::Ply)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_WriteMesh, obj, Format::Obj)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_WriteMesh, 3mf, Format::ThreeMf)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_WriteMesh, glb, Format::Glb)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_ReadMesh, ply, Format::Ply)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_ReadMesh, obj, Format::Obj)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_ReadMesh, 3mf, Format::ThreeMf)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_ReadMesh, glb, Format::Glb)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_WriteObj)
    ->Unit(benchmark::kMillisecond)
    ->ArgNames({"colours", "workers", "keep_order"})
    ->ArgsProduct({{16, 4096}, {1, 2}, {0, 1}})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinTime(0.5);

}  // namespace
