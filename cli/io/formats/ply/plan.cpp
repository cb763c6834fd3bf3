#include "io/formats/ply/plan.h"

#include <algorithm>
#include <string>

#include "io/internal.h"

namespace hueslice::io::detail::ply {

ColourPlan::ColourPlan(const Header& header, const ReadOptions& options, const std::string& name,
                       Notes& notes) {
    const Element* vertex = header.vertex;
    const Element* face = header.face;
    const bool faceColours = face && face->hasColour;
    const bool vertexColours = vertex && vertex->hasColour;
    useVertexColours = vertexColours && (options.vertexColours || !faceColours);
    if (faceColours && vertexColours && !options.vertexColours) {
        notes.push_back(name +
                        ": faces have colours of their own; vertex colours are not used "
                        "(--vertex-colours uses them)");
    }
    if (options.vertexColours && !vertexColours) {
        notes.push_back(name + ": no vertex colours, so --vertex-colours changes nothing");
    }
    storeColour = faceColours || useVertexColours;
    // With the points read first, each face votes as it is built, while its indices are at
    // hand; otherwise finish() votes once the points are known.
    voteWhileBuilding = useVertexColours && face && vertex < face;
    packedVertexColours = useVertexColours;
    for (std::size_t i = 0; useVertexColours && i < vertex->properties.size(); ++i) {
        const Property& p = vertex->properties[i];
        if (p.role == Role::Red || p.role == Role::Green || p.role == Role::Blue)
            packedVertexColours = packedVertexColours && p.type == Scalar::UInt8;
    }
    for (int v = 0; v < 256; ++v)
        detail::narrowToFloat(v / 255.0, byteColour[v]);
}

void checkCounts(const Header& header, std::size_t inputSize, const std::string& name) {
    std::size_t remaining = inputSize - header.dataStart;
    for (const Element& e : header.elements) {
        std::size_t perRow = 0;
        std::size_t allowed = 0;
        if (header.format == Format::Ascii) {
            // Each value takes a character and a separator; the last may lack its separator.
            perRow = 2 * e.properties.size();
            allowed = perRow == 0 ? 0 : (remaining + 1) / perRow;
        } else {
            perRow = e.minBinaryRow();
            allowed = perRow == 0 ? 0 : remaining / perRow;
        }
        if (e.count > allowed) {
            failLine(name, e.line,
                     "element '" + e.name + "' declares " +
                         detail::countOf(e.count, "row", "rows") +
                         " but the file has room for at most " + std::to_string(allowed));
        }
        remaining -= std::min<std::size_t>(remaining, static_cast<std::size_t>(e.count) * perRow);
    }
}

std::size_t vertexBound(const Header& header, std::size_t inputSize) {
    const Element* face = header.face;
    if (!face)
        return 0;
    // checkCounts() has made sure that every element's fewest bytes fit the input.
    std::size_t fixed = 0;
    for (const Element& e : header.elements)
        fixed += static_cast<std::size_t>(e.count) * e.minBinaryRow();
    const std::size_t room = inputSize - header.dataStart;
    if (room < fixed)
        return 0;
    for (const Property& p : face->properties) {
        if (p.role != Role::Indices)
            continue;
        const std::size_t bound = (room - fixed) / sizeOf(p.type);
        // No face lists more vertices than its count type can say.
        const double most = static_cast<double>(face->count) * maxOf(p.countType);
        return most < static_cast<double>(bound) ? static_cast<std::size_t>(most) : bound;
    }
    return 0;
}

Plan planFor(const Element& e, const ColourPlan& colours) {
    Plan plan;
    int lists = 0;
    for (const Property& p : e.properties)
        lists += p.isList;
    const bool wantsColour = e.kind == ElementKind::Vertex ? colours.useVertexColours
                             : e.kind == ElementKind::Face
                                 ? colours.storeColour && !colours.useVertexColours
                                 : false;
    std::size_t at = 0;
    bool afterList = false;
    bool floatCoords = true;
    bool doubleColour = false;
    for (const Property& p : e.properties) {
        if (p.isList) {
            plan.prefix = at;
            plan.countType = p.countType;
            plan.indexType = p.type;
            at = 0;
            afterList = true;
            continue;
        }
        if (p.role == Role::X || p.role == Role::Y || p.role == Role::Z) {
            plan.xyzAt[static_cast<int>(p.role) - static_cast<int>(Role::X)] = at;
            floatCoords = floatCoords && p.type == Scalar::Float32;
        }
        if (wantsColour && (p.role == Role::Red || p.role == Role::Green || p.role == Role::Blue)) {
            const int c = static_cast<int>(p.role) - static_cast<int>(Role::Red);
            plan.colourAt[c] = at;
            plan.afterList[c] = afterList;
            plan.colourType[c] = p.type;
            doubleColour = doubleColour || p.type == Scalar::Float64;
        }
        at += sizeOf(p.type);
    }
    plan.colours = wantsColour;
    plan.byteColours = wantsColour && plan.colourType[0] == Scalar::UInt8 &&
                       plan.colourType[1] == Scalar::UInt8 && plan.colourType[2] == Scalar::UInt8;
    // A double may not fit a float, so only readRow() may take double colours.
    if (e.kind == ElementKind::Vertex && lists == 0 && floatCoords && !doubleColour) {
        plan.kind = Plan::Kind::FloatPoints;
        plan.rowSize = at;
    } else if (e.kind == ElementKind::Face && lists == 1 && !doubleColour) {
        plan.kind = Plan::Kind::SingleListFaces;
        plan.suffix = at;
    } else if (e.kind == ElementKind::Other && lists == 0) {
        plan.kind = Plan::Kind::Fixed;
        plan.rowSize = at;
    }
    return plan;
}

}  // namespace hueslice::io::detail::ply
