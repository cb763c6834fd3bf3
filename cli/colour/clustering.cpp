#include "clustering.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ciede2000.h"
#include "parallel_blocks.h"

namespace hueslice::colour {

namespace {

constexpr int kMaxIterations = 100;
constexpr double kSettled = 1e-3;
// Above this many points, colours are first chosen on the points pooled into cubes of CIELAB
// kCellSize on a side, each at its points' weighted mean, and then refined on every point. A
// palette grows one colour at a time, each step running Lloyd's iterations to the end, so those
// steps then cost cells rather than points. A scan's noise spreads each paint over far more
// shades than cells of a few just noticeable differences, and the last refinement on every
// point settles what the coarse cells left: on a million scan-like faces, cells of 1 and of 4
// give the same palette, the larger in a tenth of the time.
constexpr std::size_t kPoolAbove = 8192;
constexpr double kCellSize = 4.0;

double squaredDistance(const Lab& x, const Lab& y) {
    const double l = x.L - y.L, a = x.a - y.a, b = x.b - y.b;
    return l * l + a * a + b * b;
}

// The nearest centre's number and squared distance; the first on ties.
std::pair<std::uint32_t, double> nearest(const Lab& point, const std::vector<Lab>& centres) {
    std::uint32_t best = 0;
    double bestDistance = squaredDistance(point, centres[0]);
    for (std::uint32_t c = 1; c < centres.size(); ++c) {
        const double d = squaredDistance(point, centres[c]);
        if (d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    return {best, bestDistance};
}

// A new seed: the point of greatest weight times squared distance to its centre, within the
// cluster whose weighted sum of squared distances is greatest; the first on ties. -1 when every
// point sits on its centre. Splitting the worst-served cluster, rather than taking the point
// farthest from all centres, keeps one heavy outlying shade from taking a seed that two merged
// paints need.
long long splittingSeed(const std::vector<Lab>& points, const std::vector<double>& weights,
                        const std::vector<Lab>& centres) {
    std::vector<double> spread(centres.size(), 0.0), farthest(centres.size(), 0.0);
    std::vector<long long> farthestPoint(centres.size(), -1);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto [c, d] = nearest(points[i], centres);
        const double score = weights[i] * d;
        spread[c] += score;
        if (score > farthest[c]) {
            farthest[c] = score;
            farthestPoint[c] = static_cast<long long>(i);
        }
    }
    std::size_t worst = 0;
    for (std::size_t c = 1; c < centres.size(); ++c)
        worst = spread[c] > spread[worst] ? c : worst;
    return farthestPoint[worst];
}

// Needs a positive total weight.
Lab weightedMean(const std::vector<Lab>& points, const std::vector<double>& weights) {
    double sum[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < points.size(); ++i) {
        sum[0] += weights[i];
        sum[1] += weights[i] * points[i].L;
        sum[2] += weights[i] * points[i].a;
        sum[3] += weights[i] * points[i].b;
    }
    return Lab{sum[1] / sum[0], sum[2] / sum[0], sum[3] / sum[0]};
}

// Per centre: summed weight and weighted L, a, b.
struct Sums {
    std::vector<double> value;
    explicit Sums(std::size_t centres) : value(4 * centres, 0.0) {}
};

// Lloyd's iterations from `centres` until no point changes its centre (or kMaxIterations).
void refine(const std::vector<Lab>& points, const std::vector<double>& weights,
            std::vector<Lab>& centres, unsigned threads) {
    std::vector<std::uint32_t> owner(points.size(), 0xffffffffu);
    const std::size_t blocks = blockCount(points.size());
    for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
        std::vector<Sums> blockSums(blocks, Sums(centres.size()));
        std::vector<std::size_t> blockChanges(blocks, 0);
        forEachBlock(points.size(), threads,
                     [&](std::size_t block, std::size_t begin, std::size_t end) {
                         std::vector<double>& sums = blockSums[block].value;
                         for (std::size_t i = begin; i < end; ++i) {
                             const std::uint32_t c = nearest(points[i], centres).first;
                             blockChanges[block] += owner[i] != c;
                             owner[i] = c;
                             sums[4 * c] += weights[i];
                             sums[4 * c + 1] += weights[i] * points[i].L;
                             sums[4 * c + 2] += weights[i] * points[i].a;
                             sums[4 * c + 3] += weights[i] * points[i].b;
                         }
                     });
        // Blocks are added in their order, so the sums are the same on any number of threads.
        Sums total(centres.size());
        std::size_t changes = 0;
        for (std::size_t block = 0; block < blocks; ++block) {
            changes += blockChanges[block];
            for (std::size_t j = 0; j < total.value.size(); ++j)
                total.value[j] += blockSums[block].value[j];
        }
        if (changes == 0 && iteration > 0)
            break;
        bool emptied = false;
        double largestMove = 0;
        for (std::size_t c = 0; c < centres.size(); ++c) {
            const double* s = &total.value[4 * c];
            if (s[0] > 0) {
                const Lab moved{s[1] / s[0], s[2] / s[0], s[3] / s[0]};
                largestMove = std::max(largestMove, squaredDistance(moved, centres[c]));
                centres[c] = moved;
            } else {
                emptied = true;
            }
        }
        // Once no centre moves by a thousandth of a CIELAB unit, the few points still changing
        // sides no longer change any palette colour's 8 bits.
        if (!emptied && largestMove < kSettled * kSettled)
            break;
        // A centre that lost every point moves to the point worst served by the others.
        for (std::size_t c = 0; emptied && c < centres.size(); ++c) {
            if (total.value[4 * c] > 0)
                continue;
            std::vector<Lab> others = centres;
            others.erase(others.begin() + static_cast<std::ptrdiff_t>(c));
            const long long seed = splittingSeed(points, weights, others);
            if (seed >= 0)
                centres[c] = points[static_cast<std::size_t>(seed)];
        }
    }
}

struct Pooled {
    std::vector<Lab> points;
    std::vector<double> weights;
};

// The cells in the order of their first points, so that the result never depends on threads;
// points without weight add nothing to any mean, and are left out.
Pooled pool(const std::vector<Lab>& points, const std::vector<double>& weights) {
    const auto cell = [](double v) {
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(std::floor(v / kCellSize)) +
                                          (1 << 20)) &
               0x1fffff;
    };
    // Open addressing over the cell keys, kept at most half full. Keys are below 2^63, so the
    // all-ones key marks a free slot.
    constexpr std::uint64_t kFree = ~std::uint64_t{0};
    std::vector<std::uint64_t> keys(64, kFree);
    std::vector<std::uint32_t> cellOf(64);
    std::vector<double> sums;
    const auto slotOf = [&keys](std::uint64_t key) {
        const std::size_t mask = keys.size() - 1;
        std::size_t slot = static_cast<std::size_t>((key * 0x9e3779b97f4a7c15ull) >> 20) & mask;
        while (keys[slot] != kFree && keys[slot] != key)
            slot = (slot + 1) & mask;
        return slot;
    };
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!(weights[i] > 0))
            continue;
        const Lab& p = points[i];
        const std::uint64_t key = cell(p.L) << 42 | cell(p.a) << 21 | cell(p.b);
        std::size_t slot = slotOf(key);
        if (keys[slot] == kFree) {
            if (2 * (sums.size() / 4 + 1) > keys.size()) {
                const std::vector<std::uint64_t> oldKeys = std::move(keys);
                const std::vector<std::uint32_t> oldCells = std::move(cellOf);
                keys.assign(2 * oldKeys.size(), kFree);
                cellOf.assign(keys.size(), 0);
                for (std::size_t old = 0; old < oldKeys.size(); ++old) {
                    if (oldKeys[old] == kFree)
                        continue;
                    const std::size_t moved = slotOf(oldKeys[old]);
                    keys[moved] = oldKeys[old];
                    cellOf[moved] = oldCells[old];
                }
                slot = slotOf(key);
            }
            keys[slot] = key;
            cellOf[slot] = static_cast<std::uint32_t>(sums.size() / 4);
            sums.insert(sums.end(), {0.0, 0.0, 0.0, 0.0});
        }
        double* sum = &sums[4 * cellOf[slot]];
        sum[0] += weights[i];
        sum[1] += weights[i] * p.L;
        sum[2] += weights[i] * p.a;
        sum[3] += weights[i] * p.b;
    }
    Pooled pooled;
    for (std::size_t c = 0; c < sums.size(); c += 4) {
        pooled.weights.push_back(sums[c]);
        pooled.points.push_back(
            Lab{sums[c + 1] / sums[c], sums[c + 2] / sums[c], sums[c + 3] / sums[c]});
    }
    return pooled;
}

