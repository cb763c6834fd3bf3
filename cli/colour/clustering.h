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

// Up to `k` colours minimising the weighted sum of squared CIELAB distances from each point to
// its nearest colour (a local minimum, as k-means finds). Seeding: the point farthest from the
// weighted mean, then each time the point of greatest weight times squared distance to the
// colours so far, the first on ties. Fewer than `k` colours come back only when fewer distinct
// points have weight. `start`, when given, seeds the first colours instead. The result does
// not depend on `threads` (0: the machine's). Time: points x k x iterations (at most 100).
std::vector<Lab> clusterColours(const std::vector<Lab>& points, const std::vector<double>& weights,
                                std::size_t k, unsigned threads, std::vector<Lab> start = {});

// The palette for an unknown number of colours: for k = 1, 2, ... up to kAutoMaxColours, each
// seeded with the colours for k - 1, the colours for the last k whose every two colours are at
// least kAutoSeparation apart by CIEDE2000.
std::vector<Lab> clusterColoursAuto(const std::vector<Lab>& points,
                                    const std::vector<double>& weights, unsigned threads);

}  // namespace hueslice::colour
