#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "HOST_API.h"
#include "UT_Vector3.h"

class GB_Detail;

// Attribute type codes.
enum GB_AttribType { GB_ATTRIB_FLOAT = 0, GB_ATTRIB_INT = 1 };

struct GB_Attribute {
    std::string name;
    int size;    // bytes
    int type;    // GB_AttribType
    int offset;  // bytes into each element's record
};

// Attributes of one kind of element. Every element carries one record in which each attribute
// sits at its offset. Where the records themselves lie is the detail's business: a plug-in
// reaches an element's record through the element.
class HOST_API GB_AttributeDict {
  public:
    // Byte offset of the attribute with exactly this name, size and type; negative otherwise.
    int getOffset(const char* name, int size, int type) const;
    // The attribute of this name, or null.
    const GB_Attribute* find(const char* name) const;
    // Attributes in the order they were added.
    const std::vector<GB_Attribute>& attributes() const { return list; }

  private:
    friend class GB_Detail;
    friend class HOST_Internals;
    int add(const char* name, int size, int type);
    int recordSize() const { return bytes; }

    std::vector<GB_Attribute> list;
    int bytes = 0;
};

// A polygon: its number in the detail, its vertex count and its attribute record. Its vertices
// are the detail's (primitiveVertices).
struct GB_Primitive {
    unsigned index;
    unsigned vertexCount;
    unsigned char* record;  // this primitive's attribute record; set by the detail

    unsigned getNum() const { return index; }
    // The primitive's attribute record: each primitive attribute at its dictionary offset.
    const unsigned char* getAttribData() const { return record; }
    unsigned char* getAttribData() { return record; }
};

// The primitives of a detail in list order. An element may be null (the host's lists can hold
// holes); a walk over the list ends at the first null element.
class HOST_API GB_PrimitiveList {
  public:
    long long entries() const { return static_cast<long long>(pool.size()); }
    // The element at `i`: null when `i` is out of range or the element is a hole.
    const GB_Primitive* operator()(long long i) const {
        if (i < 0 || i >= entries() || (!holes.empty() && isHole(i)))
            return nullptr;
        return &pool[static_cast<std::size_t>(i)];
    }

  private:
    friend class GB_Detail;
    friend class HOST_Internals;
    bool isHole(long long i) const;

    std::vector<GB_Primitive> pool;  // element i is pool[i] unless i is a hole
    std::vector<long long> holes;    // ascending; empty but in tests
};

// A named set of primitives. Storage grows with the members, not with the detail: members are
// a sorted array while they arrive in ascending order (the common case) and a hash set after an
// out-of-order add. Adding in ascending order is inline, since cooks add millions of members.
class HOST_API GB_Group {
  public:
    explicit GB_Group(std::string groupName) : name(std::move(groupName)) {}
    virtual ~GB_Group() = default;
    const char* getName() const { return name.c_str(); }

    // Makes the primitive a member; adding a member again, or null, changes nothing. Amortised
    // O(1); ascending adds append without a search.
    void add(const GB_Primitive* prim) {
        if (prim)
            addIndex(prim->getNum());
    }
    bool contains(unsigned primIndex) const;
    std::size_t entries() const { return hashed ? unordered.size() : ordered.size(); }
    // Members in ascending order.
    std::vector<unsigned> members() const;

  private:
    friend class GB_GroupList;
    friend class GU_Group;
    friend class HOST_Internals;
    void addIndex(unsigned primIndex) {
        if (!hashed && (ordered.empty() || primIndex > ordered.back())) {
            ordered.push_back(primIndex);
        } else {
            addOutOfOrder(primIndex);
        }
    }
    void addOutOfOrder(unsigned primIndex);
    void clear();
    // Replaces the members by `sorted`, which must be ascending without repeats.
    void assignSorted(std::vector<unsigned> sorted);
    // Heap bytes held for the members.
    std::size_t memoryBytes() const;

    // What an ascending add touches comes first, on one cache line.
    std::vector<unsigned> ordered;
    bool hashed = false;
    std::string name;
    std::unordered_set<unsigned> unordered;
};

class HOST_API GB_PrimitiveGroup : public GB_Group {
  public:
    using GB_Group::GB_Group;
};

// The primitive groups of one detail, in creation order, owned by the detail. Groups that are
// destroyed, or dropped by a copy over the list, are kept with their member storage and given
// out again by newGroup and copies: a node that recooks into the same detail then builds its
// groups without allocating.
class HOST_API GB_GroupList {
  public:
    // A new empty group of that name. A name the detail already has gives that group, emptied.
    // A null or empty name gives null: no group can be made without a name.
    GB_PrimitiveGroup* newGroup(const char* name, int unused = 0);
    // The group of that name, or null.
    GB_PrimitiveGroup* find(const char* name) const;
    // Makes `dst`'s members exactly `src`'s; false (and no change) when either is null.
    bool assignEqual(GB_Group* dst, const GB_Group* src);
    // Groups in creation order.
    std::vector<GB_PrimitiveGroup*> groups() const;
    std::size_t entries() const { return byName.size(); }
    bool owns(const GB_Group* group) const;

