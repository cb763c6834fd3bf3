#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>

#include <HOST_Internals.h>

#include "colour/corner_vote.h"
#include "io/formats/obj/materials.h"
#include "io/formats/obj/obj.h"
#include "io/formats/obj/scan.h"
#include "io/formats/obj/source.h"
#include "io/formats/obj/textures.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

using detail::FaceRun;
using detail::Material;
using detail::ObjScan;
using detail::ObjTextures;
using detail::Rgb;

// Scales 0..255 colours and tells about the vertices that have none.
void noteVertexColours(ObjScan& scan, const std::string& name, Notes& notes) {
    if (scan.firstAboveOneLine > 0) {
        for (float& c : scan.vertexRgb)
            c = static_cast<float>(static_cast<double>(c) / 255.0);
        notes.push_back(name + ":" + std::to_string(scan.firstAboveOneLine) +
                        ": a vertex colour above 1 here, so vertex colours are read as 0..255");
    }
    if (scan.colouredVertices < scan.vertexCount) {
        notes.push_back(name + ":" + std::to_string(scan.firstPlainVertexLine) + ": " +
                        std::to_string(scan.vertexCount - scan.colouredVertices) + " of " +
                        detail::countOf(scan.vertexCount, "vertex has", "vertices have") +
                        " no colour, the first here; they do not vote for their faces' colour");
    }
}

void noteSkippedElements(const ObjScan& scan, const std::string& name, Notes& notes) {
    if (scan.pointElements + scan.lineElements > 0) {
        std::string what;
        if (scan.pointElements > 0)
            what = detail::countOf(static_cast<unsigned long long>(scan.pointElements),
                                   "point element (p)", "point elements (p)");
        if (scan.lineElements > 0) {
            what += (what.empty() ? "" : " and ") +
                    detail::countOf(static_cast<unsigned long long>(scan.lineElements),
                                    "line element (l)", "line elements (l)");
        }
        notes.push_back(name + ":" + std::to_string(scan.firstSkippedLine) + ": skipped " + what +
                        ", the first here; only faces are read");
    }
    if (scan.faceCount > 0)
        return;
    const std::string why = scan.pointElements + scan.lineElements > 0
                                ? "the file has only points and lines"
                            : scan.vertexCount > 0 ? "the file has only vertices"
                                                   : "the file has no elements";
    notes.push_back(detail::noFacesNote(name, why, scan.colouredVertices > 0));
}

}  // namespace

