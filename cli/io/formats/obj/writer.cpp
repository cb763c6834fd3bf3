#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "io/formats/obj/obj.h"
#include "io/internal.h"
#include "io/text/text_chunks.h"

namespace hueslice::io {

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

// `wanted`, or `wanted_2`, `wanted_3`, ... when a group already has that name.
std::string unusedName(const std::vector<std::string>& names, const std::string& wanted) {
    const std::unordered_set<std::string> taken(names.begin(), names.end());
    std::string name = wanted;
    for (unsigned long long n = 2; taken.count(name); ++n)
        name = wanted + "_" + std::to_string(n);
    return name;
}

}  // namespace

namespace {

// Colour bits as a material key: two colours share a material only when every bit agrees.
struct ColourBits {
    std::uint32_t c[3];
    bool operator==(const ColourBits& o) const {
        return c[0] == o.c[0] && c[1] == o.c[1] && c[2] == o.c[2];
    }
};
struct ColourBitsHash {
    std::size_t operator()(const ColourBits& k) const {
        return (k.c[0] * 0x9E3779B97F4A7C15ull) ^ (k.c[1] * 0xC2B2AE3D27D4EB4Full) ^
               (k.c[2] * 0x165667B19E3779F9ull);
    }
};

// The groups of every face as one number per face: faces with the same groups share a number,
// and sets[number] lists the groups in creation order (set 0: none). Built group by group, each
// set moving to the set with one more group, so that it costs one number per face however many
// groups a face is in.
struct FaceGroupSets {
    std::vector<unsigned> faceSet;
    std::vector<std::vector<unsigned>> sets{{}};

    FaceGroupSets(const std::vector<GB_PrimitiveGroup*>& groups, std::size_t faces)
        : faceSet(faces, 0) {
        std::unordered_map<unsigned long long, unsigned> grown;  // (set, group) -> set
        for (std::size_t g = 0; g < groups.size(); ++g) {
            unsigned lastFrom = 0, lastTo = 0;
            bool haveLast = false;
            for (unsigned m : groups[g]->members()) {
                if (m >= faces)
                    continue;
                const unsigned from = faceSet[m];
                if (!haveLast || from != lastFrom) {
                    const auto key = (static_cast<unsigned long long>(from) << 32) | g;
                    const auto found = grown.emplace(key, static_cast<unsigned>(sets.size()));
                    if (found.second) {
                        std::vector<unsigned> bigger = sets[from];
                        bigger.push_back(static_cast<unsigned>(g));
                        sets.push_back(std::move(bigger));
                    }
                    lastFrom = from;
                    lastTo = found.first->second;
                    haveLast = true;
                }
                faceSet[m] = lastTo;
            }
        }
    }
};

// What writing a detail as OBJ needs besides formatting: group names, each face's set of groups,
// the written order, the materials, the MTL text and the warnings. Working it out takes one
// pass over the faces in input order, so the MTL and the warnings are known before the OBJ text
// is made; the text is then made in chunks on every core.
class ObjPlan {
  public:
    ObjPlan(const GU_Detail& detail, const std::string& mtlFileName, const std::string& fileName,
            bool keepInputOrder)
        : geo(detail),
          mtlName(mtlFileName),
          name(fileName),
          cd(detail::colourOffset(detail)),
          keepOrder(keepInputOrder),
          faceCount(static_cast<std::size_t>(detail.primitiveCount())),
          groupNames(objGroupNames(detail, fileName, result.warnings)),
          ungroupedName(unusedName(groupNames, "ungrouped")),
          faceGroups(detail.primitiveGroups().groups(), faceCount) {
        plan();
    }

    // The MTL text and the warnings; `obj` is left empty.
    const ObjText& described() const { return result; }

