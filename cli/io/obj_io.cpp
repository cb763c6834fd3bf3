#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <HOST_Internals.h>
#include <tiny_obj_loader.h>

#include "io/corner_vote.h"
#include "io/internal.h"
#include "io/io.h"
#include "io/text_out.h"

namespace hueslice::io {

namespace {

[[noreturn]] void failAt(const std::string& name, long long line, const std::string& what) {
    throw InputError(name + ":" + std::to_string(line) + ": " + what);
}

// Calls `visit(lineNumber, words)` for every line with words, lines ended by \n, \r\n or \r.
template <typename Visit>
void forEachLine(std::string_view text, Visit&& visit) {
    std::size_t pos = 0;
    long long lineNo = 0;
    std::vector<std::string_view> words;
    while (pos < text.size()) {
        std::size_t end = pos;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        const std::string_view line = text.substr(pos, end - pos);
        pos = end;
        if (pos < text.size() && text[pos] == '\r' && pos + 1 < text.size() &&
            text[pos + 1] == '\n') {
            ++pos;
        }
        ++pos;
        ++lineNo;
        if (lineNo % detail::kProgressStep == 0)
            detail::reportProgress(pos, text.size());
        detail::splitWords(line, words);
        if (!words.empty() && words[0][0] != '#')
            visit(lineNo, words);
    }
}

// The words after the first as one name: the rest of the line with its blanks trimmed.
std::string_view restOf(const std::vector<std::string_view>& words) {
    if (words.size() < 2)
        return {};
    const char* begin = words[1].data();
    const char* end = words.back().data() + words.back().size();
    return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

// Names end up as C strings in the host and in file names, where a NUL would cut them short
// and merge them with others, so no reader takes one.
void refuseNul(std::string_view text, const std::string& name, long long line, const char* what) {
    if (text.find('\0') != std::string_view::npos)
        failAt(name, line, std::string(what) + " holds a NUL byte");
}

std::string shown(std::string_view word) {
    return word.size() <= 24 ? std::string(word) : std::string(word.substr(0, 24)) + "...";
}

bool parseNumber(std::string_view word, double& value) {
    const char* first = word.data();
    const char* last = word.data() + word.size();
    if (first != last && *first == '+')
        ++first;
    const auto r = std::from_chars(first, last, value);
    return r.ec == std::errc() && r.ptr == last;
}

bool isNumber(std::string_view word) {
    double value = 0.0;
    return parseNumber(word, value);
}

// The faces of an OBJ text with their groups and materials, and what the checks found. The
// scan is ours rather than tinyobjloader's so that every bad index is refused with its line
// before the library sees it, and so that faces keep their file order and full group lists.
struct ObjScan {
    std::size_t vertexCount = 0;
    std::vector<unsigned> faceStart{0};  // faces' runs of `indices`
    std::vector<unsigned> indices;
    std::vector<int> faceGroupSet;  // index into groupSets
    std::vector<int> faceMaterial;  // index into materialNames, or -1
    std::vector<std::vector<int>> groupSets{{}};
    std::vector<std::string> groupNames;
    std::vector<std::string> materialNames;
    bool unnamedMaterial = false;
    // Vertex colours, once any vertex has one: three floats and a flag per vertex.
    std::vector<float> vertexRgb;
    std::vector<unsigned char> vertexColoured;
    std::size_t colouredVertices = 0;
    long long firstPlainVertexLine = 0;  // first vertex written without a colour
    long long firstAboveOneLine = 0;     // first vertex colour component above 1
    long long pointElements = 0;         // `p` lines, skipped
    long long lineElements = 0;          // `l` lines, skipped
    long long firstSkippedLine = 0;
};

class ObjScanner {
  public:
    ObjScanner(std::string_view objText, const std::string& objName)
        : text(objText), name(objName) {}

    ObjScan scan() {
        // 1-based references to vertices not yet read, checked at the end, with where they sit
        // in `indices` and the line of their face. Files that define vertices first have none.
        std::vector<long long> pending;
        std::vector<std::size_t> pendingAt;
        std::vector<long long> pendingLine;
        int groupSet = 0;
        int material = -1;
        std::unordered_map<std::string, int> groupIndex;
        std::unordered_map<std::string, int> materialIndex;
        forEachLine(text, [&](long long line, const std::vector<std::string_view>& w) {
            const std::string_view key = w[0];
            if (key == "v") {
                if (w.size() < 4 || !isNumber(w[1]) || !isNumber(w[2]) || !isNumber(w[3])) {
                    failAt(name, line, "vertex needs 3 numeric coordinates");
                }
                readVertexColour(w, line);
                ++result.vertexCount;
            } else if (key == "p" || key == "l") {
                ++(key == "p" ? result.pointElements : result.lineElements);
                if (result.firstSkippedLine == 0)
                    result.firstSkippedLine = line;
            } else if (key == "vt") {
                ++texCount;
            } else if (key == "vn") {
                ++normalCount;
            } else if (key == "f") {
                if (w.size() < 2)
                    failAt(name, line, "face has no vertices");
                for (std::size_t i = 1; i < w.size(); ++i) {
                    const long long index = readReference(w[i], line);
                    const bool known =
                        index > 0 && static_cast<unsigned long long>(index) <= result.vertexCount;
                    if (index > 0 && !known) {
                        pending.push_back(index);
                        pendingAt.push_back(result.indices.size());
                        pendingLine.push_back(line);
                    }
                    result.indices.push_back(static_cast<unsigned>(known       ? index - 1
                                                                   : index > 0 ? 0
                                                                               : -index - 1));
                }
                result.faceStart.push_back(static_cast<unsigned>(result.indices.size()));
                result.faceGroupSet.push_back(groupSet);
                result.faceMaterial.push_back(material);
            } else if (key == "g") {
                std::vector<int> set;
                for (std::size_t i = 1; i < w.size(); ++i) {
                    refuseNul(w[i], name, line, "group name");
                    const std::string groupName(w[i]);
                    const auto found =
                        groupIndex.emplace(groupName, static_cast<int>(result.groupNames.size()));
                    if (found.second)
                        result.groupNames.push_back(groupName);
                    set.push_back(found.first->second);
                }
                result.groupSets.push_back(std::move(set));
                groupSet = static_cast<int>(result.groupSets.size()) - 1;
            } else if (key == "usemtl") {
                if (w.size() < 2) {
                    result.unnamedMaterial = true;
                    material = -1;
                    return;
                }
                // The whole rest of the line, as `newmtl` is read: names may hold spaces.
                const std::string materialName(restOf(w));
                refuseNul(materialName, name, line, "material name");
                const auto found = materialIndex.emplace(
                    materialName, static_cast<int>(result.materialNames.size()));
                if (found.second)
                    result.materialNames.push_back(materialName);
                material = found.first->second;
            }
        });
        // Positive indices may refer forward, so they are checked once every vertex is known.
        std::size_t face = 0;
        for (std::size_t k = 0; k < pending.size(); ++k) {
            const std::size_t at = pendingAt[k];
            while (result.faceStart[face + 1] <= at)
                ++face;
            if (static_cast<unsigned long long>(pending[k]) > result.vertexCount) {
                failAt(name, pendingLine[k],
                       "face " + std::to_string(face) + " has index " + std::to_string(pending[k]) +
                           " but " + detail::thereAre(result.vertexCount, "point", "points"));
            }
            result.indices[at] = static_cast<unsigned>(pending[k] - 1);
        }
        return std::move(result);
    }

  private:
    // `v x y z r g b`: three numbers after the position are a colour. Other lengths carry none
    // (`v x y z w` is a weight).
    void readVertexColour(const std::vector<std::string_view>& w, long long line) {
        double values[3];
        const bool coloured = w.size() >= 7 && parseNumber(w[4], values[0]) &&
                              parseNumber(w[5], values[1]) && parseNumber(w[6], values[2]);
        if (!coloured) {
            if (result.firstPlainVertexLine == 0)
                result.firstPlainVertexLine = line;
            if (result.colouredVertices > 0) {
                result.vertexRgb.insert(result.vertexRgb.end(), 3, 0.0f);
                result.vertexColoured.push_back(0);
            }
            return;
        }
        if (result.colouredVertices == 0) {
            result.vertexRgb.assign(3 * result.vertexCount, 0.0f);
            result.vertexColoured.assign(result.vertexCount, 0);
        }
        for (int c = 0; c < 3; ++c) {
            float value = 0.0f;
            if (!detail::narrowToFloat(values[c], value))
                failAt(name, line, "vertex colour is beyond the float range");
            if (value > 1.0f && result.firstAboveOneLine == 0)
                result.firstAboveOneLine = line;
            result.vertexRgb.push_back(value);
        }
        result.vertexColoured.push_back(1);
        ++result.colouredVertices;
    }

    // Reads "v", "v/vt", "v//vn" or "v/vt/vn". Returns the 1-based vertex index when positive,
    // or -(resolved 0-based index) - 1 for a relative (negative) one.
    long long readReference(std::string_view word, long long line) {
        const std::size_t faceNo = result.faceGroupSet.size();
        const auto fail = [&](const std::string& what) {
            failAt(name, line, "face " + std::to_string(faceNo) + " " + what);
        };
        std::string_view parts[3];
        int count = 0;
        std::size_t start = 0;
        for (std::size_t i = 0; i <= word.size(); ++i) {
            if (i == word.size() || word[i] == '/') {
                if (count == 3)
                    fail("has a bad vertex reference '" + shown(word) + "'");
                parts[count++] = word.substr(start, i - start);
                start = i + 1;
            }
        }
        const std::size_t counts[3] = {result.vertexCount, texCount, normalCount};
        long long vertex = 0;
        for (int p = 0; p < count; ++p) {
            if (p > 0 && parts[p].empty())
                continue;
            long long value = 0;
            const char* last = parts[p].data() + parts[p].size();
            const auto r = std::from_chars(parts[p].data(), last, value);
            if (r.ec != std::errc() || r.ptr != last) {
                fail("has a bad vertex reference '" + shown(word) + "'");
            }
            if (value == 0)
                fail("has index 0 (indices count from 1)");
            const auto available = static_cast<long long>(counts[p]);
            if (value < 0 && value < -available) {
                const auto kinds = p == 0 ? std::make_pair("point", "points")
                                   : p == 1
                                       ? std::make_pair("texture coordinate", "texture coordinates")
                                       : std::make_pair("normal", "normals");
                fail("has index " + std::to_string(value) + " but only " +
                     detail::countOf(static_cast<unsigned long long>(available), kinds.first,
                                     kinds.second) +
                     (available == 1 ? " comes" : " come") + " before it");
            }
            if (p == 0)
                vertex = value > 0 ? value : -(available + value) - 1;
        }
        // A positive index beyond the int range can never be valid; refuse it now so that the
        // later check compares sane numbers.
        if (vertex > 0 && static_cast<unsigned long long>(vertex) > 0xFFFFFFFFull) {
            fail("has index " + std::to_string(vertex) + " which is out of range");
        }
        return vertex;
    }

    std::string_view text;
    const std::string& name;
    ObjScan result;
    std::size_t texCount = 0;
    std::size_t normalCount = 0;
};

using Rgb = std::array<float, 3>;

// A number of a Kd line at float precision; beyond the float range it is an infinity.
float kdComponent(std::string_view word) {
    if (!word.empty() && word[0] == '+')
        word.remove_prefix(1);
    double value = 0.0;
    std::from_chars(word.data(), word.data() + word.size(), value);
    float narrowed = 0.0f;
    if (!detail::narrowToFloat(value, narrowed))
        narrowed = std::copysign(std::numeric_limits<float>::infinity(), static_cast<float>(value));
    return narrowed;
}

// The Kd of every material of an MTL text, by name. A name is the rest of its `newmtl` line,
// trimmed, exactly as `usemtl` is read; the first definition of a name counts, and a material
// without Kd is black. Refuses Kd lines that are not three numbers.
std::unordered_map<std::string, Rgb> readMaterials(std::string_view mtlText,
                                                   const std::string& mtlName) {
    std::unordered_map<std::string, Rgb> materials;
    Rgb* current = nullptr;
    forEachLine(mtlText, [&](long long line, const std::vector<std::string_view>& w) {
        if (w[0] == "newmtl") {
            const std::string_view materialName = restOf(w);
            refuseNul(materialName, mtlName, line, "material name");
            const auto added = materials.emplace(std::string(materialName), Rgb{0, 0, 0});
            current = added.second && !materialName.empty() ? &added.first->second : nullptr;
            return;
        }
        if (w[0] != "Kd")
            return;
        if (w.size() != 4 || !isNumber(w[1]) || !isNumber(w[2]) || !isNumber(w[3])) {
            failAt(mtlName, line, "Kd needs 3 numbers");
        }
        if (current) {
            for (int c = 0; c < 3; ++c)
                (*current)[static_cast<std::size_t>(c)] =
                    kdComponent(w[static_cast<std::size_t>(c) + 1]);
        }
    });
    return materials;
}

// Text in UTF-16 reads as nothing at all, byte by byte, so it is refused rather than taken for
// an empty mesh.
void checkEncoding(std::string_view text, const std::string& name) {
    if (text.empty())
        throw InputError(name + ": empty file");
    const bool byteOrderMark = text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF";
    const bool wideAscii = text.size() >= 2 && (text[0] == '\0' || text[1] == '\0');
    if (byteOrderMark || wideAscii)
        throw InputError(name + ": the file is UTF-16 text; obj files are read as UTF-8");
}

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
    if (!scan.faceGroupSet.empty())
        return;
    const std::string why = scan.pointElements + scan.lineElements > 0
                                ? "the file has only points and lines"
                            : scan.vertexCount > 0 ? "the file has only vertices"
                                                   : "the file has no elements";
    notes.push_back(detail::noFacesNote(name, why, scan.colouredVertices > 0));
}

// The positions of the `v` lines as tinyobjloader reads them. It is given those lines only, a
// slice at a time: a whole big file would be copied and its faces recorded a second time.
std::vector<tinyobj::real_t> readPositions(std::string_view text, const std::string& objName) {
    constexpr std::size_t kSliceBytes = std::size_t{1} << 20;
    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    config.vertex_color = false;
    std::vector<tinyobj::real_t> positions;
    std::string slice;
    const auto parse = [&] {
        tinyobj::ObjReader reader;
        if (!reader.ParseFromString(slice, "", config)) {
            std::string error = reader.Error();
            error = error.substr(0, error.find('\n'));
            throw InputError(objName + ": cannot read obj: " + error);
        }
        const std::vector<tinyobj::real_t>& read = reader.GetAttrib().vertices;
        positions.insert(positions.end(), read.begin(), read.end());
        slice.clear();
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Lines end as tinyobjloader ends them: \n, \r\n or a bare \r.
        std::size_t end = pos;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
        // A vertex line as tinyobjloader tells one: blanks, 'v', then a blank.
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line.size() < first + 2 || line[first] != 'v' ||
            (line[first + 1] != ' ' && line[first + 1] != '\t')) {
            continue;
        }
        slice.append(line);
        slice.push_back('\n');
        if (slice.size() >= kSliceBytes)
            parse();
    }
    if (!slice.empty())
        parse();
    return positions;
}

}  // namespace

