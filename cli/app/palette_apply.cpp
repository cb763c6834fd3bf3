#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include <colour/ciede2000.h>
#include <colour/lab.h>
#include <colour/parallel_blocks.h>
#include <io/formats/formats.h>
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
    // Faces are gathered and written back in blocks on all threads: for a big model these
    // passes over every face cost as much as the matching itself.
    const GB_PrimitiveList& list = detail.primitives();
    const auto entries = static_cast<std::size_t>(list.entries());
    std::unique_ptr<float[]> rgb(new float[3 * entries]);
    std::unique_ptr<double[]> area(new double[entries]);
    const std::vector<UT_Vector3>& points = detail.points();
    // A walk over the list ends at its first hole.
    std::vector<std::size_t> firstHole(colour::blockCount(entries), entries);
    colour::forEachBlock(
        entries, request.threads, [&](std::size_t block, std::size_t begin, std::size_t end) {
            for (std::size_t f = begin; f < end; ++f) {
                const GB_Primitive* prim = list(static_cast<long long>(f));
                if (!prim) {
                    firstHole[block] = f;
                    return;
                }
                std::memcpy(&rgb[3 * f], prim->getAttribData() + attribute.offset,
                            3 * sizeof(float));
                area[f] = polygonArea(points, detail.primitiveVertices(*prim), prim->vertexCount);
            }
        });
    std::size_t faces = entries;
    for (std::size_t hole : firstHole)
        faces = std::min(faces, hole);
    colour::Reduction reduction = colour::reduceColours(rgb.get(), area.get(), faces, request);

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
    if (faces > 0)
        detail.primitiveAttribData(0);  // the detail's own storage, before the threads write
    colour::forEachBlock(
        faces, request.threads, [&](std::size_t, std::size_t begin, std::size_t end) {
            for (std::size_t f = begin; f < end; ++f) {
                const std::uint32_t p = reduction.faceColour[f];
                if (p != colour::Reduction::kKept) {
                    std::memcpy(
                        detail.primitiveAttribData(static_cast<long long>(f)) + attribute.offset,
                        replacement[p].data(), sizeof(float) * 3);
                }
            }
        });
    if (reduction.keptFaces > 0) {
        notes.push_back(std::to_string(reduction.keptFaces) +
                        " faces keep their colour: a component is not a finite number");
    }
    if (reduction.weightedByFaces && faces > 0)
        notes.push_back("no face has an area: the palette weighs every face alike");
    return reduction;
}

std::function<void(std::vector<std::uint8_t>&)> texelSnapper(
    const std::vector<colour::PaletteColour>& colours) {
    std::vector<colour::ChromaLab> palette;
    for (const colour::PaletteColour& c : colours)
        palette.emplace_back(colour::labFromRgb8(c.rgb));
    return [palette, colours](std::vector<std::uint8_t>& rgba) {
        // Images hold few distinct colours next to their texels, so each is matched once.
        std::unordered_map<std::uint32_t, std::uint32_t> nearest;
        for (std::size_t at = 0; at + 3 < rgba.size(); at += 4) {
            const std::uint32_t key =
                (std::uint32_t{rgba[at]} << 16) | (std::uint32_t{rgba[at + 1]} << 8) | rgba[at + 2];
            auto found = nearest.find(key);
            if (found == nearest.end()) {
                const colour::Rgb8 texel = {rgba[at], rgba[at + 1], rgba[at + 2]};
                found =
                    nearest
                        .emplace(key,
                                 colour::nearestByDeltaE(colour::labFromRgb8(texel), palette).first)
                        .first;
            }
            const colour::Rgb8& snapped = colours[found->second].rgb;
            std::memcpy(&rgba[at], snapped.data(), 3);
        }
    };
}

io::Notes readWithPalette(const std::string& input, GU_Detail& detail, io::ReadOptions options,
                          const colour::ReductionRequest& request, io::ColourSource& source,
                          colour::Reduction& reduction) {
    colour::ReductionRequest used = request;
    if (request.kind == colour::ReductionRequest::Given)
        options.snapTexels = texelSnapper(request.given);
    io::Notes notes = io::readGeometryFile(input, detail, options, &source);
    if (request.kind != colour::ReductionRequest::Given && source.textureColour > 0) {
        // A chosen palette is known only once the faces are read: the texels are snapped to it
        // on a second reading, and the faces then keep to the colours chosen the first time.
        io::Notes firstNotes;
        const colour::Reduction chosen = applyPalette(detail, request, firstNotes);
        used.kind = colour::ReductionRequest::Given;
        used.given.clear();
        for (const colour::PaletteUse& use : chosen.colours)
            used.given.push_back(use.colour);
        options.snapTexels = texelSnapper(used.given);
        GU_Detail again;
        source = io::ColourSource{};
        notes = io::readGeometryFile(input, again, options, &source);
        detail = again;
    }
    reduction = applyPalette(detail, used, notes);
    return notes;
}

}  // namespace hueslice::cli