  private:
    friend class GB_Detail;
    friend class HOST_Internals;
    // Heap bytes held for members, kept groups included.
    std::size_t memoryBytes() const;
    using GroupStore = std::list<std::unique_ptr<GB_PrimitiveGroup>>;
    bool destroy(const GB_Group* group);
    void copyFrom(const GB_GroupList& other);
    // Appends a group of that name to `order`, reusing a kept one when there is one.
    GB_PrimitiveGroup* append(const char* name);
    void releaseKept() { kept.clear(); }

    GroupStore order;
    GroupStore kept;  // destroyed groups, emptied, oldest first
    std::unordered_map<std::string, GroupStore::iterator> byName;
    bool namelessGroups = false;  // a test setting: empty and null names make groups too
    long long strayDestroys = 0;  // destroy calls with a group this list does not own
};

// Geometry: points, polygon primitives, primitive and detail attributes, primitive groups.
// Copies behave as deep copies, groups and holes in the primitive list included. Points,
// primitives, vertices and primitive records are shared between copies until one of them is
// changed, so copying a big detail that is only read afterwards (as a cook copies its input)
// costs neither time nor memory for them.
class HOST_API GB_Detail {
  public:
    GB_Detail();
    GB_Detail(const GB_Detail& other);
    GB_Detail& operator=(const GB_Detail& other);
    virtual ~GB_Detail();

    // What a plug-in uses.

    const GB_PrimitiveList& primitives() const { return geo->primList; }
    const GB_AttributeDict& primitiveAttribs() const { return geo->primDict; }
    const GB_AttributeDict& detailAttribs() const { return detailDict; }
    // The detail's own attribute record.
    const unsigned char* detailAttribData() const { return detailData.data(); }
    GB_GroupList& primitiveGroups() { return primGroups; }
    const GB_GroupList& primitiveGroups() const { return primGroups; }
    // Removes a group this detail owns; null or a foreign group is ignored.
    void destroyGroup(GB_Group* group);

    // Host side: building and reading geometry in host programs.

    void clearAndDestroy();

    long long appendPoint(const UT_Vector3& pos);
    long long pointCount() const { return static_cast<long long>(geo->pointPositions.size()); }
    const std::vector<UT_Vector3>& points() const { return geo->pointPositions; }
    void reservePoints(std::size_t count);

    // Appends a polygon over existing points; its attribute record is zero-filled. Returns its
    // index.
    long long appendPrimitive(const unsigned* pointIndices, unsigned count);
    void reservePrimitives(std::size_t prims, std::size_t vertices);
    // Primitives made, holes in the list included.
    long long primitiveCount() const { return geo->primList.entries(); }
    // Point indices of a primitive's vertices.
    const unsigned* primitiveVertices(const GB_Primitive& prim) const {
        return geo->vertexPoints.data() + geo->vertexStart(prim.index);
    }

    // Adds an attribute, zero-filled on every element; returns its offset. An attribute of the
    // same name, size and type is kept and its offset returned; a clash gives -1.
    int addPrimitiveAttrib(const char* name, int size, int type);
    int addDetailAttrib(const char* name, int size, int type);
    // The attribute record of primitive number `index` (which must exist).
    unsigned char* primitiveAttribData(long long index) {
        return writable().primList.pool[static_cast<std::size_t>(index)].record;
    }
    const unsigned char* primitiveAttribData(long long index) const {
        return geo->primList.pool[static_cast<std::size_t>(index)].record;
    }
    unsigned char* detailAttribData() { return detailData.data(); }

  private:
    friend class HOST_Internals;
    // The storage that copies share. Its own copies are deep, every record pointer pointing
    // into the copy.
    struct Geometry {
        Geometry() = default;
        Geometry(const Geometry& other);
        Geometry& operator=(const Geometry&) = delete;
        // Points every primitive at its record, after the records moved.
        void relinkRecords();
        std::size_t recordOf(std::size_t prim) const {
            return recordOrder.empty() ? prim : recordOrder[prim];
        }
        std::size_t vertexStart(std::size_t prim) const {
            return vertexStarts.empty() ? prim * sameCount : vertexStarts[prim];
        }

        std::vector<UT_Vector3> pointPositions;
        GB_PrimitiveList primList;
        std::vector<unsigned> vertexPoints;
        // Primitive i's run of vertexPoints starts at vertexStarts[i]; while every primitive has
        // the same vertex count (meshes of triangles or quads), vertexStarts stays empty and the
        // run starts at i * sameCount, which saves 8 bytes per primitive.
        std::vector<std::size_t> vertexStarts;
        std::size_t sameCount = 0;
        GB_AttributeDict primDict;
        std::vector<unsigned char> primData;  // primitive records
        // Primitive i's record is record recordOrder[i] of primData; empty when it is record
        // i, as for every detail that the stand-in builds itself.
        std::vector<std::size_t> recordOrder;
    };
    // The storage, made this detail's own first when a copy shares it.
    Geometry& writable();

    std::shared_ptr<Geometry> geo;
    GB_AttributeDict detailDict;
    std::vector<unsigned char> detailData;
    GB_GroupList primGroups;
};
