// Drives the node the way the host does (input geometry, parameter writes, cooks, button
// presses, the enabling hook) and times each operation on large inputs.

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <GU_Detail.h>
#include <HOST_Internals.h>
#include <HOST_Session.h>
#include <OP_Node.h>
#include <SOP_Node.h>
#include <UT_String.h>
#include <UT_Vector3.h>
#include <benchmark/benchmark.h>
#include <parms/parm_templates.h>
#include <sop/SOP_Hueslice.h>

#include "bench_grid.h"

namespace {

using namespace bench;

// Member storage of the live groups, with their names.
std::size_t groupBytes(const GU_Detail& detail) {
    std::size_t bytes = 0;
    for (const GB_PrimitiveGroup* g : detail.primitiveGroups().groups()) {
        bytes +=
            HOST_Internals::groupBytes(*g) + sizeof(GB_PrimitiveGroup) + std::strlen(g->getName());
    }
    return bytes;
}

void reportMemory(benchmark::State& state, const GU_Detail& detail) {
    state.counters["group_bytes"] = static_cast<double>(groupBytes(detail));
    state.counters["detail_bytes"] = static_cast<double>(HOST_Internals::detailBytes(detail));
}

// A session with the operator registered from the node's code, as the plug-in registers it,
// and one node in it.
class Host {
  public:
    Host() {
        session.operatorTable().addOperator(new OP_Operator(
            "hueslice", "Hueslice", hueslice::constructNode, hueslice::parmTemplates, 1, 1));
        node = static_cast<hueslice::SOP_Hueslice*>(session.createNode("hueslice"));
    }

    void setCount(long long count) {
        node->setInt(hueslice::kNumEntriesToken, 0, 0.0, static_cast<int>(count));
    }

    void setEntry(int i, const UT_Vector3& colour, const char* name) {
        for (int c = 0; c < 3; ++c) {
            node->setFloatInst(colour[c], hueslice::kColourPattern, &i, c, 0.0);
        }
        node->setStringInst(UT_String(name), hueslice::kGroupPattern, &i, 0, 0.0);
    }

    // Entry i (1-based) takes colours[i - 1] and the name "g<i>".
    void setEntries(const std::vector<UT_Vector3>& colours) {
        setCount(static_cast<long long>(colours.size()));
        std::string name;
        for (std::size_t i = 0; i < colours.size(); ++i) {
            name = "g" + std::to_string(i + 1);
            setEntry(static_cast<int>(i + 1), colours[i], name.c_str());
        }
    }

    // Back to one fresh entry with an empty name, which makes the cook only copy.
    void resetToCopyOnly() {
        setCount(0);
        setCount(1);
        node->setStringInst(UT_String(""), hueslice::kGroupPattern, &kFirst, 0, 0.0);
    }

    HOST_Session session;
    hueslice::SOP_Hueslice* node = nullptr;

  private:
    static constexpr int kFirst = 1;
};

std::vector<UT_Vector3> distinctColours(long long count) {
    std::vector<UT_Vector3> colours;
    colours.reserve(static_cast<std::size_t>(count));
    for (long long k = 0; k < count; ++k)
        colours.push_back(colourOf(k));
    return colours;
}

std::vector<UT_Vector3> randomColours(long long count) {
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<UT_Vector3> colours;
    colours.reserve(static_cast<std::size_t>(count));
    for (long long k = 0; k < count; ++k) {
        const float r = unit(random);
        const float g = unit(random);
        const float b = unit(random);
        colours.emplace_back(r, g, b);
    }
    return colours;
}

// Times the recooks of a node set up for `prims` primitives. The host recooks into the same
// output, so the first cook's allocation is left out of the timing.
void timeRecooks(benchmark::State& state, Host& host, long long prims) {
    host.node->cook(0.0);
    for (auto _ : state) {
        host.node->cook(0.0);
        benchmark::DoNotOptimize(host.node->getCookedGeo());
    }
    state.SetItemsProcessed(state.iterations() * prims);
    reportMemory(state, *host.node->getCookedGeo());
}

void BM_CookCopyOnly(benchmark::State& state) {
    const long long prims = state.range(0);
    Host host;
    host.node->setInput(0, grid(prims, 4096));
    host.resetToCopyOnly();
    timeRecooks(state, host, prims);
}

void BM_Cook(benchmark::State& state) {
    const long long prims = state.range(0);
    const long long entries = state.range(1);
    Host host;
    host.node->setInput(0, grid(prims, entries));
    host.setEntries(distinctColours(entries));
    timeRecooks(state, host, prims);
}

void BM_Initialise(benchmark::State& state) {
    const long long prims = state.range(0);
    const long long colours = state.range(1);
    Host host;
    host.node->setInput(0, grid(prims, colours));
    for (auto _ : state) {
        state.PauseTiming();
        host.resetToCopyOnly();
        host.node->cook(0.0);
        state.ResumeTiming();
        host.node->pressButton(hueslice::kInitialiseToken);
    }
    if (host.node->evalInt(hueslice::kNumEntriesToken, 0, 0.0) != colours) {
        state.SkipWithError("Initialise found the wrong number of colours");
    }
    state.SetItemsProcessed(state.iterations() * prims);
}

void BM_Sort(benchmark::State& state) {
    const long long entries = state.range(0);
    const std::vector<UT_Vector3> colours = randomColours(entries);
    Host host;
    for (auto _ : state) {
        state.PauseTiming();
        host.setEntries(colours);
        state.ResumeTiming();
        host.node->pressButton(hueslice::kSortToken);
    }
    state.SetItemsProcessed(state.iterations() * entries);
}

void BM_Enables(benchmark::State& state) {
    const long long entries = state.range(0);
    Host host;
    host.setEntries(distinctColours(entries));
    // Every other entry disabled and one isolating, so both toggles are read.
    for (int i = 1; i <= entries; i += 2) {
        host.node->setIntInst(0, hueslice::kEnablePattern, &i, 0, 0.0);
    }
    const int middle = static_cast<int>(entries / 2);
    host.node->setIntInst(1, hueslice::kIsolatePattern, &middle, 0, 0.0);
    for (auto _ : state)
        benchmark::DoNotOptimize(host.node->updateParmEnables());
    state.SetItemsProcessed(state.iterations() * entries);
}

BENCHMARK(BM_CookCopyOnly)
    ->Unit(benchmark::kMillisecond)
    ->Arg(kSmall)
    ->Arg(kMedium)
    ->Arg(kLarge)
    ->MinTime(0.3);
BENCHMARK(BM_Cook)
    ->Unit(benchmark::kMillisecond)
    ->ArgsProduct({{kSmall, kMedium, kLarge}, {1, 256, 4096}})
    ->MinTime(0.3);
BENCHMARK(BM_Initialise)
    ->Unit(benchmark::kMillisecond)
    ->Args({kMedium, 16})
    ->Args({kMedium, 65536})
    ->Iterations(5);
BENCHMARK(BM_Sort)->Unit(benchmark::kMillisecond)->Arg(1024)->Arg(65536)->MinTime(0.3);
BENCHMARK(BM_Enables)->Unit(benchmark::kMillisecond)->Arg(1024)->Arg(65536)->MinTime(0.3);

}  // namespace

BENCHMARK_MAIN();
