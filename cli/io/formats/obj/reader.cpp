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

#include "colour/corner_vote.h"
#include "io/formats/obj/chunks.h"
#include "io/formats/obj/lines.h"
#include "io/formats/obj/obj.h"
#include "io/formats/obj/source.h"
#include "io/internal.h"
#include "io/text/text_out.h"

namespace hueslice::io {

namespace {

using detail::ChunkParse;
using detail::forEachWholeLine;
using detail::isNumber;
using detail::nextWord;
using detail::parseNumber;
using detail::readPlainFace;
using detail::readPosition;

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

// Faces sharing their group set and material, from `firstFace` until the next run.
struct FaceRun {
    std::size_t firstFace;
    int groupSet;  // index into groupSets
    int material;  // index into materialNames, or -1
};

// A positive index to a vertex not yet read, checked once the whole file is.
struct ForwardReference {
    std::size_t face;
    unsigned corner;
    long long index;  // 1-based
    long long line;
};

// An OBJ file as read: points and polygons already in a detail, and what the faces' groups and
// colours are made from once the material library is known. The scan is ours rather than
// tinyobjloader's so that every bad index is refused with its line, and so that faces keep
// their file order and full group lists.
struct ObjScan {
    GU_Detail geo;  // points and polygons, nothing else yet
    std::size_t vertexCount = 0;
    std::size_t faceCount = 0;
    std::vector<FaceRun> runs;
    std::vector<ForwardReference> forward;
    std::vector<std::vector<int>> groupSets{{}};
    std::vector<std::string> groupNames;
    std::vector<std::string> materialNames;
    bool unnamedMaterial = false;
    detail::MaterialLibrary library;
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
    ObjScanner(const std::string& objName, bool refuseNulLibrary)
        : name(objName), checkLibraryName(refuseNulLibrary) {}

    // Reads the whole lines in `text` (see forEachWholeLine); `parsed`, when not null, is what
    // parseChunk read of them.
    void readLines(std::string_view text, const ChunkParse* parsed = nullptr) {
        chunk = parsed;
        nextPosition = 0;
        nextFace = 0;
        nextCorner = 0;
        forEachWholeLine(text, [&](std::string_view line) {
            ++lineNo;
            readLine(line);
        });
        chunk = nullptr;
    }

    // Gives the detail room for what the rest of the file probably holds, judged by the lines
    // read so far, so that its arrays are not regrown (and briefly held twice) on the way. The
    // room is only reserved, not touched, so a guess too large costs no memory in use.
    void reserveFor(std::size_t bytesLeft) {
        constexpr std::size_t kSample = 4096;
        if (!pointsReserved && result.vertexCount >= kSample) {
            pointsReserved = true;
            result.geo.reservePoints(result.vertexCount +
                                     bytesLeft / (vertexBytes / result.vertexCount) + kSample);
        }
        if (!facesReserved && result.faceCount >= kSample) {
            facesReserved = true;
            const std::size_t faces = bytesLeft / (faceBytes / result.faceCount) + kSample;
            const std::size_t perFace = cornerCount / result.faceCount + 1;
            result.geo.reservePrimitives(result.faceCount + faces, cornerCount + faces * perFace);
        }
    }

    ObjScan finish() {
        // Positive indices may refer forward, so they are checked once every vertex is known.
        for (const ForwardReference& ref : result.forward) {
            if (static_cast<unsigned long long>(ref.index) > result.vertexCount) {
                failAt(name, ref.line,
                       "face " + std::to_string(ref.face) + " has index " +
                           std::to_string(ref.index) + " but " +
                           detail::thereAre(result.vertexCount, "point", "points"));
            }
        }
        if (!result.forward.empty())
            resolveForward();
        return std::move(result);
    }

  private:
    void readLine(std::string_view line) {
        std::string_view rest = line;
        const std::string_view key = nextWord(rest);
        if (key.empty() || key[0] == '#')
            return;
        if (key == "v") {
            vertexBytes += line.size() + 1;
            readVertex(rest);
        } else if (key == "f") {
            faceBytes += line.size() + 1;
            readFace(rest);
        } else if (key == "p" || key == "l") {
            ++(key == "p" ? result.pointElements : result.lineElements);
            if (result.firstSkippedLine == 0)
                result.firstSkippedLine = lineNo;
        } else if (key == "vt") {
            ++texCount;
        } else if (key == "vn") {
            ++normalCount;
        } else if (key == "g" || key == "usemtl" || key == "mtllib") {
            detail::splitWords(line, words);
            if (key == "g")
                readGroups();
            else if (key == "usemtl")
                readMaterialUse();
            else
                readLibrary();
        }
    }

