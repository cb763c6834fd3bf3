#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <HOST_Internals.h>

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

// A word that both number readers take whole and cannot overflow: an optional sign, digits and
// at most one point. Most coordinates look like this, so the full check is rarely needed.
bool isPlainDecimal(std::string_view word) {
    std::size_t i = !word.empty() && (word[0] == '+' || word[0] == '-') ? 1 : 0;
    if (word.size() > 40 || i == word.size())
        return false;
    bool digits = false;
    bool point = false;
    for (; i < word.size(); ++i) {
        const char c = word[i];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

bool isCoordinate(std::string_view word) {
    return isPlainDecimal(word) || isNumber(word);
}

// The next word of `rest` (blanks are spaces and tabs), removed from it; empty at the end.
std::string_view nextWord(std::string_view& rest) {
    std::size_t i = 0;
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t'))
        ++i;
    std::size_t end = i;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t')
        ++end;
    const std::string_view word = rest.substr(i, end - i);
    rest.remove_prefix(end);
    return word;
}

// Calls `visit(line)` for every line of `text`, lines ended by \n, \r\n or \r; the last one
// ends with the text. A \r ending `text` is taken as a whole line break.
template <typename Visit>
void forEachWholeLine(std::string_view text, Visit&& visit) {
    const char* p = text.data();
    const char* const end = p + text.size();
    // Most files end their lines with \n alone; then the search for line ends is one fast scan
    // for that byte.
    const bool anyReturn = std::memchr(p, '\r', text.size()) != nullptr;
    while (p < end) {
        const char* stop = nullptr;
        if (!anyReturn) {
            stop =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (!stop)
                stop = end;
        } else {
            stop = p;
            while (stop < end && *stop != '\n' && *stop != '\r')
                ++stop;
        }
        const std::string_view line(p, static_cast<std::size_t>(stop - p));
        p = stop;
        if (p + 1 < end && p[0] == '\r' && p[1] == '\n')
            ++p;
        ++p;
        visit(line);
    }
}

// The position after a `v` keyword, read as tinyobjloader reads it; false when the first three
// words are not numbers.
bool readPosition(std::string_view rest, float xyz[3]) {
    std::string_view w[3];
    for (std::string_view& word : w) {
        word = nextWord(rest);
        if (!isCoordinate(word))
            return false;
    }
    for (int c = 0; c < 3; ++c)
        xyz[c] = detail::objCoordinate(w[c]);
    return true;
}

// The corners after an `f` keyword, appended to `out`, when every reference is plain: a
// positive index of one of the first `vertices` vertices, maybe followed by nonzero texture and
// normal indices ("7", "7/2", "7//3", "7/2/3"). False for anything else (negative or forward
// indices, faults), which needs the full reading; `out` may then hold some of the corners.
bool readPlainFace(std::string_view rest, std::size_t vertices, std::vector<unsigned>& out) {
    const char* p = rest.data();
    const char* const end = p + rest.size();
    const auto blank = [&] { return p == end || *p == ' ' || *p == '\t'; };
    bool any = false;
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p == end)
            return any;
        const char* const first = p;
        unsigned long long index = 0;
        while (p < end && static_cast<unsigned char>(*p - '0') < 10 && p - first < 10) {
            index = index * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
        if (index == 0 || index > vertices)
            return false;
        // Texture and normal parts: empty, or digits that are not all zeros.
        for (int part = 1; part < 3 && p < end && *p == '/'; ++part) {
            const char* const digits = ++p;
            bool nonzero = false;
            while (p < end && static_cast<unsigned char>(*p - '0') < 10 && p - digits < 18) {
                nonzero = nonzero || *p != '0';
                ++p;
            }
            if (p != digits && !nonzero)
                return false;
        }
        if (!blank())
            return false;
        out.push_back(static_cast<unsigned>(index - 1));
        any = true;
    }
}

// What the helper thread reads of a chunk of lines ahead of the scanner: the positions of its
// `v` lines and the corners of its plain `f` lines, in line order.
struct ChunkParse {
    std::vector<float> xyz;                 // three per `v` line
    std::vector<unsigned char> positionOk;  // per `v` line: readPosition succeeded
    std::vector<unsigned> corners;          // of the plain faces, one after another
    std::vector<unsigned> faceSizes;        // per `f` line: its corners, 0 when not plain

    void clear() {
        xyz.clear();
        positionOk.clear();
        corners.clear();
        faceSizes.clear();
    }
};

// Reads `text`, whole lines following `vertices` vertices, into `out`; returns the vertices
// after it. The lines are told apart exactly as the scanner tells them apart.
std::size_t parseChunk(std::string_view text, std::size_t vertices, ChunkParse& out) {
    out.clear();
    forEachWholeLine(text, [&](std::string_view line) {
        const std::string_view key = nextWord(line);
        if (key == "v") {
            float xyz[3] = {0, 0, 0};
            out.positionOk.push_back(readPosition(line, xyz));
            out.xyz.insert(out.xyz.end(), xyz, xyz + 3);
            ++vertices;
        } else if (key == "f") {
            const std::size_t before = out.corners.size();
            if (readPlainFace(line, vertices, out.corners)) {
                out.faceSizes.push_back(static_cast<unsigned>(out.corners.size() - before));
            } else {
                out.corners.resize(before);
                out.faceSizes.push_back(0);
            }
        }
    });
    return vertices;
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
    if (scan.faceCount > 0)
        return;
    const std::string why = scan.pointElements + scan.lineElements > 0
                                ? "the file has only points and lines"
                            : scan.vertexCount > 0 ? "the file has only vertices"
                                                   : "the file has no elements";
    notes.push_back(detail::noFacesNote(name, why, scan.colouredVertices > 0));
}

// The lines of an OBJ source, a chunk at a time, each chunk in a buffer of its own and up to
// the last line break that is whole: a \r at the end of the bytes so far may be the first half
// of \r\n, so it waits for the next chunk.
class ObjChunks {
  public:
    ObjChunks(const detail::ObjSource& objSource, const std::string& objName)
        : source(objSource), name(objName) {}

    // The next chunk of lines, read into `buffer`; false at the end.
    bool next(std::vector<char>& buffer, std::string_view& lines) {
        if (atEnd)
            return false;
        buffer.resize(
            std::max({buffer.size(), source.pieceBytes, carry.size() + 1, std::size_t{4}}));
        std::copy(carry.begin(), carry.end(), buffer.begin());
        std::size_t used = carry.size();
        std::size_t start = 0;
        for (;;) {
            if (used == buffer.size())
                buffer.resize(2 * buffer.size());  // a line longer than a piece
            const std::size_t n = source.read(buffer.data() + used, buffer.size() - used);
            atEnd = n == 0;
            used += n;
            total += n;
            if (prologue) {
                if (used < 3 && !atEnd)
                    continue;
                prologue = false;
                checkEncoding(std::string_view(buffer.data(), std::min<std::size_t>(used, 3)),
                              name);
                // A UTF-8 byte order mark would hide the first line's keyword.
                if (std::string_view(buffer.data(), used).substr(0, 3) == "\xEF\xBB\xBF")
                    start = 3;
            }
            std::size_t cut = used;
            if (!atEnd) {
                cut = used - (buffer[used - 1] == '\r' ? 1 : 0);
                while (cut > start && buffer[cut - 1] != '\n' && buffer[cut - 1] != '\r')
                    --cut;
                if (cut == start)
                    continue;  // no whole line yet
            }
            lines = std::string_view(buffer.data() + start, cut - start);
            carry.assign(buffer.data() + cut, used - cut);
            detail::reportProgress(total, std::max(total, source.sizeHint));
            return true;
        }
    }

    // Bytes not yet given as lines, as far as the size the file had when opened tells.
    std::size_t bytesLeft() const {
        return source.sizeHint > total ? source.sizeHint - total + carry.size() : carry.size();
    }

  private:
    const detail::ObjSource& source;
    const std::string& name;
    std::string carry;      // the start of a line that is not yet whole
    std::size_t total = 0;  // bytes read
    bool prologue = true;   // the first bytes are not yet checked
    bool atEnd = false;
};

// A thread that runs parseChunk over the chunks it is given, in order, while the scanner reads
// the chunks before them. Chunks are handed over and back whole, under a lock.
class ChunkHelper {
  public:
    struct Chunk {
        std::vector<char> buffer;
        std::string_view lines;
        ChunkParse parsed;
        bool done = false;
    };

    ChunkHelper() : thread([this] { run(); }) {}
    ~ChunkHelper() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }
    ChunkHelper(const ChunkHelper&) = delete;
    ChunkHelper& operator=(const ChunkHelper&) = delete;

    void post(Chunk* chunk) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(chunk);
        }
        wake.notify_all();
    }

    // Waits until `chunk` is parsed; passes on what the thread threw (only bad_alloc).
    void waitFor(const Chunk& chunk) {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return chunk.done || failure; });
        if (failure)
            std::rethrow_exception(failure);
    }

  private:
    void run() {
        std::size_t vertices = 0;
        for (;;) {
            Chunk* chunk = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return stopping || !queue.empty(); });
                if (stopping)
                    return;
                chunk = queue.front();
                queue.pop_front();
            }
            std::exception_ptr thrown;
            try {
                vertices = parseChunk(chunk->lines, vertices, chunk->parsed);
            } catch (...) {
                thrown = std::current_exception();
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                chunk->done = true;
                if (thrown)
                    failure = thrown;
            }
            wake.notify_all();
            if (thrown)
                return;
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Chunk*> queue;
    bool stopping = false;
    std::exception_ptr failure;
    std::thread thread;  // last: it starts once the rest is ready
};