    void write(const TextSink& sink) const {
        const std::size_t points = geo.points().size();
        const std::size_t lines = std::max<std::size_t>(1, detail::chunkShape().linesPerChunk);
        // The first chunk holds the `mtllib` line, so there is one even without points.
        const std::size_t pointChunks = std::max<std::size_t>(1, (points + lines - 1) / lines);
        const std::size_t faceChunks = (faceCount + lines - 1) / lines;
        const unsigned long long total = points + faceCount;
        detail::writeChunks(
            pointChunks + faceChunks,
            [&](std::size_t chunk, detail::TextBuffer& out) {
                if (chunk < pointChunks) {
                    formatPoints(chunk * lines, std::min(points, (chunk + 1) * lines), out);
                } else {
                    const std::size_t begin = (chunk - pointChunks) * lines;
                    formatFaces(begin, std::min(faceCount, begin + lines), out);
                }
            },
            sink,
            [&](std::size_t chunk) {
                const unsigned long long done =
                    chunk < pointChunks
                        ? std::min(points, (chunk + 1) * lines)
                        : points + std::min(faceCount, (chunk + 1 - pointChunks) * lines);
                detail::reportProgress(done, total);
            });
    }

  private:
    // A run of faces of one set in the written order, when faces are written set by set.
    struct SetRun {
        std::size_t end;  // the written position after its last face
        unsigned set;
    };

    // Remembers the last colour looked up, since faces come in runs of one colour.
    struct MaterialCache {
        ColourBits colour{};
        long long number = -1;
        bool filled = false;
    };

    void plan() {
        const GB_PrimitiveList& list = geo.primitives();
        std::vector<unsigned>& faceSet = faceGroups.faceSet;
        std::vector<std::size_t> next;  // by set: the written position of its next face
        if (!keepOrder) {
            next = orderSets();
            order.resize(faceCount);
        }
        bool nonFinite = false;
        for (const UT_Vector3& p : geo.points()) {
            nonFinite = nonFinite || !std::isfinite(p.x()) || !std::isfinite(p.y()) ||
                        !std::isfinite(p.z());
        }
        // Materials are numbered by first use in the written order: each is given a number by
        // first use in input order here, and its earliest written position decides its place.
        constexpr std::size_t kNone = static_cast<std::size_t>(-1);
        std::vector<std::size_t> firstWritten;
        std::vector<ColourBits> colours;
        std::size_t firstEmpty = kNone;
        unsigned emptyFace = 0;
        MaterialCache cache;
        for (std::size_t i = 0; i < faceCount; ++i) {
            const std::size_t at = keepOrder ? i : next[faceSet[i]]++;
            if (!keepOrder)
                order[at] = static_cast<unsigned>(i);
            const GB_Primitive* prim = list(static_cast<long long>(i));
            if (!prim || prim->vertexCount == 0) {
                if (at < firstEmpty) {
                    firstEmpty = at;
                    emptyFace = static_cast<unsigned>(i);
                }
                continue;
            }
            if (cd < 0)
                continue;
            ColourBits bits;
            std::memcpy(bits.c, geo.primitiveAttribData(static_cast<long long>(i)) + cd,
                        sizeof bits.c);
            if (cache.filled && bits == cache.colour) {
                firstWritten[static_cast<std::size_t>(cache.number)] =
                    std::min(firstWritten[static_cast<std::size_t>(cache.number)], at);
                continue;
            }
            const auto found = materials.emplace(bits, static_cast<long long>(colours.size()));
            const auto m = static_cast<std::size_t>(found.first->second);
            if (found.second) {
                colours.push_back(bits);
                firstWritten.push_back(at);
            } else {
                firstWritten[m] = std::min(firstWritten[m], at);
            }
            cache = {bits, found.first->second, true};
        }
        if (firstEmpty != kNone) {
            throw OutputError(name + ": primitive " + std::to_string(emptyFace) +
                              " has no vertices, which obj cannot carry");
        }
        nonFinite = numberMaterials(firstWritten, colours) || nonFinite;
        if (nonFinite) {
            result.warnings.push_back(name +
                                      ": some positions or colours are not finite numbers; " +
                                      "other programs may not read them back");
        }
        if (!keepOrder)
            std::vector<unsigned>().swap(faceSet);  // the runs say it all now
    }

    // Faces with the same set of groups are written together, sets in order of first use and
    // faces in input order within a set, so that each set gets one `g` line and readers that
    // make one mesh per `g` line make one per set. Fills `runs`; returns each set's first
    // written position.
    std::vector<std::size_t> orderSets() {
        const std::vector<unsigned>& faceSet = faceGroups.faceSet;
        std::vector<std::size_t> count(faceGroups.sets.size(), 0);
        for (const unsigned set : faceSet) {
            if (count[set]++ == 0)
                runs.push_back({0, set});
        }
        std::vector<std::size_t> start(faceGroups.sets.size(), 0);
        std::size_t end = 0;
        for (SetRun& run : runs) {
            start[run.set] = end;
            end += count[run.set];
            run.end = end;
        }
        return start;
    }

