// Writing many parts: each format's writer on meshes of N one-quad parts, each its own group and
// colour, and the 3MF reader on what its writer made of them. The time per part should not grow
// with N; the complexity fit Google Benchmark prints for each (`_BigO`) shows a step that is
// quadratic in parts as O(N^2). `split` stages a split folder of STL files (every part's detail
// and plan) without committing it, so that the file system's costs, which vary far more than
// ours, stay out of the figure.

#include <HOST_Internals.h>
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include <io/commit/output_batch.h>

#include <io/formats/3mf/3mf.h>
#include <io/formats/gltf/gltf.h>
#include <io/formats/obj/obj.h>
#include <io/formats/stl/stl.h>
#include <io/parts/split.h>

namespace {

enum class Writer { Obj, ThreeMf, Glb, Stl, Split };

// N quads in a row of 1000, each in a group of its own with a colour of its own.
const GU_Detail& partsMesh(unsigned parts) {
    static std::map<unsigned, GU_Detail> meshes;
    auto found = meshes.find(parts);
    if (found != meshes.end())
        return found->second;
    GU_Detail& geo = meshes[parts];
    constexpr unsigned kRow = 1000;
    const unsigned rows = (parts + kRow - 1) / kRow;
    for (unsigned y = 0; y <= rows; ++y) {
        for (unsigned x = 0; x <= kRow; ++x)
            geo.appendPoint(UT_Vector3(static_cast<float>(x), static_cast<float>(y), 0));
    }
    const int cd = geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
    for (unsigned i = 0; i < parts; ++i) {
        const unsigned base = i / kRow * (kRow + 1) + i % kRow;
        const unsigned quad[4] = {base, base + 1, base + kRow + 2, base + kRow + 1};
        const long long prim = geo.appendPrimitive(quad, 4);
        const float rgb[3] = {static_cast<float>(i % 256) / 255.0f,
                              static_cast<float>(i / 256 % 256) / 255.0f, 0.5f};
        std::memcpy(geo.primitiveAttribData(prim) + cd, rgb, sizeof rgb);
        const std::string name = "part" + std::to_string(i);
        HOST_Internals::addMember(*geo.primitiveGroups().newGroup(name.c_str()),
                                  static_cast<unsigned>(prim));
    }
    return geo;
}

// An empty folder of this process's own, removed at exit; staging a split only makes the folder.
const std::string& splitFolder() {
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/hueslice-parts-XXXXXX";
        if (!::mkdtemp(name.data()))
            std::abort();
        return name;
    }();
    static const struct Remover {
        ~Remover() { ::rmdir(folder.c_str()); }
    } remover;
    return folder;
}

std::size_t write(Writer writer, const GU_Detail& mesh) {
    switch (writer) {
        case Writer::Obj: {
            std::size_t size = 0;
            hueslice::io::streamObj(mesh, "parts.mtl", "parts.obj")
                .writeObj([&size](std::string_view piece) { size += piece.size(); });
            return size;
        }
        case Writer::ThreeMf:
            return hueslice::io::write3mf(mesh, {}, "parts.3mf").bytes.size();
        case Writer::Glb:
            return hueslice::io::writeGltf(mesh, {}, true, "parts.glb").bytes.size();
        case Writer::Stl:
            return hueslice::io::writeStl(mesh, "parts.stl").bytes.size();
        case Writer::Split: {
            // The staged files' bytes are made when the batch is committed, so none are counted.
            hueslice::io::OutputBatch batch;
            hueslice::io::stageSplit(batch, splitFolder(), "stl", mesh, {});
            return 0;
        }
    }
    return 0;
}

void BM_WriteParts(benchmark::State& state, Writer writer) {
    const GU_Detail& mesh = partsMesh(static_cast<unsigned>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state) {
        size = write(writer, mesh);
        benchmark::DoNotOptimize(size);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    if (size > 0)
        state.counters["file_bytes"] = static_cast<double>(size);
}

#define PARTS(name, writer)                        \
    BENCHMARK_CAPTURE(BM_WriteParts, name, writer) \
        ->Unit(benchmark::kMillisecond)            \
        ->RangeMultiplier(4)                       \
        ->Range(1250, 20000)                       \
        ->Complexity(benchmark::oN)                \
        ->MinTime(0.2)

PARTS(obj, Writer::Obj);
PARTS(3mf, Writer::ThreeMf);
PARTS(glb, Writer::Glb);
PARTS(stl, Writer::Stl);
PARTS(split, Writer::Split);

// Reads back the 3MF written of N parts: N mesh objects and components of one assembly.
void BM_ReadParts3mf(benchmark::State& state) {
    const std::string bytes =
        hueslice::io::write3mf(partsMesh(static_cast<unsigned>(state.range(0))), {}, "parts.3mf")
            .bytes;
    for (auto _ : state) {
        GU_Detail detail;
        hueslice::io::read3mf(bytes, "parts.3mf", detail);
        benchmark::DoNotOptimize(detail.primitiveCount());
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadParts3mf)
    ->Unit(benchmark::kMillisecond)
    ->RangeMultiplier(4)
    ->Range(1250, 20000)
    ->Complexity(benchmark::oN)
    ->MinTime(0.2);

}  // namespace