// `choose` run on the pooled points when there are many, its colours then refined on all.
// Fewer cells than `wanted` colours would cap the palette below what the points can give, so
// such points are not pooled.
template <typename Choose>
std::vector<Lab> chooseOnPooled(const std::vector<Lab>& points, const std::vector<double>& weights,
                                std::size_t wanted, unsigned threads, Choose choose) {
    if (points.size() <= kPoolAbove)
        return choose(points, weights);
    const Pooled pooled = pool(points, weights);
    if (pooled.points.size() < wanted)
        return choose(points, weights);
    std::vector<Lab> centres = choose(pooled.points, pooled.weights);
    if (!centres.empty())
        refine(points, weights, centres, threads);
    return centres;
}

}  // namespace

std::vector<Lab> growColours(const std::vector<Lab>& points, const std::vector<double>& weights,
                             std::vector<Lab> centres, unsigned threads) {
    if (centres.empty()) {
        double total = 0;
        for (double w : weights)
            total += w;
        if (!(total > 0))
            return centres;
        centres.push_back(weightedMean(points, weights));
    } else {
        const long long seed = splittingSeed(points, weights, centres);
        if (seed < 0)
            return centres;
        centres.push_back(points[static_cast<std::size_t>(seed)]);
    }
    refine(points, weights, centres, threads);
    return centres;
}

