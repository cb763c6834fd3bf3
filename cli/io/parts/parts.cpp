#include <HOST_Internals.h>

#include "io/parts/parts.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>

#include "io/internal.h"

namespace hueslice::io::detail {

namespace {

constexpr unsigned kUnused = std::numeric_limits<unsigned>::max();

}  // namespace

PartPlan planParts(const GU_Detail& geo, const std::vector<LegendEntry>& legend,
                   const std::string& name) {
    PartPlan plan;
    plan.colourOffset = colourOffset(geo);
    const auto primCount = static_cast<std::size_t>(geo.primitiveCount());
    std::vector<unsigned char> hidden(primCount, 0);
    if (const GB_PrimitiveGroup* h = geo.primitiveGroups().find(kHiddenGroupName)) {
        for (unsigned m : h->members()) {
            if (m < primCount)
                hidden[m] = 1;
        }
    }
    std::vector<unsigned> groupCount(primCount, 0);
    unsigned long long tooSmall = 0;
    unsigned long long polygons = 0;
    // A hole in the primitive list is no face.
    const auto usable = [&](unsigned prim) {
        const GB_Primitive* p = geo.primitives()(prim);
        return p && hidden[prim] == 0 && p->vertexCount >= 3;
    };
    for (std::size_t p = 0; p < primCount; ++p) {
        const GB_Primitive* prim = geo.primitives()(static_cast<long long>(p));
        if (!prim || hidden[p])
            continue;
        const unsigned vertices = prim->vertexCount;
        if (vertices < 3)
            ++tooSmall;
        else if (vertices > 3)
            ++polygons;
    }

    std::unordered_map<std::string, const LegendEntry*> entryOf;
    for (const LegendEntry& entry : legend)
        entryOf.emplace(entry.name, &entry);
    for (const GB_PrimitiveGroup* group : geo.primitiveGroups().groups()) {
        if (std::strcmp(group->getName(), kHiddenGroupName) == 0)
            continue;
        Part part;
        part.name = group->getName();
        for (unsigned m : group->members()) {
            if (m < primCount && usable(m)) {
                part.faces.push_back(m);
                ++groupCount[m];
            }
        }
        if (part.faces.empty())
            continue;
        const auto entry = entryOf.find(part.name);
        if (entry != entryOf.end()) {
            std::memcpy(part.colour, entry->second->swatch, sizeof part.colour);
        } else {
            faceColour(geo, part.faces.front(), plan.colourOffset, part.colour);
        }
        plan.parts.push_back(std::move(part));
    }
    Part rest;
    unsigned long long shared = 0;
    for (std::size_t p = 0; p < primCount; ++p) {
        if (!usable(static_cast<unsigned>(p)))
            continue;
        if (groupCount[p] == 0)
            rest.faces.push_back(static_cast<unsigned>(p));
        else if (groupCount[p] > 1)
            ++shared;
    }
    if (!rest.faces.empty())
        plan.parts.push_back(std::move(rest));

    if (tooSmall > 0) {
        plan.notes.push_back(name + ": " + countOf(tooSmall, "primitive", "primitives") +
                             " with fewer than 3 vertices left out");
    }
    if (polygons > 0) {
        plan.notes.push_back(name + ": " + countOf(polygons, "polygon", "polygons") +
                             " with more than 3 vertices written as triangle fans");
    }
    if (shared > 0) {
        plan.notes.push_back(name + ": " + countOf(shared, "face is", "faces are") +
                             " in more than one group and written once for each");
    }
    return plan;
}

void faceColour(const GU_Detail& geo, unsigned face, int offset, float rgb[3]) {
    if (offset < 0) {
        rgb[0] = rgb[1] = rgb[2] = 0.5f;
        return;
    }
    std::memcpy(rgb, geo.primitiveAttribData(face) + offset, 3 * sizeof(float));
}

float unitColour(float value) {
    if (!(value > 0.0f))
        return 0.0f;
    return value < 1.0f ? value : 1.0f;
}

GU_Detail partDetail(const GU_Detail& geo, const Part& part, int colourOffset,
                     std::vector<unsigned>& local) {
    GU_Detail out;
    if (local.size() < static_cast<std::size_t>(geo.pointCount()))
        local.assign(static_cast<std::size_t>(geo.pointCount()), kUnused);
    std::vector<unsigned> vertices;
    std::vector<unsigned> taken;  // the detail's points this part took, in `local`
    const int cd = colourOffset >= 0 ? out.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT) : -1;
    GB_PrimitiveGroup* group =
        part.name.empty() ? nullptr : out.primitiveGroups().newGroup(part.name.c_str());
    for (unsigned face : part.faces) {
        const GB_Primitive& prim = *geo.primitives()(face);
        const unsigned* v = geo.primitiveVertices(prim);
        vertices.clear();
        for (unsigned k = 0; k < prim.vertexCount; ++k) {
            if (local[v[k]] == kUnused) {
                local[v[k]] = static_cast<unsigned>(out.appendPoint(geo.points()[v[k]]));
                taken.push_back(v[k]);
            }
            vertices.push_back(local[v[k]]);
        }
        // Triangles, as every other part writer gives: some slicers refuse larger polygons.
        for (unsigned k = 2; k < prim.vertexCount; ++k) {
            const unsigned triangle[3] = {vertices[0], vertices[k - 1], vertices[k]};
            const long long index = out.appendPrimitive(triangle, 3);
            if (cd >= 0) {
                std::memcpy(out.primitiveAttribData(index) + cd,
                            geo.primitiveAttribData(face) + colourOffset, 3 * sizeof(float));
            }
            if (group)
                HOST_Internals::addMember(*group, static_cast<unsigned>(index));
        }
    }
    // Only the slots this part took are cleared.
    for (unsigned point : taken)
        local[point] = kUnused;
    return out;
}

}  // namespace hueslice::io::detail
