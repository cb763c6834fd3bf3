#pragma once

// The distinct colours of a model's faces, each with the area and the number of faces that
// carry it, so that choosing and matching palette colours costs time in distinct colours
// rather than in faces.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hueslice::colour {

struct ColourBin {
    float rgb[3];
    double weight = 0;        // the summed weight of its faces
    long long faces = 0;      // how many faces carry it
    long long firstFace = 0;  // the number of the first face given it
};

struct ColourCount {
    static constexpr std::uint32_t kNoBin = 0xffffffffu;
    // In an order set by the colours and the order of the faces, whatever the threads.
    std::vector<ColourBin> bins;
    // Per face, the number of its bin, or kNoBin for a colour with a component that is not a
    // finite number.
    std::vector<std::uint32_t> faceBin;
};

// Counts `faces` faces, face f of colour rgb[3f..3f+2] and of weight `area[f]` when
// `weighByArea` (an area that is negative or not a finite number weighs 0), else of weight 1.
// Two colours share a bin only when their components have equal bits. Each bin's weight is
// summed in face order, so the result is the same on any number of `threads` (0: as many as the
// machine has). Linear in faces on average.
ColourCount countColours(const float* rgb, const double* area, std::size_t faces, bool weighByArea,
                         unsigned threads);

// The weight a face of that area takes: the area when it is positive and finite, else 0.
double usableArea(double area);

}  // namespace hueslice::colour