namespace {

std::vector<Lab> clusterEvery(const std::vector<Lab>& points, const std::vector<double>& weights,
                              std::size_t k, unsigned threads) {
    std::vector<Lab> centres;
    while (centres.size() < k) {
        const std::size_t before = centres.size();
        centres = growColours(points, weights, std::move(centres), threads);
        if (centres.size() == before)
            break;
    }
    return centres;
}

std::vector<Lab> clusterEveryAuto(const std::vector<Lab>& points,
                                  const std::vector<double>& weights, unsigned threads) {
    std::vector<Lab> chosen = growColours(points, weights, {}, threads);
    for (std::size_t k = 2; k <= kAutoMaxColours; ++k) {
        std::vector<Lab> next = growColours(points, weights, chosen, threads);
        if (next.size() < k)
            break;
        for (std::size_t i = 0; i < next.size(); ++i) {
            for (std::size_t j = i + 1; j < next.size(); ++j) {
                if (deltaE2000(next[i], next[j]) < kAutoSeparation)
                    return chosen;
            }
        }
        chosen = std::move(next);
    }
    return chosen;
}

}  // namespace

std::vector<Lab> clusterColours(const std::vector<Lab>& points, const std::vector<double>& weights,
                                std::size_t k, unsigned threads) {
    return chooseOnPooled(points, weights, k, threads,
                          [&](const std::vector<Lab>& p, const std::vector<double>& w) {
                              return clusterEvery(p, w, k, threads);
                          });
}

std::vector<Lab> clusterColoursAuto(const std::vector<Lab>& points,
                                    const std::vector<double>& weights, unsigned threads) {
    return chooseOnPooled(points, weights, 1, threads,
                          [&](const std::vector<Lab>& p, const std::vector<double>& w) {
                              return clusterEveryAuto(p, w, threads);
                          });
}

}  // namespace hueslice::colour