    // Gives the materials their numbers by first written use and makes the MTL text. Returns
    // whether a colour is not finite.
    bool numberMaterials(const std::vector<std::size_t>& firstWritten,
                         const std::vector<ColourBits>& colours) {
        std::vector<std::size_t> byUse(colours.size());
        for (std::size_t m = 0; m < byUse.size(); ++m)
            byUse[m] = m;
        std::sort(byUse.begin(), byUse.end(), [&firstWritten](std::size_t a, std::size_t b) {
            return firstWritten[a] < firstWritten[b];
        });
        std::vector<long long> number(colours.size());
        bool nonFinite = false;
        for (std::size_t rank = 0; rank < byUse.size(); ++rank) {
            number[byUse[rank]] = static_cast<long long>(rank);
            float rgb[3];
            std::memcpy(rgb, colours[byUse[rank]].c, sizeof rgb);
            nonFinite = nonFinite || !std::isfinite(rgb[0]) || !std::isfinite(rgb[1]) ||
                        !std::isfinite(rgb[2]);
            result.mtl += "newmtl colour_" + std::to_string(rank) + "\nKd " + floatText(rgb[0]) +
                          " " + floatText(rgb[1]) + " " + floatText(rgb[2]) + "\n";
        }
        for (auto& entry : materials)
            entry.second = number[static_cast<std::size_t>(entry.second)];
        return nonFinite;
    }

    void formatPoints(std::size_t begin, std::size_t end, detail::TextBuffer& out) const {
        if (begin == 0 && cd >= 0) {
            char* at = out.room(mtlName.size() + 8);
            at = put(at, "mtllib ");
            at = put(at, mtlName);
            *at++ = '\n';
            out.advance(at);
        }
        const std::vector<UT_Vector3>& points = geo.points();
        for (std::size_t i = begin; i < end; ++i) {
            const UT_Vector3& p = points[i];
            char* at = out.room(3 * detail::kFloatChars + 8);
            *at++ = 'v';
            *at++ = ' ';
            at = detail::putFloat(at, p.x());
            *at++ = ' ';
            at = detail::putFloat(at, p.y());
            *at++ = ' ';
            at = detail::putFloat(at, p.z());
            *at++ = '\n';
            out.advance(at);
        }
    }

    // Faces at written positions [begin, end), carrying on from the face before `begin` as if
    // everything before had been written by the same loop.
    void formatFaces(std::size_t begin, std::size_t end, detail::TextBuffer& out) const {
        const GB_PrimitiveList& list = geo.primitives();
        MaterialCache cache;
        std::size_t run = 0;
        // No face has been written yet: the first face needs a `g` line, unless no face has a
        // group and the file has no `g` line at all.
        unsigned currentSet = faceGroups.sets.size() > 1 ? kNoSet : 0;
        long long currentMaterial = -1;
        if (begin > 0) {
            currentSet = setAt(begin - 1, run);
            if (cd >= 0)
                currentMaterial = materialOf(faceAt(begin - 1), cache);
        }
        for (std::size_t at = begin; at < end; ++at) {
            if (!keepOrder && at + 2 * kAhead < end)
                __builtin_prefetch(list(order[at + 2 * kAhead]));
            if (!keepOrder && at + kAhead < end)
                prefetchFace(order[at + kAhead]);
            const unsigned face = faceAt(at);
            const unsigned set = setAt(at, run);
            if (set != currentSet) {
                putGroupLine(set, out);
                currentSet = set;
            }
            if (cd >= 0) {
                const long long material = materialOf(face, cache);
                if (material != currentMaterial) {
                    currentMaterial = material;
                    char* line = out.room(40);
                    line = put(line, "usemtl colour_");
                    line = detail::putNumber(line, static_cast<unsigned long long>(material));
                    *line++ = '\n';
                    out.advance(line);
                }
            }
            const GB_Primitive& prim = *list(face);
            const unsigned* vertices = geo.primitiveVertices(prim);
            char* line = out.room(2 + 21 * std::size_t{prim.vertexCount});
            *line++ = 'f';
            for (unsigned v = 0; v < prim.vertexCount; ++v) {
                *line++ = ' ';
                line = detail::putNumber(line, vertices[v] + 1ull);
            }
            *line++ = '\n';
            out.advance(line);
        }
    }