    void readVertex(std::string_view rest) {
        float own[3];
        const float* xyz = own;
        bool ok = false;
        if (chunk) {
            ok = chunk->positionOk[nextPosition] != 0;
            xyz = chunk->xyz.data() + 3 * nextPosition;
            ++nextPosition;
        } else {
            ok = readPosition(rest, own);
        }
        if (!ok)
            failAt(name, lineNo, "vertex needs 3 numeric coordinates");
        // Three more numbers are a colour.
        std::string_view w[6];
        int count = 0;
        while (count < 6 && !(w[count] = nextWord(rest)).empty())
            ++count;
        readVertexColour(count == 6 ? w + 3 : nullptr);
        result.geo.appendPoint(UT_Vector3(xyz[0], xyz[1], xyz[2]));
        ++result.vertexCount;
    }

    // `v x y z r g b`: three numbers after the position are a colour. Other lengths carry none
    // (`v x y z w` is a weight). `rgb` is null when there are not three words.
    void readVertexColour(const std::string_view* rgb) {
        double values[3];
        const bool coloured = rgb && parseNumber(rgb[0], values[0]) &&
                              parseNumber(rgb[1], values[1]) && parseNumber(rgb[2], values[2]);
        if (!coloured) {
            if (result.firstPlainVertexLine == 0)
                result.firstPlainVertexLine = lineNo;
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
                failAt(name, lineNo, "vertex colour is beyond the float range");
            if (value > 1.0f && result.firstAboveOneLine == 0)
                result.firstAboveOneLine = lineNo;
            result.vertexRgb.push_back(value);
        }
        result.vertexColoured.push_back(1);
        ++result.colouredVertices;
    }

    void readFace(std::string_view rest) {
        if (chunk) {
            const unsigned size = chunk->faceSizes[nextFace++];
            if (size > 0) {
                addFace(chunk->corners.data() + nextCorner, size);
                nextCorner += size;
                return;
            }
        } else {
            corners.clear();
            if (readPlainFace(rest, result.vertexCount, corners)) {
                addFace(corners.data(), static_cast<unsigned>(corners.size()));
                return;
            }
        }
        corners.clear();
        for (std::string_view word = nextWord(rest); !word.empty(); word = nextWord(rest)) {
            const long long index = readReference(word);
            const bool known =
                index > 0 && static_cast<unsigned long long>(index) <= result.vertexCount;
            if (index > 0 && !known) {
                result.forward.push_back(ForwardReference{
                    result.faceCount, static_cast<unsigned>(corners.size()), index, lineNo});
            }
            corners.push_back(static_cast<unsigned>(known       ? index - 1
                                                    : index > 0 ? 0
                                                                : -index - 1));
        }
        if (corners.empty())
            failAt(name, lineNo, "face has no vertices");
        addFace(corners.data(), static_cast<unsigned>(corners.size()));
    }

    void addFace(const unsigned* points, unsigned count) {
        result.geo.appendPrimitive(points, count);
        cornerCount += count;
        if (result.runs.empty() || result.runs.back().groupSet != groupSet ||
            result.runs.back().material != material) {
            result.runs.push_back(FaceRun{result.faceCount, groupSet, material});
        }
        ++result.faceCount;
    }

