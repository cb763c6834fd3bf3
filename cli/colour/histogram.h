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
    double weight = 0;        // the summed area of its faces
    long long faces = 0;      // how many faces carry it
    long long firstFace = 0;  // the number of the first face given it
};

class ColourHistogram {
  public:
    // Counts face number `face`, of colour `rgb` and weight `weight`, and returns the number of
    // its colour's bin. Two colours share a bin only when their components have equal bits.
    // Bins are numbered from 0 in the order their colours first appear. Constant time on
    // average.
    std::uint32_t add(const float rgb[3], double weight, long long face);

    const std::vector<ColourBin>& bins() const { return binList; }

  private:
    void grow();
    std::vector<ColourBin> binList;
    std::vector<std::uint32_t> slots;  // bin numbers by hash; kEmpty where free
    std::size_t mask = 0;
    std::uint32_t last = 0xffffffffu;  // the bin of the last face counted
};

}  // namespace hueslice::colour
