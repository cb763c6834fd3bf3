#pragma once

// Reducing a model's face colours to a printable palette: either colours chosen to represent
// the faces (a given number, or as many as the faces show) or the colours a user has. Every
// face then takes the palette colour nearest to its own by CIEDE2000, and the result says how
// far each face had to move.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "ciede2000.h"
#include "lab.h"
#include "palette_list.h"

namespace hueslice::colour {

struct ReductionRequest {
    enum Kind { Count, Auto, Given } kind = Count;
    std::size_t count = 0;             // Count: 1 .. kMaxPaletteColours
    std::vector<PaletteColour> given;  // Given: the user's palette
    unsigned threads = 0;              // 0: as many as the machine has; never changes results
};

// One palette colour and the faces that took it.
struct PaletteUse {
    PaletteColour colour;
    long long faces = 0;
    double area = 0;        // their summed weight
    double meanDeltaE = 0;  // weighted by area (by face when their area is 0)
    double worstDeltaE = 0;
};

struct Reduction {
    // Given palettes in the user's order; chosen ones by area, largest first.
    std::vector<PaletteUse> colours;
    // Per face, the index of its palette colour, or kKept.
    std::vector<std::uint32_t> faceColour;
    static constexpr std::uint32_t kKept = 0xffffffffu;
    // Faces whose colour has a component that is not a finite number: they keep it.
    long long keptFaces = 0;
    double totalArea = 0;
    // Every face counted as weight 1, because no face had a positive finite area.
    bool weightedByFaces = false;
    // The face farthest from its palette colour (the first of equals), -1 with no faces.
    long long worstFace = -1;
    double worstDeltaE = 0;
    float worstFaceColour[3] = {0, 0, 0};
    std::uint32_t worstFacePalette = kKept;  // the index of its palette colour
};

// The palette colour nearest to `point` by CIEDE2000 (the first of equals) and its difference.
// `palette` must not be empty.
std::pair<std::uint32_t, double> nearestByDeltaE(const Lab& point, const std::vector<Lab>& palette);
// The same, the palette's colours with their chroma.
std::pair<std::uint32_t, double> nearestByDeltaE(const Lab& point,
                                                 const std::vector<ChromaLab>& palette);

// Reduces `faces` faces with colours rgb[3 f .. 3 f + 2] (sRGB, 0..1) and areas area[f] (a
// negative or non-finite area counts as 0; all zero: each face counts 1). Chosen palettes are
// 8-bit colours; two chosen colours that round to the same 8 bits become one. Time: linear in
// faces plus distinct colours times palette colours (times iterations when choosing).
Reduction reduceColours(const float* rgb, const double* area, std::size_t faces,
                        const ReductionRequest& request);

}  // namespace hueslice::colour