// Reads every line of `source` into `scanner`, on this thread alone or with a helper thread
// reading positions and plain faces a chunk or two ahead.
void readChunks(const detail::ObjSource& source, const std::string& objName, ObjScanner& scanner) {
    ObjChunks chunks(source, objName);
    if (!source.helperThread) {
        std::vector<char> buffer;
        std::string_view lines;
        while (chunks.next(buffer, lines)) {
            scanner.readLines(lines);
            scanner.reserveFor(chunks.bytesLeft());
        }
        return;
    }
    constexpr std::size_t kAhead = 2;  // chunks the helper may be given beyond the scanner's
    std::deque<std::unique_ptr<ChunkHelper::Chunk>> inFlight;
    std::vector<std::unique_ptr<ChunkHelper::Chunk>> spare;
    bool more = true;
    ChunkHelper helper;
    for (;;) {
        while (more && inFlight.size() <= kAhead) {
            std::unique_ptr<ChunkHelper::Chunk> chunk;
            if (spare.empty()) {
                chunk = std::make_unique<ChunkHelper::Chunk>();
            } else {
                chunk = std::move(spare.back());
                spare.pop_back();
                chunk->done = false;
            }
            more = chunks.next(chunk->buffer, chunk->lines);
            if (more) {
                helper.post(chunk.get());
                inFlight.push_back(std::move(chunk));
            }
        }
        if (inFlight.empty())
            return;
        ChunkHelper::Chunk& chunk = *inFlight.front();
        helper.waitFor(chunk);
        scanner.readLines(chunk.lines, &chunk.parsed);
        scanner.reserveFor(chunks.bytesLeft());
        spare.push_back(std::move(inFlight.front()));
        inFlight.pop_front();
    }
}

