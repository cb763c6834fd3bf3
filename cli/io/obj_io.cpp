#include <HOST_Internals.h>
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

#include <tiny_obj_loader.h>

#include "io/internal.h"
#include "io/io.h"

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

bool isNumber(std::string_view word) {
    double value = 0.0;
    const char* first = word.data();
    const char* last = word.data() + word.size();
    if (first != last && *first == '+')
        ++first;
    const auto r = std::from_chars(first, last, value);
    return r.ec == std::errc() && r.ptr == last;
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
};

class ObjScanner {
  public:
    ObjScanner(std::string_view objText, const std::string& objName)
        : text(objText), name(objName) {}

    ObjScan scan() {
        std::vector<long long> faceLines;
        std::vector<long long> pending;  // 1-based forward references, checked at the end
        std::vector<std::size_t> pendingAt;
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
                ++result.vertexCount;
            } else if (key == "vt") {
                ++texCount;
            } else if (key == "vn") {
                ++normalCount;
            } else if (key == "f") {
                if (w.size() < 2)
                    failAt(name, line, "face has no vertices");
                for (std::size_t i = 1; i < w.size(); ++i) {
                    const long long index = readReference(w[i], line);
                    if (index > 0) {
                        pending.push_back(index);
                        pendingAt.push_back(result.indices.size());
                    }
                    result.indices.push_back(static_cast<unsigned>(index > 0 ? 0 : -index - 1));
                }
                result.faceStart.push_back(static_cast<unsigned>(result.indices.size()));
                result.faceGroupSet.push_back(groupSet);
                result.faceMaterial.push_back(material);
                faceLines.push_back(line);
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
                failAt(name, faceLines[face],
                       "face " + std::to_string(face) + " has index " + std::to_string(pending[k]) +
                           " but " + detail::thereAre(result.vertexCount, "point", "points"));
            }
            result.indices[at] = static_cast<unsigned>(pending[k] - 1);
        }
        return std::move(result);
    }

  private:
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

}  // namespace

Notes readObj(std::string_view objText, const std::string& objName,
              std::optional<std::string_view> mtlText, const std::string& mtlName, GU_Detail& out) {
    Notes notes;
    const ObjScan scan = ObjScanner(objText, objName).scan();

    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    if (!reader.ParseFromString(std::string(objText), "", config)) {
        std::string error = reader.Error();
        error = error.substr(0, error.find('\n'));
        throw InputError(objName + ": cannot read obj: " + error);
    }
    const std::vector<tinyobj::real_t>& positions = reader.GetAttrib().vertices;
    if (positions.size() != 3 * scan.vertexCount) {
        throw InputError(objName + ": cannot read the vertex positions");
    }

    std::unordered_map<std::string, Rgb> materials;
    if (mtlText) {
        materials = readMaterials(*mtlText, mtlName);
    } else if (!scan.materialNames.empty()) {
        notes.push_back(objName + ": material library " +
                        (mtlName.empty() ? "" : "'" + mtlName + "' ") +
                        "not found; faces get no colour");
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

    GU_Detail geo;
    geo.reservePoints(scan.vertexCount);
    for (std::size_t v = 0; v < scan.vertexCount; ++v) {
        geo.appendPoint(UT_Vector3(positions[3 * v], positions[3 * v + 1], positions[3 * v + 2]));
    }
    const std::size_t faces = scan.faceGroupSet.size();
    geo.reservePrimitives(faces, scan.indices.size());
    const int cd = anyColour ? geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT) : -1;
    std::vector<GB_PrimitiveGroup*> groups;
    for (const std::string& groupName : scan.groupNames) {
        groups.push_back(geo.primitiveGroups().newGroup(groupName.c_str(), 0));
    }
    for (std::size_t f = 0; f < faces; ++f) {
        const unsigned start = scan.faceStart[f];
        const long long prim =
            geo.appendPrimitive(scan.indices.data() + start, scan.faceStart[f + 1] - start);
        for (int g : scan.groupSets[static_cast<std::size_t>(scan.faceGroupSet[f])]) {
            HOST_Internals::addMember(*groups[static_cast<std::size_t>(g)],
                                      static_cast<unsigned>(prim));
        }
        if (cd < 0)
            continue;
        float rgb[3] = {1.0f, 1.0f, 1.0f};
        const int m = scan.faceMaterial[f];
        if (m >= 0 && kd[static_cast<std::size_t>(m)]) {
            const Rgb& colour = *kd[static_cast<std::size_t>(m)];
            for (int c = 0; c < 3; ++c)
                rgb[c] = colour[static_cast<std::size_t>(c)];
        }
        std::memcpy(geo.primitiveAttribData(prim) + cd, rgb, sizeof rgb);
    }
    out = geo;
    return notes;
}

namespace {

bool fitsObj(const std::string& s) {
    if (s.empty())
        return false;
    for (char c : s) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            return false;
    }
    return true;
}

