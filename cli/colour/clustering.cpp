#include "clustering.h"

#include <algorithm>
#include <cstdint>

#include "ciede2000.h"
#include "parallel_blocks.h"

namespace hueslice::colour {

namespace {

constexpr int kMaxIterations = 100;

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

// The point of greatest weight times squared distance to its nearest centre (to `from` when
// there are no centres), the first on ties; -1 when every such product is 0.
long long farthestPoint(const std::vector<Lab>& points, const std::vector<double>& weights,
                        const std::vector<Lab>& centres, const Lab& from) {
    long long best = -1;
    double bestScore = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double d =
            centres.empty() ? squaredDistance(points[i], from) : nearest(points[i], centres).second;
        const double score = weights[i] * d;
        if (score > bestScore) {
            best = static_cast<long long>(i);
            bestScore = score;
        }
    }
    return best;
}

Lab weightedMean(const std::vector<Lab>& points, const std::vector<double>& weights) {
    double sum[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < points.size(); ++i) {
        sum[0] += weights[i];
        sum[1] += weights[i] * points[i].L;
        sum[2] += weights[i] * points[i].a;
        sum[3] += weights[i] * points[i].b;
    }
    return sum[0] > 0 ? Lab{sum[1] / sum[0], sum[2] / sum[0], sum[3] / sum[0]} : Lab{};
}

// Per centre: summed weight and weighted L, a, b.
struct Sums {
    std::vector<double> value;
    explicit Sums(std::size_t centres) : value(4 * centres, 0.0) {}
};

}  // namespace

std::vector<Lab> clusterColours(const std::vector<Lab>& points, const std::vector<double>& weights,
                                std::size_t k, unsigned threads, std::vector<Lab> start) {
    std::vector<Lab> centres = std::move(start);
    if (centres.size() > k)
        centres.resize(k);
    const Lab mean = weightedMean(points, weights);
    while (centres.size() < k) {
        const long long seed = farthestPoint(points, weights, centres, mean);
        if (seed < 0)
            break;
        centres.push_back(points[static_cast<std::size_t>(seed)]);
    }
    if (centres.empty())
        return centres;

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
        for (std::size_t c = 0; c < centres.size(); ++c) {
            const double* s = &total.value[4 * c];
            if (s[0] > 0) {
                centres[c] = Lab{s[1] / s[0], s[2] / s[0], s[3] / s[0]};
            } else {
                emptied = true;
            }
        }
        // A centre that lost every point moves to the point worst served by the others.
        for (std::size_t c = 0; emptied && c < centres.size(); ++c) {
            if (total.value[4 * c] > 0)
                continue;
            std::vector<Lab> others = centres;
            others.erase(others.begin() + static_cast<std::ptrdiff_t>(c));
            const long long seed = farthestPoint(points, weights, others, mean);
            if (seed >= 0)
                centres[c] = points[static_cast<std::size_t>(seed)];
        }
    }
    return centres;
}

std::vector<Lab> clusterColoursAuto(const std::vector<Lab>& points,
                                    const std::vector<double>& weights, unsigned threads) {
    std::vector<Lab> chosen = clusterColours(points, weights, 1, threads);
    for (std::size_t k = 2; k <= kAutoMaxColours; ++k) {
        std::vector<Lab> next = clusterColours(points, weights, k, threads, chosen);
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

}  // namespace hueslice::colour
