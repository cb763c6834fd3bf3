#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <HOST_Internals.h>

#include "io/formats/3mf/3mf.h"
#include "io/formats/3mf/package.h"
#include "io/formats/3mf/placement.h"
#include "io/input/input_file.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

using namespace detail;

// Millimetres per unit, by the names 3MF gives them; 0 for a name it does not define.
double millimetresPer(const std::string& unit) {
    static const std::pair<const char*, double> kUnits[] = {
        {"micron", 0.001}, {"millimeter", 1.0}, {"centimeter", 10.0},
        {"inch", 25.4},    {"foot", 304.8},     {"meter", 1000.0}};
    for (const auto& [unitName, millimetres] : kUnits) {
        if (unit == unitName)
            return millimetres;
    }
    return 0.0;
}

// Places the build of a parsed package into a detail. Each object is placed where its build
// item and components put it, its mesh copied once per placement; placement was counted and
// bounded before, so the work is linear in what is placed.
class Builder {
  public:
    Builder(const Package& p, const std::string& n) : package(p), name(n) {}

    Notes build(const PlacementTotals& placed, GU_Detail& out) {
        const ModelPart& root = package.parts.front();
        scale = millimetresPer(root.unit);
        if (scale == 0.0) {
            throw InputError(name + ": " + root.label + ": unit \"" + printable(root.unit) +
                             "\" is not one 3MF defines");
        }
        if (root.unit != "millimeter") {
            notes.push_back(name + ": model unit is " + root.unit +
                            "; coordinates converted to millimeters");
        }
        // Reserved once from the counts: reserving per placed mesh copied the points each time.
        geo.reservePoints(static_cast<std::size_t>(placed.vertices));
        colours.reserve(3 * static_cast<std::size_t>(placed.triangles));
        for (const Placement& item : root.items) {
            std::size_t part = 0;
            const Object* object = package.objectOf(0, item, part);
            addObject(*object, part, item.transform);
        }
        if (anyColour) {
            setFaceColours(geo, colours);
            if (uncoloured > 0) {
                notes.push_back(name + ": " +
                                countOf(uncoloured, "triangle has", "triangles have") +
                                " no colour and are white");
            }
        }
        out = geo;
        return std::move(notes);
    }

    // Faces with a colour of their own, and faces without one (white when others have one).
    ColourSource source() const {
        ColourSource counts;
        counts.noColour = static_cast<long long>(uncoloured);
        counts.ownColour = geo.primitiveCount() - counts.noColour;
        return counts;
    }

  private:
    // "object 3 'arm'", or "object 3" for an object without a name.
    static std::string label(const Object& object) {
        return "object " + std::to_string(object.id) +
               (object.name.empty() ? "" : " '" + printable(object.name) + "'");
    }

    // Depth is bounded by countPlacements, so the recursion is too.
    void addObject(const Object& object, std::size_t part, const Affine& placement) {
        for (const auto& row : placement.m) {
            for (const double value : row) {
                if (!std::isfinite(value))
                    throw InputError(name + ": " + label(object) +
                                     " is placed by a transform that is not finite");
            }
        }
        if (object.isMesh) {
            addMesh(object, part, placement);
            return;
        }
        for (const Placement& component : object.components) {
            std::size_t childPart = 0;
            const Object* child = package.objectOf(part, component, childPart);
            addObject(*child, childPart, compose(placement, component.transform));
        }
    }

    // The colour of entry `index` of group `pid` of `part`; false when it holds no colours
    // (textures and other property kinds) or has no such entry.
    bool entryColour(const ModelPart& part, std::uint32_t pid, std::uint32_t index,
                     float rgb[3]) const {
        const auto found = part.groups.find(pid);
        if (found == part.groups.end() || !found->second.hasColours ||
            index >= found->second.colours.size())
            return false;
        std::memcpy(rgb, found->second.colours[index].data(), 3 * sizeof(float));
        return true;
    }

    void addMesh(const Object& object, std::size_t part, const Affine& placement) {
        const ModelPart& model = package.parts[part];
        const auto firstPoint = static_cast<unsigned long long>(geo.pointCount());
        const std::vector<float>& v = object.vertices;
        for (std::size_t i = 0; i < v.size(); i += 3) {
            float p[3];
            for (int r = 0; r < 3; ++r) {
                const double value =
                    scale * (placement.m[r][0] * v[i] + placement.m[r][1] * v[i + 1] +
                             placement.m[r][2] * v[i + 2] + placement.m[r][3]);
                if (!std::isfinite(value) || !narrowToFloat(value, p[r])) {
                    throw InputError(name + ": a vertex of " + label(object) +
                                     " is out of range once placed");
                }
            }
            geo.appendPoint(UT_Vector3(p[0], p[1], p[2]));
        }
        GB_PrimitiveGroup* group = nullptr;
        if (!object.name.empty()) {
            group = geo.primitiveGroups().find(object.name.c_str());
            if (!group)
                group = geo.primitiveGroups().newGroup(object.name.c_str());
        }
        // The object's default property colours the triangles that give none of their own.
        float fallback[3] = {1.0f, 1.0f, 1.0f};
        const bool hasDefault =
            object.pid != kAbsent &&
            entryColour(model, object.pid, object.pindex == kAbsent ? 0 : object.pindex, fallback);
        for (const Triangle& t : object.triangles) {
            unsigned corners[3];
            for (int k = 0; k < 3; ++k)
                corners[k] = static_cast<unsigned>(firstPoint + t.v[k]);
            const long long face = geo.appendPrimitive(corners, 3);
            if (group)
                HOST_Internals::addMember(*group, static_cast<unsigned>(face));
            // A triangle's own property: its first corner's entry of its group, or of its
            // object's group when it gives p1 without a pid (p1 overrides the object's pindex).
            float rgb[3] = {fallback[0], fallback[1], fallback[2]};
            bool coloured = hasDefault;
            // A property without a colour (a texture) leaves the object's default.
            if (t.pid != kAbsent) {
                const std::uint32_t index = t.p[0] != kAbsent     ? t.p[0]
                                            : t.pid == object.pid ? object.pindex
                                                                  : 0;
                coloured |= entryColour(model, t.pid, index == kAbsent ? 0 : index, rgb);
            } else if (t.p[0] != kAbsent && object.pid != kAbsent) {
                coloured |= entryColour(model, object.pid, t.p[0], rgb);
            }
            if (coloured)
                anyColour = true;
            else
                ++uncoloured;
            colours.insert(colours.end(), rgb, rgb + 3);
        }
    }

    const Package& package;
    const std::string& name;
    GU_Detail geo;
    std::vector<float> colours;  // per face
    Notes notes;
    double scale = 1.0;
    bool anyColour = false;
    unsigned long long uncoloured = 0;
};

}  // namespace

Notes read3mf(std::string_view bytes, const std::string& name, GU_Detail& out,
              ColourSource* source) {
    if (bytes.empty())
        throw InputError(name + ": empty file, not a 3MF package");
    const Package package = readPackage(bytes, name);
    // Counted first, so that a build asking for 2^40 copies is refused as such, whatever else
    // is wrong with the package.
    const PlacementTotals placed = countPlacements(package, name);
    checkVertexIndices(package, name);
    Builder builder(package, name);
    Notes notes = builder.build(placed, out);
    if (source)
        *source = builder.source();
    return notes;
}

Notes read3mfFile(const std::string& path, GU_Detail& out, const ReadOptions&,
                  ColourSource* source) {
    return read3mf(readWholeFile(path), path, out, source);
}

}  // namespace hueslice::io