// A `g` line holds names as words, so a group whose name is not one word gets one: its blanks
// become '_' ("_" for an empty name), with a number added when that is another group's name.
// Distinct groups keep distinct names, or reading the file back would merge them.
std::vector<std::string> objGroupNames(const GU_Detail& geo, const std::string& name,
                                       Notes& warnings) {
    std::unordered_set<std::string> taken;
    for (const GB_PrimitiveGroup* g : geo.primitiveGroups().groups()) {
        if (fitsObj(g->getName()))
            taken.insert(g->getName());
    }
    std::vector<std::string> names;
    std::unordered_map<std::string, unsigned long long> nextNumber;
    for (const GB_PrimitiveGroup* g : geo.primitiveGroups().groups()) {
        const std::string& original = g->getName();
        if (fitsObj(original)) {
            names.push_back(original);
            continue;
        }
        std::string base = original.empty() ? "_" : original;
        for (char& c : base) {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
                c = '_';
        }
        std::string unique = base;
        if (taken.count(unique)) {
            unsigned long long& number = nextNumber.emplace(base, 2).first->second;
            do {
                unique = base + "_" + std::to_string(number++);
            } while (taken.count(unique));
        }
        taken.insert(unique);
        warnings.push_back(name + ": group '" + original + "' written as '" + unique + "' (" +
                           (original.empty() ? "an obj group name cannot be empty"
                                             : "obj names cannot hold whitespace") +
                           (unique == base ? ")" : ", and '" + base + "' is taken)"));
        names.push_back(std::move(unique));
    }
    return names;
}

}  // namespace

ObjText writeObj(const GU_Detail& geo, const std::string& mtlFileName, const std::string& name) {
    ObjText result;
    const int cd = detail::colourOffset(geo);
    bool nonFinite = false;
    std::string& obj = result.obj;
    if (cd >= 0)
        obj += "mtllib " + mtlFileName + "\n";
    for (const UT_Vector3& p : geo.points()) {
        nonFinite =
            nonFinite || !std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z());
        obj += "v " + floatText(p.x()) + " " + floatText(p.y()) + " " + floatText(p.z()) + "\n";
    }

    // The groups of every face, in group creation order.
    const long long primCount = geo.primitiveCount();
    std::vector<std::vector<unsigned>> faceGroups(static_cast<std::size_t>(primCount));
    const std::vector<std::string> groupNames = objGroupNames(geo, name, result.warnings);
    unsigned groupId = 0;
    for (const GB_PrimitiveGroup* g : geo.primitiveGroups().groups()) {
        for (unsigned m : g->members()) {
            if (m < faceGroups.size())
                faceGroups[m].push_back(groupId);
        }
        ++groupId;
    }

    std::unordered_map<std::string, int> materialOf;  // colour bits -> material number
    const std::vector<unsigned>* currentGroups = nullptr;
    static const std::vector<unsigned> kNoGroups;
    int currentMaterial = -1;
    for (long long i = 0; i < primCount; ++i) {
        const GB_Primitive& prim = *geo.primitives()(i);
        if (prim.vertexCount == 0) {
            throw OutputError(name + ": primitive " + std::to_string(i) +
                              " has no vertices, which obj cannot carry");
        }
        const std::vector<unsigned>& groups = faceGroups[static_cast<std::size_t>(i)];
        if (currentGroups ? groups != *currentGroups : !groups.empty()) {
            obj += "g";
            for (unsigned g : groups)
                obj += " " + groupNames[g];
            obj += "\n";
        }
        currentGroups = groups.empty() ? &kNoGroups : &groups;
        if (cd >= 0) {
            float rgb[3];
            std::memcpy(rgb, geo.primitiveAttribData(i) + cd, sizeof rgb);
            const std::string key(reinterpret_cast<const char*>(rgb), sizeof rgb);
            const auto found = materialOf.emplace(key, static_cast<int>(materialOf.size()));
            if (found.second) {
                nonFinite = nonFinite || !std::isfinite(rgb[0]) || !std::isfinite(rgb[1]) ||
                            !std::isfinite(rgb[2]);
                result.mtl += "newmtl colour_" + std::to_string(found.first->second) + "\nKd " +
                              floatText(rgb[0]) + " " + floatText(rgb[1]) + " " +
                              floatText(rgb[2]) + "\n";
            }
            if (found.first->second != currentMaterial) {
                currentMaterial = found.first->second;
                obj += "usemtl colour_" + std::to_string(currentMaterial) + "\n";
            }
        }
        obj += "f";
        const unsigned* vertices = geo.primitiveVertices(prim);
        for (unsigned v = 0; v < prim.vertexCount; ++v)
            obj += " " + std::to_string(vertices[v] + 1ull);
        obj += "\n";
    }
    if (nonFinite) {
        result.warnings.push_back(name + ": some positions or colours are not finite numbers; " +
                                  "other programs may not read them back");
    }
    return result;
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