    // Faces written set by set lie scattered in memory; waiting for each one's vertices and
    // colour would take most of the time, so they are asked for a few faces ahead, in two
    // steps: the primitive first, and once it has come, what it points to.
    static constexpr std::size_t kAhead = 16;
    void prefetchFace(unsigned face) const {
        const GB_Primitive* prim = geo.primitives()(face);
        if (cd >= 0)
            __builtin_prefetch(geo.primitiveAttribData(face) + cd);
        __builtin_prefetch(geo.primitiveVertices(*prim));
    }

    unsigned faceAt(std::size_t at) const {
        return keepOrder ? static_cast<unsigned>(at) : order[at];
    }

    // The set of the face written at `at`; `run` is where to look from and is moved on, so a
    // walk forward costs one step per face.
    unsigned setAt(std::size_t at, std::size_t& run) const {
        if (keepOrder)
            return faceGroups.faceSet[at];
        if (runs[run].end <= at) {
            run = static_cast<std::size_t>(
                std::upper_bound(runs.begin() + static_cast<std::ptrdiff_t>(run), runs.end(), at,
                                 [](std::size_t a, const SetRun& r) { return a < r.end; }) -
                runs.begin());
        }
        return runs[run].set;
    }

    long long materialOf(unsigned face, MaterialCache& cache) const {
        ColourBits bits;
        std::memcpy(bits.c, geo.primitiveAttribData(face) + cd, sizeof bits.c);
        if (!cache.filled || !(bits == cache.colour))
            cache = {bits, materials.find(bits)->second, true};
        return cache.number;
    }

    void putGroupLine(unsigned set, detail::TextBuffer& out) const {
        const std::vector<unsigned>& groups = faceGroups.sets[set];
        std::size_t size = 3 + ungroupedName.size();
        for (const unsigned g : groups)
            size += 1 + groupNames[g].size();
        char* at = out.room(size);
        *at++ = 'g';
        for (const unsigned g : groups) {
            *at++ = ' ';
            at = put(at, groupNames[g]);
        }
        if (groups.empty()) {
            *at++ = ' ';
            at = put(at, ungroupedName);
        }
        *at++ = '\n';
        out.advance(at);
    }

    static char* put(char* at, std::string_view text) {
        std::memcpy(at, text.data(), text.size());
        return at + text.size();
    }

    // A copy: the text may be written after the caller's detail is gone. It shares the caller's
    // points, primitives and records rather than copying them.
    const GU_Detail geo;
    const std::string mtlName;
    const std::string name;
    const int cd;
    const bool keepOrder;
    const std::size_t faceCount;
    ObjText result;
    const std::vector<std::string> groupNames;
    // The `g` line of faces in no group, in a file where other faces have groups: a bare `g`
    // would join them to the group before in readers that keep the last group for an empty line.
    static constexpr unsigned kNoSet = ~0u;
    const std::string ungroupedName;
    // faceSet is kept only with keepOrder; otherwise `runs` tells the set at each position.
    FaceGroupSets faceGroups;
    std::vector<unsigned> order;  // the faces in the order they are written; empty with keepOrder
    std::vector<SetRun> runs;     // sets in the order they are written; empty with keepOrder
    std::unordered_map<ColourBits, long long, ColourBitsHash> materials;  // colour -> number
};

}  // namespace

ObjStream streamObj(const GU_Detail& geo, const std::string& mtlFileName, const std::string& name,
                    bool keepOrder) {
    auto plan = std::make_shared<ObjPlan>(geo, mtlFileName, name, keepOrder);
    ObjStream stream;
    stream.mtl = plan->described().mtl;
    stream.warnings = plan->described().warnings;
    stream.writeObj = [plan](const TextSink& sink) { plan->write(sink); };
    return stream;
}

ObjText writeObj(const GU_Detail& geo, const std::string& mtlFileName, const std::string& name,
                 bool keepOrder) {
    ObjStream stream = streamObj(geo, mtlFileName, name, keepOrder);
    ObjText result{std::string(), std::move(stream.mtl), std::move(stream.warnings)};
    stream.writeObj([&result](std::string_view piece) { result.obj.append(piece); });
    return result;
}

}  // namespace hueslice::io
