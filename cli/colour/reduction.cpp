#include "reduction.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <set>
#include <tuple>

#include "ciede2000.h"
#include "clustering.h"
#include "histogram.h"
#include "parallel_blocks.h"

namespace hueslice::colour {

namespace {

// The chosen colours as 8-bit colours, those that round alike kept once, in their order.
std::vector<PaletteColour> roundedPalette(const std::vector<Lab>& centres) {
    std::vector<PaletteColour> palette;
    std::set<Rgb8> seen;
    for (const Lab& centre : centres) {
        const Rgb8 rgb = rgb8FromLab(centre);
        if (seen.insert(rgb).second)
            palette.push_back(PaletteColour{rgb, ""});
    }
    return palette;
}

// Per bin, the nearest palette colour by CIEDE2000 and its distance.
void snapBins(const std::vector<Lab>& bins, const std::vector<ChromaLab>& palette, unsigned threads,
              std::vector<std::uint32_t>& nearest, std::vector<double>& distance) {
    nearest.assign(bins.size(), 0);
    distance.assign(bins.size(), 0.0);
    forEachBlock(bins.size(), threads, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
            std::tie(nearest[i], distance[i]) = nearestByDeltaE(bins[i], palette);
    });
}

}  // namespace

// The nearest by CIELAB distance is tried first, as it is nearly always the answer, so that
// most others are ruled out without computing their full difference.
std::pair<std::uint32_t, double> nearestByDeltaE(const Lab& point,
                                                 const std::vector<ChromaLab>& palette) {
    std::uint32_t guess = 0;
    double guessDistance = 0;
    for (std::uint32_t p = 0; p < palette.size(); ++p) {
        const double l = point.L - palette[p].lab.L, a = point.a - palette[p].lab.a,
                     b = point.b - palette[p].lab.b;
        const double d = l * l + a * a + b * b;
        if (p == 0 || d < guessDistance) {
            guess = p;
            guessDistance = d;
        }
    }
    const ChromaLab x(point);
    std::uint32_t best = guess;
    double bestDistance =
        deltaE2000Within(x, palette[guess], std::numeric_limits<double>::infinity());
    for (std::uint32_t p = 0; p < palette.size(); ++p) {
        if (p == guess)
            continue;
        const double d = deltaE2000Within(x, palette[p], bestDistance);
        if (d < bestDistance || (d == bestDistance && p < best)) {
            best = p;
            bestDistance = d;
        }
    }
    return {best, bestDistance};
}

std::pair<std::uint32_t, double> nearestByDeltaE(const Lab& point,
                                                 const std::vector<Lab>& palette) {
    return nearestByDeltaE(point, std::vector<ChromaLab>(palette.begin(), palette.end()));
}

Reduction reduceColours(const float* rgb, const double* area, std::size_t faces,
                        const ReductionRequest& request) {
    Reduction result;
    bool anyArea = false;
    for (std::size_t f = 0; f < faces && !anyArea; ++f)
        anyArea = usableArea(area[f]) > 0;
    result.weightedByFaces = !anyArea;
    ColourCount counted = countColours(rgb, area, faces, anyArea, request.threads);
    std::vector<std::uint32_t>& faceBin = counted.faceBin;
    const std::vector<ColourBin>& bins = counted.bins;
    for (std::size_t f = 0; f < faces; ++f)
        result.keptFaces += faceBin[f] == ColourCount::kNoBin;
    std::vector<Lab> binLab(bins.size());
    std::vector<double> binWeight(bins.size());
    forEachBlock(bins.size(), request.threads,
                 [&](std::size_t, std::size_t begin, std::size_t end) {
                     for (std::size_t i = begin; i < end; ++i) {
                         binLab[i] = labFromSrgb(bins[i].rgb[0], bins[i].rgb[1], bins[i].rgb[2]);
                         binWeight[i] = bins[i].weight;
                     }
                 });

    std::vector<PaletteColour> palette;
    switch (request.kind) {
        case ReductionRequest::Given:
            palette = request.given;
            break;
        case ReductionRequest::Count:
            palette =
                roundedPalette(clusterColours(binLab, binWeight, request.count, request.threads));
            break;
        case ReductionRequest::Auto:
            palette = roundedPalette(clusterColoursAuto(binLab, binWeight, request.threads));
            break;
    }
    if (palette.empty()) {
        result.faceColour = std::move(faceBin);
        return result;
    }
    std::vector<ChromaLab> paletteLab;
    for (const PaletteColour& colour : palette)
        paletteLab.emplace_back(labFromRgb8(colour.rgb));
    std::vector<std::uint32_t> nearest;
    std::vector<double> distance;
    snapBins(binLab, paletteLab, request.threads, nearest, distance);

    std::vector<PaletteUse> uses(palette.size());
    std::vector<double> faceWeightedSum(palette.size(), 0.0);
    for (std::size_t p = 0; p < palette.size(); ++p)
        uses[p].colour = palette[p];
    long long worstBin = -1;
    for (std::size_t i = 0; i < bins.size(); ++i) {
        PaletteUse& use = uses[nearest[i]];
        use.faces += bins[i].faces;
        use.area += bins[i].weight;
        use.meanDeltaE += bins[i].weight * distance[i];
        faceWeightedSum[nearest[i]] += static_cast<double>(bins[i].faces) * distance[i];
        use.worstDeltaE = std::max(use.worstDeltaE, distance[i]);
        result.totalArea += bins[i].weight;
        // Of equally bad colours, the one whose first face comes first.
        if (worstBin < 0 || distance[i] > distance[static_cast<std::size_t>(worstBin)] ||
            (distance[i] == distance[static_cast<std::size_t>(worstBin)] &&
             bins[i].firstFace < bins[static_cast<std::size_t>(worstBin)].firstFace))
            worstBin = static_cast<long long>(i);
    }
    for (std::size_t p = 0; p < uses.size(); ++p) {
        PaletteUse& use = uses[p];
        if (use.area > 0)
            use.meanDeltaE /= use.area;
        else
            use.meanDeltaE =
                use.faces > 0 ? faceWeightedSum[p] / static_cast<double>(use.faces) : 0;
    }
    if (worstBin >= 0) {
        const ColourBin& worst = bins[static_cast<std::size_t>(worstBin)];
        result.worstFace = worst.firstFace;
        result.worstDeltaE = distance[static_cast<std::size_t>(worstBin)];
        std::copy(worst.rgb, worst.rgb + 3, result.worstFaceColour);
    }

    // Chosen palettes list the largest areas first; a user's keeps its order.
    std::vector<std::uint32_t> order(uses.size());
    std::iota(order.begin(), order.end(), 0u);
    if (request.kind != ReductionRequest::Given) {
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
            return uses[x].area > uses[y].area;
        });
    }
    std::vector<std::uint32_t> position(order.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) {
        position[order[i]] = i;
        result.colours.push_back(uses[order[i]]);
    }
    if (worstBin >= 0)
        result.worstFacePalette = position[nearest[static_cast<std::size_t>(worstBin)]];
    std::vector<std::uint32_t> binColour(bins.size());
    for (std::size_t i = 0; i < bins.size(); ++i)
        binColour[i] = position[nearest[i]];
    forEachBlock(faces, request.threads, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f) {
            faceBin[f] =
                faceBin[f] == ColourCount::kNoBin ? Reduction::kKept : binColour[faceBin[f]];
        }
    });
    result.faceColour = std::move(faceBin);
    return result;
}

}  // namespace hueslice::colour
