#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include <colour/lab.h>
#include <sop/colour_attribute.h>

#include "palette.h"

namespace hueslice::cli {

namespace {

// The area of a polygon from the length of its Newell normal, which suits any planar polygon,
// convex or not, and gives a fair size for a warped one.
double polygonArea(const std::vector<UT_Vector3>& points, const unsigned* corners, unsigned count) {
    double n[3] = {0, 0, 0};
    for (unsigned i = 0; i < count; ++i) {
        const UT_Vector3& p = points[corners[i]];
        const UT_Vector3& q = points[corners[i + 1 == count ? 0 : i + 1]];
        n[0] += (static_cast<double>(p[1]) - q[1]) * (static_cast<double>(p[2]) + q[2]);
        n[1] += (static_cast<double>(p[2]) - q[2]) * (static_cast<double>(p[0]) + q[0]);
        n[2] += (static_cast<double>(p[0]) - q[0]) * (static_cast<double>(p[1]) + q[1]);
    }
    return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

}  // namespace

colour::Reduction applyPalette(GU_Detail& detail, const colour::ReductionRequest& request,
                               io::Notes& notes) {
    const ColourAttribute attribute = resolveColourAttribute(detail);
    if (attribute.offset < 0) {
        notes.push_back(std::string("no face colours to reduce: the geometry has no '") +
                        attribute.name.buffer() + "' attribute of three floats");
        return colour::Reduction{};
    }
    std::vector<float> rgb;
    std::vector<double> area;
    const std::vector<UT_Vector3>& points = detail.points();
    long long faces = 0;
    forEachPrimitive(detail, [&](const GB_Primitive& prim) {
        const UT_Vector3 c = readPrimitiveColour(prim, attribute.offset);
        rgb.insert(rgb.end(), {c[0], c[1], c[2]});
        area.push_back(polygonArea(points, detail.primitiveVertices(prim), prim.vertexCount));
        ++faces;
    });
    colour::Reduction reduction =
        colour::reduceColours(rgb.data(), area.data(), area.size(), request);

    std::vector<std::array<float, 3>> replacement;
    for (const colour::PaletteUse& use : reduction.colours) {
        replacement.push_back(
            {use.colour.rgb[0] / 255.0f, use.colour.rgb[1] / 255.0f, use.colour.rgb[2] / 255.0f});
        if (use.faces == 0) {
            std::string name = colour::hexText(use.colour.rgb);
            if (!use.colour.name.empty())
                name += " (" + use.colour.name + ")";
            notes.push_back("palette colour " + name + " is unused: no face is nearest to it");
        }
    }
    for (long long f = 0; f < faces; ++f) {
        const std::uint32_t p = reduction.faceColour[static_cast<std::size_t>(f)];
        if (p != colour::Reduction::kKept) {
            std::memcpy(detail.primitiveAttribData(f) + attribute.offset, replacement[p].data(),
                        sizeof(float) * 3);
        }
    }
    if (reduction.keptFaces > 0) {
        notes.push_back(std::to_string(reduction.keptFaces) +
                        " faces keep their colour: a component is not a finite number");
    }
    if (reduction.weightedByFaces && faces > 0)
        notes.push_back("no face has an area: the palette weighs every face alike");
    return reduction;
}

}  // namespace hueslice::cli