Notes readObj(std::string_view objText, const std::string& objName,
              std::optional<std::string_view> mtlText, const std::string& mtlName, GU_Detail& out,
              const ReadOptions& options, ColourSource* source) {
    Notes notes;
    checkEncoding(objText, objName);
    if (objText.substr(0, 3) == "\xEF\xBB\xBF")
        objText.remove_prefix(3);  // a UTF-8 byte order mark would hide the first line's keyword
    ObjScan scan = ObjScanner(objText, objName).scan();
    const bool vertexColours = scan.colouredVertices > 0;
    if (vertexColours)
        noteVertexColours(scan, objName, notes);

    std::vector<tinyobj::real_t> positions = readPositions(objText, objName);
    if (positions.size() != 3 * scan.vertexCount) {
        throw InputError(objName + ": cannot read the vertex positions");
    }

    std::unordered_map<std::string, Rgb> materials;
    if (mtlText) {
        materials = readMaterials(*mtlText, mtlName);
    } else if (!scan.materialNames.empty()) {
        notes.push_back(objName + ": material library " +
                        (mtlName.empty() ? "" : "'" + mtlName + "' ") + "not found; " +
                        (vertexColours ? "materials give no colour" : "faces get no colour"));
    }
    if (scan.unnamedMaterial)
        notes.push_back(objName + ": usemtl without a name; those faces have no material");

    // Kd of each material name the faces use, or null when the library lacks it.
    std::vector<const Rgb*> kd(scan.materialNames.size(), nullptr);
    bool anyColour = false;
    for (std::size_t m = 0; m < scan.materialNames.size(); ++m) {
        const auto found = materials.find(scan.materialNames[m]);
        if (found != materials.end()) {
            kd[m] = &found->second;
            anyColour = true;
        } else if (mtlText) {
            notes.push_back(objName + ": material '" + scan.materialNames[m] + "' is not in " +
                            (mtlName.empty() ? std::string("the material library") : mtlName) +
                            "; its faces are white");
        }
    }

    // The vertex whose colour each face's corners give it (-1 for none), and whether they tied.
    const std::size_t faces = scan.faceGroupSet.size();
    std::vector<std::pair<long long, bool>> cornerChoice;
    if (vertexColours) {
        CornerVoter voter;
        cornerChoice.resize(faces);
        for (std::size_t f = 0; f < faces; ++f) {
            const unsigned* corners = scan.indices.data() + scan.faceStart[f];
            const VoteResult vote =
                voter.vote(scan.vertexRgb.data(), corners,
                           scan.faceStart[f + 1] - scan.faceStart[f], scan.vertexColoured.data());
            const long long vertex = vote.winner < 0 ? -1LL : corners[vote.winner];
            cornerChoice[f] = {vertex, vote.tie};
            anyColour = anyColour || vote.winner >= 0;
        }
    }

    GU_Detail geo;
    geo.reservePoints(scan.vertexCount);
    for (std::size_t v = 0; v < scan.vertexCount; ++v) {
        geo.appendPoint(UT_Vector3(positions[3 * v], positions[3 * v + 1], positions[3 * v + 2]));
    }
    positions = std::vector<tinyobj::real_t>();
    // The attribute first, so that the reservation covers the records too.
    const int cd = anyColour ? geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT) : -1;
    geo.reservePrimitives(faces, scan.indices.size());
    std::vector<GB_PrimitiveGroup*> groups;
    for (const std::string& groupName : scan.groupNames) {
        groups.push_back(geo.primitiveGroups().newGroup(groupName.c_str(), 0));
    }
    ColourSource colours;
    colours.cornersFirst = options.vertexColours;
    long long unusedCorners = 0;  // faces whose own colour won over their corners'
    long long bare = 0;           // faces with no material and no coloured corner
    for (std::size_t f = 0; f < faces; ++f) {
        const unsigned start = scan.faceStart[f];
        const long long prim =
            geo.appendPrimitive(scan.indices.data() + start, scan.faceStart[f + 1] - start);
        for (int g : scan.groupSets[static_cast<std::size_t>(scan.faceGroupSet[f])]) {
            HOST_Internals::addMember(*groups[static_cast<std::size_t>(g)],
                                      static_cast<unsigned>(prim));
        }
        const int m = scan.faceMaterial[f];
        const Rgb* own = m >= 0 ? kd[static_cast<std::size_t>(m)] : nullptr;
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
            ++colours.ownColour;
            unusedCorners += corner != nullptr;
        } else {
            ++colours.noColour;
            bare += m < 0;
        }
        if (cd >= 0)
            std::memcpy(geo.primitiveAttribData(prim) + cd, rgb, sizeof rgb);
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
    if (options.vertexColours && !vertexColours)
        notes.push_back(objName + ": no vertex colours, so --vertex-colours changes nothing");
    noteSkippedElements(scan, objName, notes);
    out = geo;
    if (source)
        *source = colours;
    return notes;
}

namespace detail {

MaterialLibrary findMaterialLibrary(std::string_view objText, const std::string& objName) {
    MaterialLibrary library;
    bool found = false;
    forEachLine(objText, [&](long long line, const std::vector<std::string_view>& w) {
        if (found || w[0] != "mtllib" || w.size() < 2)
            return;
        found = true;
        const std::string_view libraryName = restOf(w);
        refuseNul(libraryName, objName, line, "material library name");
        library.name = std::string(libraryName);
        library.firstWord = std::string(w[1]);
    });
    return library;
}

}  // namespace detail

}  // namespace hueslice::io
