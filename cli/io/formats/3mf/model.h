#pragma once

// A 3MF model part as the reader holds it between parsing and placing: meshes as flat arrays
// (about 12 bytes a vertex and 28 a triangle, never a document tree), property groups reduced
// to their entry counts and colours, components and build items with their transforms. Not
// part of the public interface.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hueslice::io::detail {

// An attribute the element does not give.
inline constexpr std::uint32_t kAbsent = 0xFFFFFFFFu;

// Row-vector affine transform as 3MF gives it: m[row][3] is the translation.
struct Affine {
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
};

// `outer` applied after `inner`.
Affine compose(const Affine& outer, const Affine& inner);

struct Triangle {
    std::uint32_t v[3];
    std::uint32_t pid = kAbsent;
    std::uint32_t p[3] = {kAbsent, kAbsent, kAbsent};  // p1, p2, p3
};

// A component or a build item: an object of this part, or of the part `path` names.
struct Placement {
    std::uint32_t objectId = 0;
    std::string path;  // empty: the part that holds the reference
    Affine transform;
};

struct Object {
    std::uint32_t id = 0;
    std::string name;
    std::uint32_t pid = kAbsent;
    std::uint32_t pindex = kAbsent;
    bool isMesh = false;
    std::vector<float> vertices;  // x, y, z of each
    std::vector<Triangle> triangles;
    std::vector<Placement> components;
};

// basematerials and colorgroup hold colours; the other property resources only count.
struct PropertyGroup {
    bool hasColours = false;
    std::vector<std::array<float, 3>> colours;  // by entry, when hasColours
    std::size_t entries = 0;
};

struct ModelPart {
    std::string entry;  // the ZIP entry
    std::string label;  // the entry as messages name it (control characters escaped)
    std::string unit = "millimeter";
    std::vector<Object> objects;  // in document order
    std::unordered_map<std::uint32_t, std::size_t> objectById;
    std::unordered_map<std::uint32_t, PropertyGroup> groups;
    std::vector<Placement> items;
};

// Vertices and triangles the parts of one package define, placed or not, summed as they are
// parsed so that a package cannot make the reader hold more than the placement limit allows.
struct DefinedTotals {
    unsigned long long vertices = 0;
    unsigned long long triangles = 0;
};

}  // namespace hueslice::io::detail

namespace hueslice::io::detail {

// The model parts a package's build reaches: the root part first, then each part a component
// or build item names by path, in the order first named.
struct Package {
    std::vector<ModelPart> parts;
    std::unordered_map<std::string, std::size_t> partByEntry;

    // The part that `p`, held by part `from`, names: its own, or the one its path names.
    // parts.size() when the path names a part that was not read.
    std::size_t partOf(std::size_t from, const Placement& p) const;

    // The object `p`, held by part `from`, names, and its part; null when there is none.
    const Object* objectOf(std::size_t from, const Placement& p, std::size_t& part) const;
};

// Throws InputError "NAME: cannot read 3mf: ..." naming the part, object and triangle when a
// triangle of any object uses a vertex its object does not have. Linear in the triangles.
void checkVertexIndices(const Package& package, const std::string& name);

// A path as a ZIP entry name: 3MF paths are absolute within the package.
std::string entryOfPath(const std::string& path);

// An element's or attribute's name without its namespace prefix ("p:path" gives "path"): the
// reader follows what elements are called, as the writers in use spell them, not which
// namespace URI they bind.
std::string_view localName(std::string_view qualified);

}  // namespace hueslice::io::detail
