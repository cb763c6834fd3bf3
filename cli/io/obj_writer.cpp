#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "io/internal.h"
#include "io/io.h"
#include "io/text_out.h"

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
// the materials, the MTL text and the warnings. Working it out takes one cheap pass, so the
// MTL and the warnings are known before the OBJ text is made.
class ObjPlan {
  public:
    ObjPlan(const GU_Detail& detail, const std::string& mtlFileName, const std::string& fileName,
            bool keepOrder)
        : geo(detail),
          mtlName(mtlFileName),
          name(fileName),
          cd(detail::colourOffset(detail)),
          groupNames(objGroupNames(detail, fileName, result.warnings)),
          faceGroups(detail.primitiveGroups().groups(),
                     static_cast<std::size_t>(detail.primitiveCount())) {
        const GB_PrimitiveList& list = geo.primitives();
        orderFaces(keepOrder);
        bool nonFinite = false;
        for (const UT_Vector3& p : geo.points()) {
            nonFinite = nonFinite || !std::isfinite(p.x()) || !std::isfinite(p.y()) ||
                        !std::isfinite(p.z());
        }
        // One walk in written order, which scatters over memory: faces checked, materials
        // numbered by first use.
        for (const unsigned i : order) {
            if (!list(i) || list(i)->vertexCount == 0) {
                throw OutputError(name + ": primitive " + std::to_string(i) +
                                  " has no vertices, which obj cannot carry");
            }
            float rgb[3];
            if (cd >= 0 && materialOf(i, rgb).second) {
                nonFinite = nonFinite || !std::isfinite(rgb[0]) || !std::isfinite(rgb[1]) ||
                            !std::isfinite(rgb[2]);
                result.mtl += "newmtl colour_" + std::to_string(materials.size() - 1) + "\nKd " +
                              floatText(rgb[0]) + " " + floatText(rgb[1]) + " " +
                              floatText(rgb[2]) + "\n";
            }
        }
        if (nonFinite) {
            result.warnings.push_back(name +
                                      ": some positions or colours are not finite numbers; " +
                                      "other programs may not read them back");
        }
    }

    // The MTL text and the warnings; `obj` is left empty.
    const ObjText& described() const { return result; }

    void write(const TextSink& sink) {
        detail::TextOut obj(sink);
        const GB_PrimitiveList& list = geo.primitives();
        const long long primCount = geo.primitiveCount();
        const unsigned long long total = geo.points().size() + static_cast<std::size_t>(primCount);
        unsigned long long done = 0;
        if (cd >= 0) {
            obj.put("mtllib ");
            obj.put(mtlName);
            obj.put('\n');
        }
        for (const UT_Vector3& p : geo.points()) {
            obj.put("v ");
            obj.putFloat(p.x());
            obj.put(' ');
            obj.putFloat(p.y());
            obj.put(' ');
            obj.putFloat(p.z());
            obj.put('\n');
            if (++done % detail::kProgressStep == 0)
                detail::reportProgress(done, total);
        }
        // No face has been written yet: the first face with groups needs a `g` line.
        unsigned currentSet = 0;
        long long currentMaterial = -1;
        for (const unsigned i : order) {
            const GB_Primitive& prim = *list(i);
            const unsigned set = faceGroups.faceSet[i];
            if (set != currentSet) {
                obj.put('g');
                for (unsigned g : faceGroups.sets[set]) {
                    obj.put(' ');
                    obj.put(groupNames[g]);
                }
                obj.put('\n');
                currentSet = set;
            }
            if (cd >= 0) {
                float rgb[3];
                const long long material = materialOf(i, rgb).first;
                if (material != currentMaterial) {
                    currentMaterial = material;
                    obj.put("usemtl colour_");
                    obj.putNumber(material);
                    obj.put('\n');
                }
            }
            obj.put('f');
            const unsigned* vertices = geo.primitiveVertices(prim);
            for (unsigned v = 0; v < prim.vertexCount; ++v) {
                obj.put(' ');
                obj.putNumber(vertices[v] + 1ull);
            }
            obj.put('\n');
            if (++done % detail::kProgressStep == 0)
                detail::reportProgress(done, total);
        }
        obj.flush();
    }

  private:
    // Faces with the same set of groups are written together, sets in order of first use and
    // faces in input order within a set, so that each set gets one `g` line and readers that
    // make one mesh per `g` line make one per set; `keepOrder` keeps the input order instead.
    void orderFaces(bool keepOrder) {
        const std::vector<unsigned>& faceSet = faceGroups.faceSet;
        order.resize(faceSet.size());
        if (keepOrder) {
            for (std::size_t i = 0; i < order.size(); ++i)
                order[i] = static_cast<unsigned>(i);
            return;
        }
        constexpr std::size_t kUnseen = static_cast<std::size_t>(-1);
        std::vector<std::size_t> start(faceGroups.sets.size(), kUnseen);  // by set, then place
        std::vector<std::size_t> count;                                   // by rank of first use
        for (const unsigned set : faceSet) {
            if (start[set] == kUnseen) {
                start[set] = count.size();
                count.push_back(0);
            }
            ++count[start[set]];
        }
        std::size_t next = 0;
        for (std::size_t& c : count) {
            const std::size_t n = c;
            c = next;
            next += n;
        }
        for (std::size_t& s : start) {
            if (s != kUnseen)
                s = count[s];
        }
        for (std::size_t i = 0; i < faceSet.size(); ++i)
            order[start[faceSet[i]]++] = static_cast<unsigned>(i);
    }

    // Primitive i's colour in `rgb`, its material number (by first use), and whether that
    // material is new. Runs of one colour cost no lookup.
    std::pair<long long, bool> materialOf(long long i, float rgb[3]) {
        std::memcpy(rgb, geo.primitiveAttribData(i) + cd, 3 * sizeof(float));
        ColourBits bits;
        std::memcpy(bits.c, rgb, sizeof bits.c);
        if (haveLast && bits == lastColour)
            return {lastMaterial, false};
        const auto found = materials.emplace(bits, static_cast<long long>(materials.size()));
        lastColour = bits;
        lastMaterial = found.first->second;
        haveLast = true;
        return {lastMaterial, found.second};
    }

    // A copy: the text may be written after the caller's detail is gone. It shares the caller's
    // points, primitives and records rather than copying them.
    const GU_Detail geo;
    const std::string mtlName;
    const std::string name;
    const int cd;
    ObjText result;
    const std::vector<std::string> groupNames;
    const FaceGroupSets faceGroups;
    std::vector<unsigned> order;  // the faces in the order they are written
    std::unordered_map<ColourBits, long long, ColourBitsHash> materials;
    ColourBits lastColour{};
    long long lastMaterial = 0;
    bool haveLast = false;
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