namespace detail {

Notes readObjPieces(const ObjSource& source, const std::string& objName, GU_Detail& out,
                    const ReadOptions& options, ColourSource* colourSource) {
    Notes notes;
    ObjScan scan = scanObj(source, objName);
    GU_Detail& geo = scan.geo;
    const bool vertexColours = scan.colouredVertices > 0;
    if (vertexColours)
        noteVertexColours(scan, objName, notes);

    const MaterialText library = source.findLibrary(scan.library);
    const std::optional<std::string>& mtlText = library.text;
    const std::string& mtlName = library.name;
    std::unordered_map<std::string, Material> materials;
    if (mtlText) {
        materials = readMaterials(*mtlText, mtlName);
    } else if (!scan.materialNames.empty()) {
        notes.push_back(objName + ": material library " +
                        (mtlName.empty() ? "" : "'" + mtlName + "' ") + "not found; " +
                        (vertexColours ? "materials give no colour" : "faces get no colour"));
    }
    if (scan.unnamedMaterial)
        notes.push_back(objName + ": usemtl without a name; those faces have no material");

    // Kd of each material name the faces use, or null when the library lacks it, and its
    // texture when it has one that could be read.
    std::vector<const Rgb*> kd(scan.materialNames.size(), nullptr);
    ObjTextures textures(scan, source.findImage, objName, mtlName, options.snapTexels);
    bool anyColour = false;
    for (std::size_t m = 0; m < scan.materialNames.size(); ++m) {
        const auto found = materials.find(scan.materialNames[m]);
        if (found != materials.end()) {
            kd[m] = &found->second.kd;
            textures.add(m, found->second);
            anyColour = true;
        } else if (mtlText) {
            notes.push_back(objName + ": material '" + scan.materialNames[m] + "' is not in " +
                            (mtlName.empty() ? std::string("the material library") : mtlName) +
                            "; its faces are white");
        }
    }

    // The vertex whose colour each face's corners give it (-1 for none), and whether they tied.
    const std::size_t faces = scan.faceCount;
    std::vector<std::pair<long long, bool>> cornerChoice;
    if (vertexColours) {
        colour::CornerVoter voter;
        cornerChoice.resize(faces);
        for (std::size_t f = 0; f < faces; ++f) {
            const GB_Primitive& prim = *geo.primitives()(static_cast<long long>(f));
            const unsigned* corners = geo.primitiveVertices(prim);
            const colour::VoteResult vote = voter.vote(
                scan.vertexRgb.data(), corners, prim.vertexCount, scan.vertexColoured.data());
            const long long vertex = vote.winner < 0 ? -1LL : corners[vote.winner];
            cornerChoice[f] = {vertex, vote.tie};
            anyColour = anyColour || vote.winner >= 0;
        }
    }

    const int cd = anyColour ? geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT) : -1;
    std::vector<GB_PrimitiveGroup*> groups;
    for (const std::string& groupName : scan.groupNames) {
        groups.push_back(geo.primitiveGroups().newGroup(groupName.c_str(), 0));
    }
    ColourSource colours;
    colours.cornersFirst = options.vertexColours;
    long long unusedCorners = 0;  // faces whose own colour won over their corners'
    long long bare = 0;           // faces with no material and no coloured corner
    std::size_t firstCorner = 0;  // of the face being coloured, counted over all faces
    for (std::size_t r = 0; r < scan.runs.size(); ++r) {
        const FaceRun& run = scan.runs[r];
        const std::size_t runEnd = r + 1 < scan.runs.size() ? scan.runs[r + 1].firstFace : faces;
        const int m = run.material;
        const Rgb* own = m >= 0 ? kd[static_cast<std::size_t>(m)] : nullptr;
        for (std::size_t f = run.firstFace; f < runEnd; ++f) {
            for (int g : scan.groupSets[static_cast<std::size_t>(run.groupSet)]) {
                HOST_Internals::addMember(*groups[static_cast<std::size_t>(g)],
                                          static_cast<unsigned>(f));
            }
            const float* corner = vertexColours && cornerChoice[f].first >= 0
                                      ? scan.vertexRgb.data() + 3 * cornerChoice[f].first
                                      : nullptr;
            float rgb[3] = {1.0f, 1.0f, 1.0f};
            if (corner && (options.vertexColours || !own)) {
                std::copy(corner, corner + 3, rgb);
                ++colours.cornerColour;
                colours.ties += cornerChoice[f].second;
            } else if (own) {
                for (int c = 0; c < 3; ++c)
                    rgb[c] = (*own)[static_cast<std::size_t>(c)];
                const bool textured =
                    textures.colour(static_cast<std::size_t>(m), f, firstCorner, rgb);
                ++(textured ? colours.textureColour : colours.ownColour);
                unusedCorners += corner != nullptr;
            } else {
                ++colours.noColour;
                bare += m < 0;
            }
            if (cd >= 0) {
                std::memcpy(geo.primitiveAttribData(static_cast<long long>(f)) + cd, rgb,
                            sizeof rgb);
            }
            firstCorner += geo.primitives()(static_cast<long long>(f))->vertexCount;
        }
    }
    if (colours.cornerColour > 0)
        notes.push_back(detail::cornerColourNote(objName, colours.cornerColour, colours.ties));
    if (unusedCorners > 0) {
        notes.push_back(objName + ": " +
                        detail::countOf(static_cast<unsigned long long>(unusedCorners),
                                        "face has a material colour; its",
                                        "faces have a material colour; their") +
                        " vertex colours are not used (--vertex-colours uses them)");
    }
    if (bare > 0 && cd >= 0) {
        notes.push_back(objName + ": " +
                        detail::countOf(static_cast<unsigned long long>(bare),
                                        "face has no material and no coloured corner; it is",
                                        "faces have no material and no coloured corner; they are") +
                        " white");
    }
    for (std::string& note : textures.notes())
        notes.push_back(std::move(note));
    if (options.vertexColours && !vertexColours)
        notes.push_back(objName + ": no vertex colours, so --vertex-colours changes nothing");
    noteSkippedElements(scan, objName, notes);
    out = geo;
    if (colourSource) {
        for (const Texture* texture : textures.used()) {
            colours.textures.push_back(TextureReport{texture->material, texture->image,
                                                     texture->texels->width,
                                                     texture->texels->height, texture->faces});
        }
        *colourSource = colours;
    }
    return notes;
}

}  // namespace detail

namespace detail {

ObjSource memoryObjSource(std::string_view objText, std::optional<std::string_view> mtlText,
                          const std::string& mtlName) {
    ObjSource pieces;
    pieces.read = [objText](char* at, std::size_t room) mutable {
        const std::size_t n = std::min(room, objText.size());
        std::memcpy(at, objText.data(), n);
        objText.remove_prefix(n);
        return n;
    };
    pieces.sizeHint = objText.size();
    pieces.findLibrary = [mtlText, mtlName](const MaterialLibrary&) {
        MaterialText library;
        if (mtlText)
            library.text = std::string(*mtlText);
        library.name = mtlName;
        return library;
    };
    return pieces;
}

}  // namespace detail

Notes readObj(std::string_view objText, const std::string& objName,
              std::optional<std::string_view> mtlText, const std::string& mtlName, GU_Detail& out,
              const ReadOptions& options, ColourSource* source) {
    return detail::readObjPieces(detail::memoryObjSource(objText, mtlText, mtlName), objName, out,
                                 options, source);
}

}  // namespace hueslice::io
