// The palette step against reading the file it works on: a binary PLY of 1,048,576 quads whose
// face colours are about 200,000 distinct scan-like shades of eight paints.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include <GU_Detail.h>
#include <benchmark/benchmark.h>

#include <colour/reduction.h>
#include <io/formats/ply/ply.h>
#include <io/io.h>
#include <palette.h>

#include "bench_grid.h"
#include "ply_file.h"

namespace {

using namespace bench;

constexpr long long kShades = 200000;

// kShades shades: paint j mod 8, lit by 0.7 to 1.3 and with noise of sigma 10/255 (a fixed
// sequence), as 8-bit colours; face i takes shade (i * 7919) mod kShades.
const std::vector<std::uint8_t>& shades() {
    static const std::vector<std::uint8_t> table = [] {
        const double paints[8][3] = {{0.85, 0.15, 0.15}, {0.20, 0.65, 0.25}, {0.15, 0.30, 0.80},
                                     {0.95, 0.85, 0.20}, {0.80, 0.80, 0.78}, {0.12, 0.12, 0.12},
                                     {0.55, 0.20, 0.70}, {0.10, 0.60, 0.65}};
        std::uint64_t state = 0x9e3779b97f4a7c15ull;
        const auto uniform = [&state] {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
        };
        std::vector<std::uint8_t> rgb;
        for (long long j = 0; j < kShades; ++j) {
            const double light = 0.7 + 0.6 * uniform();
            for (int c = 0; c < 3; ++c) {
                const double noise =
                    std::sqrt(-2 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
                const double v = std::clamp(paints[j % 8][c] * light + noise * 10 / 255, 0.0, 1.0);
                rgb.push_back(static_cast<std::uint8_t>(std::lround(v * 255)));
            }
        }
        return rgb;
    }();
    return table;
}

void shadeOf(long long i, unsigned char rgb[3]) {
    const std::size_t j = static_cast<std::size_t>((i * 7919) % kShades);
    std::copy_n(&shades()[3 * j], 3, rgb);
}

const PlyFile& scanFile() {
    static const PlyFile file(kMedium, false, shadeOf);
    return file;
}

// The read the palette step is measured against.
void BM_ReadScanPly(benchmark::State& state) {
    GU_Detail detail;
    for (auto _ : state) {
        hueslice::io::readPlyFile(scanFile().path, detail);
        benchmark::DoNotOptimize(detail.primitiveCount());
    }
    std::set<std::uint32_t> distinct;
    for (long long i = 0; i < kShades; ++i) {
        const std::uint8_t* c = &shades()[3 * static_cast<std::size_t>(i)];
        distinct.insert((c[0] << 16) | (c[1] << 8) | c[2]);
    }
    state.counters["distinct_colours"] = static_cast<double>(distinct.size());
    state.SetItemsProcessed(state.iterations() * kMedium);
}

// The whole step as cook runs it: gathering colours and areas, choosing or matching, and
// writing the palette colours back. Each iteration works on a fresh copy of the read detail.
void runPalette(benchmark::State& state, const hueslice::colour::ReductionRequest& request) {
    GU_Detail read;
    hueslice::io::readPlyFile(scanFile().path, read);
    double meanDeltaE = 0;
    for (auto _ : state) {
        state.PauseTiming();
        GU_Detail detail = read;
        detail.primitiveAttribData(0);  // its own storage, as the cook's input has
        state.ResumeTiming();
        hueslice::io::Notes notes;
        const hueslice::colour::Reduction r = hueslice::cli::applyPalette(detail, request, notes);
        meanDeltaE = 0;
        for (const auto& use : r.colours)
            meanDeltaE += use.meanDeltaE * use.area / r.totalArea;
    }
    state.counters["mean_dE"] = meanDeltaE;
    state.SetItemsProcessed(state.iterations() * kMedium);
}

void BM_PaletteColours(benchmark::State& state) {
    hueslice::colour::ReductionRequest request;
    request.count = static_cast<std::size_t>(state.range(0));
    runPalette(state, request);
}

void BM_PaletteGiven(benchmark::State& state) {
    hueslice::colour::ReductionRequest request;
    request.kind = hueslice::colour::ReductionRequest::Given;
    for (long long i = 0; i < state.range(0); ++i) {
        request.given.push_back(
            {{static_cast<std::uint8_t>(i * 16), static_cast<std::uint8_t>(255 - i * 16),
              static_cast<std::uint8_t>((i * 97) % 256)},
             ""});
    }
    runPalette(state, request);
}

}  // namespace

BENCHMARK(BM_ReadScanPly)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_PaletteColours)->Unit(benchmark::kMillisecond)->Arg(8)->MinTime(0.5);
BENCHMARK(BM_PaletteGiven)->Unit(benchmark::kMillisecond)->Arg(16)->MinTime(0.5);
