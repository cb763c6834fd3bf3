#pragma once

// What a 3MF build places, counted from the model part's element counts before anything is
// placed: components may hold one object many times over, so a file of a few hundred bytes can
// ask for 2^40 copies of a mesh. Not part of the public interface.

#include <string>

#include <pugixml.hpp>

namespace hueslice::io::detail {

// Triangles and vertices a build places, components followed. Each count saturates at
// kMaxPlaced + 1, so the arithmetic cannot wrap.
struct PlacementTotals {
    unsigned long long triangles = 0;
    unsigned long long vertices = 0;
};

// The most triangles, and the most vertices, that a build may place: several gigabytes of
// mesh, far above any printable model, and within the 32-bit point numbers of a detail.
inline constexpr unsigned long long kMaxPlaced = 100'000'000;

// The most objects and build items, together, that a model part may hold: the 3MF library
// registers each one's identity by a search through all before it, so its time grows with the
// square of their number (5,000 objects take seconds; 20,000 took minutes).
inline constexpr unsigned long long kMaxObjectsAndItems = 10'000;

// Components nest at most this deep below a build item.
inline constexpr int kMaxComponentDepth = 64;

// The totals of the build items of `model` (the <model> element of part `partName`), objects
// missing from the part counting nothing (the reader refuses them). Throws InputError
// "NAME: PART: ..." for more than kMaxObjectsAndItems objects and build items, components nested
// more than kMaxComponentDepth deep, components that hold themselves, and totals above
// kMaxPlaced. Linear in the number of objects and components:
// each object is counted once, however often it is placed.
PlacementTotals countPlacements(const pugi::xml_node& model, const std::string& partName,
                                const std::string& name);

}  // namespace hueslice::io::detail