// The scan of a whole OBJ. The scanner is gone when it returns, so that the scan's detail
// shares its storage with no other and is not copied when colours and groups are added.
ObjScan scanObj(const detail::ObjSource& source, const std::string& objName) {
    ObjScanner scanner(objName, source.refuseNulLibrary);
    readChunks(source, objName, scanner);
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
        CornerVoter voter;
        cornerChoice.resize(faces);
        for (std::size_t f = 0; f < faces; ++f) {
            const GB_Primitive& prim = *geo.primitives()(static_cast<long long>(f));
            const unsigned* corners = geo.primitiveVertices(prim);
            const VoteResult vote = voter.vote(scan.vertexRgb.data(), corners, prim.vertexCount,
                                               scan.vertexColoured.data());
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

Notes readObj(std::string_view objText, const std::string& objName,
              std::optional<std::string_view> mtlText, const std::string& mtlName, GU_Detail& out,
              const ReadOptions& options, ColourSource* source) {
    detail::ObjSource pieces;
    pieces.read = [objText](char* at, std::size_t room) mutable {
        const std::size_t n = std::min(room, objText.size());
        std::memcpy(at, objText.data(), n);
        objText.remove_prefix(n);
        return n;
    };
    pieces.sizeHint = objText.size();
    pieces.findLibrary = [&](const detail::MaterialLibrary&) {
        detail::MaterialText library;
        if (mtlText)
            library.text = std::string(*mtlText);
        library.name = mtlName;
        return library;
    };
    return detail::readObjPieces(pieces, objName, out, options, source);
}

}  // namespace hueslice::io
