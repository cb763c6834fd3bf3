#pragma once

// What a 3MF build places, counted from the parsed parts before anything is placed: components
// may hold one object many times over, so a file of a few hundred bytes can ask for 2^40
// copies of a mesh. Not part of the public interface.

#include <string>

#include "io/formats/3mf/model.h"

namespace hueslice::io::detail {

// Triangles, vertices and component placements a build places, components followed. Each count
// saturates at kMaxPlaced + 1, so the arithmetic cannot wrap.
struct PlacementTotals {
    unsigned long long triangles = 0;
    unsigned long long vertices = 0;
    unsigned long long components = 0;
};

// The most triangles, vertices and component placements that a build may place: several
// gigabytes of mesh, far above any printable model, and within the 32-bit point numbers of a
// detail. Counting components bounds the walk through objects that place nothing.
inline constexpr unsigned long long kMaxPlaced = 100'000'000;

// Components nest at most this deep below a build item.
inline constexpr int kMaxComponentDepth = 64;

// The totals of the root part's build items. Throws InputError "NAME: PART: ..." for a build
// item or component naming an object (or part) that is not there, components nested more than
// kMaxComponentDepth deep, components that hold themselves, and totals above kMaxPlaced.
// Linear in the number of objects, components and build items: each object is counted once,
// however often it is placed, so there is no limit on how many a model may hold.
PlacementTotals countPlacements(const Package& package, const std::string& name);

}  // namespace hueslice::io::detail
