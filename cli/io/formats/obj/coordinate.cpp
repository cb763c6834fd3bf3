// Vertex coordinates read by tinyobjloader's own number parser, compiled here from its header,
// so that positions keep the exact bits that library gives them. Its parser is not correctly
// rounded, so no other parser can stand in for it without changing some files' output.

#include <cmath>
#include <limits>

#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>

#include "io/formats/obj/source.h"
#include "io/internal.h"

namespace hueslice::io::detail {

float objCoordinate(std::string_view word) {
    // A word the library cannot read (nan, inf) is 0, as the library leaves it.
    double value = 0.0;
    tinyobj::tryParseDouble(word.data(), word.data() + word.size(), &value);
    // Within the float range (or NaN) the plain conversion is the library's and is defined.
    if (!(std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max())))
        return static_cast<float>(value);
    float narrowed = 0.0f;
    if (!narrowToFloat(value, narrowed))
        narrowed = value < 0 ? -std::numeric_limits<float>::infinity()
                             : std::numeric_limits<float>::infinity();
    return narrowed;
}

}  // namespace hueslice::io::detail
