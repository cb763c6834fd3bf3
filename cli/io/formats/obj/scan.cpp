#include "io/formats/obj/scan.h"

#include <algorithm>
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

#include "io/formats/obj/chunks.h"
#include "io/formats/obj/lines.h"
#include "io/internal.h"

namespace hueslice::io::detail {

namespace {

std::string shown(std::string_view word) {
    return word.size() <= 24 ? std::string(word) : std::string(word.substr(0, 24)) + "...";
}

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
            faceText = rest;
            readFace(rest);
        } else if (key == "p" || key == "l") {
            ++(key == "p" ? result.pointElements : result.lineElements);
            if (result.firstSkippedLine == 0)
                result.firstSkippedLine = lineNo;
        } else if (key == "vt") {
            readTexCoord(rest);
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

    // `vt u [v [w]]`: u and v, v 0 when missing.
    void readTexCoord(std::string_view rest) {
        double uv[2] = {0.0, 0.0};
        int count = 0;
        for (std::string_view word = nextWord(rest); !word.empty() && count < 2;
             word = nextWord(rest), ++count) {
            if (!parseNumber(word, uv[count]))
                failAt(name, lineNo, "texture coordinate needs numbers");
        }
        if (count == 0)
            failAt(name, lineNo, "texture coordinate needs numbers");
        for (double value : uv) {
            float narrowed = 0.0f;
            result.texCoords.push_back(detail::narrowToFloat(value, narrowed) ? narrowed : NAN);
        }
        ++texCount;
    }

    // The `vt` part of each corner of a face's text, resolved as readReference resolves the
    // point part; 0 when missing or out of range, as a face's colour then falls back.
    void readFaceTexCoords(std::string_view rest, unsigned count) {
        if (result.cornerTex.empty())
            result.cornerTex.assign(cornerCount, 0);
        unsigned added = 0;
        for (std::string_view word = nextWord(rest); !word.empty() && added < count;
             word = nextWord(rest), ++added) {
            long long index = 0;
            const std::size_t slash = word.find('/');
            if (slash != std::string_view::npos) {
                std::string_view part = word.substr(slash + 1);
                part = part.substr(0, part.find('/'));
                std::from_chars(part.data(), part.data() + part.size(), index);
            }
            if (index < 0)
                index += static_cast<long long>(texCount) + 1;
            const bool known = index > 0 && static_cast<unsigned long long>(index) <= texCount;
            result.cornerTex.push_back(known ? static_cast<std::uint32_t>(index) : 0);
        }
        result.cornerTex.resize(cornerCount + count, 0);
    }

    void addFace(const unsigned* points, unsigned count) {
        if (texCount > 0 || !result.cornerTex.empty())
            readFaceTexCoords(faceText, count);
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
    std::string_view faceText;  // the corners' text of the face being read
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

}  // namespace

ObjScan scanObj(const ObjSource& source, const std::string& objName) {
    ObjScanner scanner(objName, source.refuseNulLibrary);
    detail::readObjChunks(
        source, objName,
        [&](std::string_view lines, const detail::ChunkParse* parsed) {
            scanner.readLines(lines, parsed);
        },
        [&](std::size_t bytesLeft) { scanner.reserveFor(bytesLeft); });
    return scanner.finish();
}

}  // namespace hueslice::io::detail
