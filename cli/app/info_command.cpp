#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include <UT_Vector3.h>
#include <io/formats/formats.h>
#include <io/io.h>
#include <sop/colour_attribute.h>
#include <sop/colour_key.h>
#include <sop/compare_colours.h>

#include "commands.h"
#include "palette.h"
#include "parm_values.h"
#include "progress_line.h"

namespace hueslice::cli {

namespace {

std::string typeName(const GB_Attribute& a) {
    const char* base = a.type == GB_ATTRIB_FLOAT ? "float" : "int";
    return std::string(base) + "[" + std::to_string(a.size / 4) + "]";
}

std::string keyText(const UT_Vector3& c) {
    return io::floatText(c[0]) + " " + io::floatText(c[1]) + " " + io::floatText(c[2]);
}

void printAttributes(const char* heading, const GB_AttributeDict& dict, std::ostream& out) {
    out << heading << ":";
    if (dict.attributes().empty())
        out << " none";
    out << "\n";
    for (const GB_Attribute& a : dict.attributes()) {
        out << "  " << a.name << "  " << typeName(a) << "\n";
    }
}

std::string ruleOf(const io::ColourSource& source) {
    const char* corners = "vertex colours (the colour most of a face's corners share)";
    if (source.ownColour > 0 && source.cornerColour > 0) {
        return source.cornersFirst ? std::string(corners) + ", else face colours"
                                   : std::string("face colours, else ") + corners;
    }
    if (source.ownColour > 0)
        return "face colours";
    if (source.cornerColour > 0)
        return corners;
    return "none";
}

// The rule, textures first when any face took its colour from one.
std::string fullRuleOf(const io::ColourSource& source) {
    const std::string rest = ruleOf(source);
    if (source.textureColour == 0)
        return rest;
    return "textures (times the material colour)" + (rest == "none" ? "" : ", else " + rest);
}

void printColourSource(const io::ColourSource& source, std::ostream& out) {
    out << "colour source: " << fullRuleOf(source) << "\n";
    out << "  faces with a colour of their own: " << source.ownColour << "\n";
    out << "  faces coloured by their corners: " << source.cornerColour << "\n";
    out << "  ties among corners: " << source.ties << "\n";
    out << "  faces without colour: " << source.noColour << "\n";
    out << "  faces coloured from textures: " << source.textureColour << "\n";
    for (const io::TextureReport& texture : source.textures) {
        out << "  texture of material " << texture.material << ": image \""
            << io::printable(texture.image) << "\", " << texture.width << " x " << texture.height
            << ", " << texture.faces << (texture.faces == 1 ? " face" : " faces") << "\n";
    }
}

// Distinct colours with their face counts, in the order the Initialise button gives them.
void printPalette(const GU_Detail& detail, int offset, std::ostream& out) {
    UT_Vector3Array palette;
    // Each colour's first face, then its face count by the index of that first face's colour.
    ColourIndex<> first;
    std::vector<long long> faces;
    // Neighbouring faces often share a colour: such a face counts on its neighbour's entry
    // without a lookup. The same colour would find that entry, so the counts do not change.
    UT_Vector3 previous;
    std::uint32_t previousEntry = ColourIndex<>::kMissing;
    const SameColour same;
    forEachPrimitive(detail, [&](const GB_Primitive& prim) {
        const UT_Vector3 colour = readPrimitiveColour(prim, offset);
        if (previousEntry != ColourIndex<>::kMissing && same(colour, previous)) {
            ++faces[previousEntry];
            return;
        }
        const auto [entry, added] = first.insert(colour, static_cast<std::uint32_t>(faces.size()));
        if (added) {
            faces.push_back(0);
            palette.append(colour);
        }
        ++faces[entry];
        previous = colour;
        previousEntry = entry;
    });
    palette.sort(compareColours);

    std::unordered_map<UT_Vector3, std::vector<long long>, ColourKeyHash, SameColour> byKey;
    for (long long i = 0; i < palette.entries(); ++i) {
        byKey[quantiseKey(palette(i))].push_back(i + 1);
    }
    out << "palette (" << palette.entries() << " colours, in Initialise order):\n";
    for (long long i = 0; i < palette.entries(); ++i) {
        const UT_Vector3 key = quantiseKey(palette(i));
        out << "  " << (i + 1) << "  colour " << keyText(palette(i)) << "  key " << keyText(key)
            << "  faces " << faces[first.find(palette(i))];
        const std::vector<long long>& shared = byKey[key];
        if (shared.size() > 1) {
            out << "  same key as";
            for (long long other : shared) {
                if (other != i + 1)
                    out << " " << other;
            }
            out << ": the cook cannot tell these apart";
        }
        out << "\n";
    }
}

}  // namespace

int runInfo(const InfoOptions& info, std::ostream& out, std::ostream& err) {
    // A palette that cannot be used is refused before the input is read.
    const std::optional<colour::ReductionRequest> palette =
        paletteRequest(info.colours, info.palette);
    const std::string& input = info.input;
    GU_Detail detail;
    io::PlyOptions options;
    options.vertexColours = info.vertexColours;
    io::ColourSource source;
    io::Notes notes;
    std::optional<colour::Reduction> reduction;
    {
        ProgressLine progress;
        progress.begin("reading");
        if (palette) {
            reduction.emplace();
            notes = readWithPalette(input, detail, options, *palette, source, *reduction);
        } else {
            notes = io::readGeometryFile(input, detail, options, &source);
        }
    }
    printNotes(notes, err);

    out << "file: " << input << "\n";
    out << "points: " << detail.pointCount() << "\n";
    out << "primitives: " << detail.primitiveCount() << "\n";
    printAttributes("primitive attributes", detail.primitiveAttribs(), out);
    printAttributes("detail attributes", detail.detailAttribs(), out);

    const ColourAttribute colour = resolveColourAttribute(detail);
    const int layerOffset = detail.detailAttribs().getOffset("currentlayer", 4, GB_ATTRIB_INT);
    std::int32_t layer = 1;
    if (layerOffset >= 0)
        std::memcpy(&layer, detail.detailAttribData() + layerOffset, 4);
    out << "current layer: " << layer << " (colour attribute " << colour.name.buffer()
        << (colour.offset < 0 ? ", missing" : "") << ")\n";

    printColourSource(source, out);

    out << "groups:";
    if (detail.primitiveGroups().entries() == 0)
        out << " none";
    out << "\n";
    for (const GB_PrimitiveGroup* g : detail.primitiveGroups().groups()) {
        out << "  " << g->getName() << "  " << g->entries() << " primitives\n";
    }
    if (colour.offset >= 0)
        printPalette(detail, colour.offset, out);
    if (reduction)
        out << formatPaletteReport(*reduction);
    return 0;
}

}  // namespace hueslice::cli
