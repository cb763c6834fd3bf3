#pragma once

// Chooses a few colours that stand for many: weighted k-means in CIELAB, seeded without any
// randomness, so that the same colours and weights always give the same palette.

#include <cstddef>
#include <vector>

#include "lab.h"

namespace hueslice::colour {

// Automatic palettes: two colours at least this far apart (CIEDE2000) count as different
// paints; nearer ones as shades of one paint, as lighting and scanning make them.
inline constexpr double kAutoSeparation = 12.0;
// The most colours an automatic palette holds.
inline constexpr std::size_t kAutoMaxColours = 16;

// `centres` and one more colour, then refined: Lloyd's iterations (at most 100) towards the
// least weighted sum of squared CIELAB distances from each point to its nearest colour. The
// first colour is the weighted mean; each further one splits the cluster with the greatest
// weighted sum of squared distances at its point of greatest weight times squared distance (the
// first on ties). Comes back without a new colour when every point sits on a colour already,
// and empty when no point has weight. Never depends on `threads` (0: the machine's). Time:
// points x colours x iterations.
std::vector<Lab> growColours(const std::vector<Lab>& points, const std::vector<double>& weights,
                             std::vector<Lab> centres, unsigned threads);

// `k` colours (fewer only when fewer distinct points have weight), grown one at a time by
// growColours, so that each step starts from a good answer for one colour fewer.
std::vector<Lab> clusterColours(const std::vector<Lab>& points, const std::vector<double>& weights,
                                std::size_t k, unsigned threads);

// The palette for an unknown number of colours: for k = 1, 2, ... up to kAutoMaxColours, each
// seeded with the colours for k - 1, the colours for the last k whose every two colours are at
// least kAutoSeparation apart by CIEDE2000.
std::vector<Lab> clusterColoursAuto(const std::vector<Lab>& points,
                                    const std::vector<double>& weights, unsigned threads);

}  // namespace hueslice::colour