    // Reads "v", "v/vt", "v//vn" or "v/vt/vn". Returns the 1-based vertex index when positive,
    // or -(resolved 0-based index) - 1 for a relative (negative) one.
    long long readReference(std::string_view word) {
        const std::size_t faceNo = result.faceCount;
        const auto fail = [&](const std::string& what) {
            failAt(name, lineNo, "face " + std::to_string(faceNo) + " " + what);
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

    void readGroups() {
        std::vector<int> set;
        for (std::size_t i = 1; i < words.size(); ++i) {
            refuseNul(words[i], name, lineNo, "group name");
            const std::string groupName(words[i]);
            const auto found =
                groupIndex.emplace(groupName, static_cast<int>(result.groupNames.size()));
            if (found.second)
                result.groupNames.push_back(groupName);
            set.push_back(found.first->second);
        }
        result.groupSets.push_back(std::move(set));
        groupSet = static_cast<int>(result.groupSets.size()) - 1;
    }

    void readMaterialUse() {
        if (words.size() < 2) {
            result.unnamedMaterial = true;
            material = -1;
            return;
        }
        // The whole rest of the line, as `newmtl` is read: names may hold spaces.
        // The name is kept in one string, so that a file switching materials often does not
        // allocate for each switch.
        materialName.assign(restOf(words));
        refuseNul(materialName, name, lineNo, "material name");
        const auto known = materialIndex.find(materialName);
        if (known != materialIndex.end()) {
            material = known->second;
            return;
        }
        material = static_cast<int>(result.materialNames.size());
        materialIndex.emplace(materialName, material);
        result.materialNames.push_back(materialName);
    }

    void readLibrary() {
        if (libraryFound || words.size() < 2)
            return;
        libraryFound = true;
        const std::string_view libraryName = restOf(words);
        if (checkLibraryName)
            refuseNul(libraryName, name, lineNo, "material library name");
        result.library.name = std::string(libraryName);
        result.library.firstWord = std::string(words[1]);
    }

    // Puts the vertices that faces named before reading them in place. The detail's vertex
    // lists cannot be changed, so its polygons are made again; files that define vertices
    // first never come here.
    void resolveForward() {
        const GU_Detail& old = result.geo;
        GU_Detail fixed;
        fixed.reservePoints(result.vertexCount);
        for (const UT_Vector3& point : old.points())
            fixed.appendPoint(point);
        fixed.reservePrimitives(result.faceCount, cornerCount);
        std::size_t next = 0;
        for (std::size_t f = 0; f < result.faceCount; ++f) {
            const GB_Primitive& prim = *old.primitives()(static_cast<long long>(f));
            const unsigned* v = old.primitiveVertices(prim);
            corners.assign(v, v + prim.vertexCount);
            for (; next < result.forward.size() && result.forward[next].face == f; ++next) {
                const ForwardReference& ref = result.forward[next];
                corners[ref.corner] = static_cast<unsigned>(ref.index - 1);
            }
            fixed.appendPrimitive(corners.data(), prim.vertexCount);
        }
        result.geo = fixed;
        result.forward = std::vector<ForwardReference>();
    }

    const std::string& name;
    const bool checkLibraryName;
    ObjScan result;
    long long lineNo = 0;
    std::size_t texCount = 0;
    std::size_t normalCount = 0;
    std::size_t cornerCount = 0;
    std::size_t vertexBytes = 0;  // bytes of `v` lines, for reserveFor
    std::size_t faceBytes = 0;    // bytes of `f` lines
    bool pointsReserved = false;
    bool facesReserved = false;
    int groupSet = 0;
    int material = -1;
    bool libraryFound = false;
    std::unordered_map<std::string, int> groupIndex;
    std::unordered_map<std::string, int> materialIndex;
    std::vector<std::string_view> words;  // of the rarer lines, split whole
    std::vector<unsigned> corners;        // of the current face
    std::string materialName;             // of the current usemtl line
    const ChunkParse* chunk = nullptr;    // what the helper thread read of the current lines
    std::size_t nextPosition = 0;         // its next `v` line
    std::size_t nextFace = 0;             // its next `f` line
    std::size_t nextCorner = 0;           // its next corner
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
        // Its sign from the double: converting a double beyond the float range is undefined.
        narrowed = value < 0 ? -std::numeric_limits<float>::infinity()
                             : std::numeric_limits<float>::infinity();
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

// The scan of a whole OBJ. The scanner is gone when it returns, so that the scan's detail
// shares its storage with no other and is not copied when colours and groups are added.
ObjScan scanObj(const detail::ObjSource& source, const std::string& objName) {
    ObjScanner scanner(objName, source.refuseNulLibrary);
    detail::readObjChunks(
        source, objName,
        [&](std::string_view lines, const detail::ChunkParse* parsed) {
            scanner.readLines(lines, parsed);
        },
        [&](std::size_t bytesLeft) { scanner.reserveFor(bytesLeft); });
    return scanner.finish();
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
                ++colours.ownColour;
                unusedCorners += corner != nullptr;
            } else {
                ++colours.noColour;
                bare += m < 0;
            }
            if (cd >= 0) {
                std::memcpy(geo.primitiveAttribData(static_cast<long long>(f)) + cd, rgb,
                            sizeof rgb);
            }
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
    if (options.vertexColours && !vertexColours)
        notes.push_back(objName + ": no vertex colours, so --vertex-colours changes nothing");
    noteSkippedElements(scan, objName, notes);
    out = geo;
    if (colourSource)
        *colourSource = colours;
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
