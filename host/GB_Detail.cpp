#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "GB_Detail.h"

int GB_AttributeDict::getOffset(const char* name, int size, int type) const {
    const GB_Attribute* a = find(name);
    return a && a->size == size && a->type == type ? a->offset : -1;
}

const GB_Attribute* GB_AttributeDict::find(const char* name) const {
    if (!name)
        return nullptr;
    for (const GB_Attribute& a : list) {
        if (a.name == name)
            return &a;
    }
    return nullptr;
}

int GB_AttributeDict::add(const char* name, int size, int type) {
    if (!name || !*name || size <= 0 || (type != GB_ATTRIB_FLOAT && type != GB_ATTRIB_INT)) {
        return -1;
    }
    if (const GB_Attribute* a = find(name)) {
        return a->size == size && a->type == type ? a->offset : -1;
    }
    list.push_back(GB_Attribute{name, size, type, bytes});
    bytes += size;
    return list.back().offset;
}

void GB_Group::addOutOfOrder(unsigned primIndex) {
    if (hashed) {
        unordered.insert(primIndex);
        return;
    }
    if (std::binary_search(ordered.begin(), ordered.end(), primIndex))
        return;
    // Out of order: a sorted array would need an O(n) insert, so switch to a hash set.
    unordered.insert(ordered.begin(), ordered.end());
    unordered.insert(primIndex);
    ordered.clear();
    ordered.shrink_to_fit();
    hashed = true;
}

bool GB_Group::contains(unsigned primIndex) const {
    return hashed ? unordered.count(primIndex) != 0
                  : std::binary_search(ordered.begin(), ordered.end(), primIndex);
}

std::vector<unsigned> GB_Group::members() const {
    if (!hashed)
        return ordered;
    std::vector<unsigned> sorted(unordered.begin(), unordered.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

void GB_Group::clear() {
    ordered.clear();
    unordered.clear();
    hashed = false;
}

void GB_Group::assignSorted(std::vector<unsigned> sorted) {
    unordered.clear();
    hashed = false;
    ordered = std::move(sorted);
}

std::size_t GB_Group::memoryBytes() const {
    // A hash node holds the value and a next pointer; buckets hold one pointer each.
    return ordered.capacity() * sizeof(unsigned) +
           unordered.size() * (sizeof(unsigned) + 2 * sizeof(void*)) +
           unordered.bucket_count() * sizeof(void*);
}

GB_PrimitiveGroup* GB_GroupList::newGroup(const char* name, int) {
    if (!name || !*name) {
        if (!namelessGroups)
            return nullptr;
        name = "";
    }
    if (GB_PrimitiveGroup* existing = find(name)) {
        existing->clear();
        return existing;
    }
    return append(name);
}

GB_PrimitiveGroup* GB_GroupList::append(const char* name) {
    if (kept.empty()) {
        order.push_back(std::make_unique<GB_PrimitiveGroup>(name));
    } else {
        // The oldest kept group: a recook recreates its groups in the order it destroyed them,
        // so each gets back storage sized for it last time.
        order.splice(order.end(), kept, kept.begin());
        order.back()->name = name;
    }
    byName.emplace(name, std::prev(order.end()));
    return order.back().get();
}

GB_PrimitiveGroup* GB_GroupList::find(const char* name) const {
    if (!name)
        return nullptr;
    const auto found = byName.find(name);
    return found == byName.end() ? nullptr : found->second->get();
}

bool GB_GroupList::assignEqual(GB_Group* dst, const GB_Group* src) {
    if (!dst || !src)
        return false;
    if (dst != src)
        dst->assignSorted(src->members());
    return true;
}

std::vector<GB_PrimitiveGroup*> GB_GroupList::groups() const {
    std::vector<GB_PrimitiveGroup*> result;
    result.reserve(order.size());
    for (const auto& g : order)
        result.push_back(g.get());
    return result;
}

bool GB_GroupList::owns(const GB_Group* group) const {
    if (!group)
        return false;
    const auto found = byName.find(group->getName());
    return found != byName.end() && found->second->get() == group;
}

std::size_t GB_GroupList::memoryBytes() const {
    std::size_t bytes = 0;
    for (const GroupStore* store : {&order, &kept}) {
        for (const auto& g : *store)
            bytes += g->memoryBytes();
    }
    return bytes;
}

bool GB_GroupList::destroy(const GB_Group* group) {
    if (!owns(group)) {
        // A real host would be handed freed memory here; the stand-in counts it for tests.
        strayDestroys += group != nullptr;
        return false;
    }
    const auto found = byName.find(group->getName());
    (*found->second)->clear();
    kept.splice(kept.end(), order, found->second);
    byName.erase(found);
    return true;
}

void GB_GroupList::copyFrom(const GB_GroupList& other) {
    if (&other == this)
        return;
    for (const auto& g : order)
        g->clear();
    kept.splice(kept.end(), order);
    byName.clear();
    for (const auto& g : other.order) {
        GB_PrimitiveGroup* copy = append(g->getName());
        // Assignment reuses the kept group's member storage where it is large enough.
        *copy = *g;
    }
}

bool GB_PrimitiveList::isHole(long long i) const {
    return std::binary_search(holes.begin(), holes.end(), i);
}

GB_Detail::Geometry::Geometry(const Geometry& other)
    : pointPositions(other.pointPositions),
      primList(other.primList),
      vertexPoints(other.vertexPoints),
      vertexStarts(other.vertexStarts),
      sameCount(other.sameCount),
      primDict(other.primDict),
      primData(other.primData),
      recordOrder(other.recordOrder) {
    relinkRecords();
}

void GB_Detail::Geometry::relinkRecords() {
    const auto size = static_cast<std::size_t>(primDict.recordSize());
    unsigned char* base = primData.data();
    for (std::size_t i = 0; i < primList.pool.size(); ++i)
        primList.pool[i].record = base + recordOf(i) * size;
}

GB_Detail::GB_Detail() : geo(std::make_shared<Geometry>()) {}

GB_Detail::GB_Detail(const GB_Detail& other) : geo(other.geo) {
    *this = other;
}

GB_Detail::~GB_Detail() = default;

GB_Detail& GB_Detail::operator=(const GB_Detail& other) {
    if (this == &other)
        return *this;
    geo = other.geo;
    detailDict = other.detailDict;
    detailData = other.detailData;
    primGroups.copyFrom(other.primGroups);
    return *this;
}

GB_Detail::Geometry& GB_Detail::writable() {
    // Every record pointer of the storage points into the storage, so a copy is relinked as it
    // is made and nothing outside it has to follow.
    if (geo.use_count() > 1)
        geo = std::make_shared<Geometry>(*geo);
    return *geo;
}

void GB_Detail::clearAndDestroy() {
    *this = GB_Detail();
    primGroups.releaseKept();
}

long long GB_Detail::appendPoint(const UT_Vector3& pos) {
    writable().pointPositions.push_back(pos);
    return pointCount() - 1;
}

long long GB_Detail::appendPrimitive(const unsigned* pointIndices, unsigned count) {
    Geometry& g = writable();
    const std::size_t number = g.primList.pool.size();
    const auto size = static_cast<std::size_t>(g.primDict.recordSize());
    if (number == 0)
        g.sameCount = count;
    if (g.vertexStarts.empty() && count != g.sameCount) {
        // The first primitive of another size: every start is written out from now on.
        g.vertexStarts.reserve(g.primList.pool.capacity());
        for (std::size_t i = 0; i < number; ++i)
            g.vertexStarts.push_back(i * g.sameCount);
    }
    if (!g.vertexStarts.empty())
        g.vertexStarts.push_back(g.vertexPoints.size());
    g.vertexPoints.insert(g.vertexPoints.end(), pointIndices, pointIndices + count);
    if (!g.recordOrder.empty())
        g.recordOrder.push_back(number);
    // Growth moves the storage now and then (amortised O(1) per primitive); the links follow.
    const bool recordsMove = g.primData.size() + size > g.primData.capacity();
    g.primData.resize(g.primData.size() + size, 0);
    g.primList.pool.push_back(GB_Primitive{static_cast<unsigned>(number), count, nullptr});
    if (recordsMove) {
        g.relinkRecords();
    } else {
        g.primList.pool.back().record = g.primData.data() + number * size;
    }
    return static_cast<long long>(number);
}

namespace {

// Asks the kernel to back the whole 2 MiB pages of a vector's reserved storage with huge pages.
// A reader that reserves a big detail then fills it takes one fault per 2 MiB instead of one per
// 4 KiB, which at millions of primitives is much of the time it spends reading. Only advice:
// where the kernel has no huge pages to give, nothing changes.
template <typename Vector>
void adviseHugePages(const Vector& v) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
    const auto begin = reinterpret_cast<std::uintptr_t>(v.data());
    const std::uintptr_t end = begin + v.capacity() * sizeof(typename Vector::value_type);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = end & ~(kHugePage - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)v;
#endif
}

}  // namespace

void GB_Detail::reservePoints(std::size_t count) {
    Geometry& g = writable();
    g.pointPositions.reserve(count);
    adviseHugePages(g.pointPositions);
}

void GB_Detail::reservePrimitives(std::size_t prims, std::size_t vertices) {
    Geometry& g = writable();
    const auto size = static_cast<std::size_t>(g.primDict.recordSize());
    const bool recordsMove = prims * size > g.primData.capacity();
    g.primList.pool.reserve(prims);
    if (!g.vertexStarts.empty())
        g.vertexStarts.reserve(prims);
    g.vertexPoints.reserve(vertices);
    g.primData.reserve(prims * size);
    adviseHugePages(g.primList.pool);
    adviseHugePages(g.vertexPoints);
    adviseHugePages(g.primData);
    if (recordsMove)
        g.relinkRecords();
}

namespace {

// Widens every record of `data` from `oldSize` to `newSize` bytes, zero-filling the new tail.
void widenRecords(std::vector<unsigned char>& data, std::size_t count, std::size_t oldSize,
                  std::size_t newSize) {
    std::vector<unsigned char> widened(count * newSize, 0);
    for (std::size_t i = 0; i < count && oldSize > 0; ++i) {
        std::memcpy(&widened[i * newSize], &data[i * oldSize], oldSize);
    }
    data.swap(widened);
}

}  // namespace

int GB_Detail::addPrimitiveAttrib(const char* name, int size, int type) {
    Geometry& g = writable();
    const int oldSize = g.primDict.recordSize();
    const int offset = g.primDict.add(name, size, type);
    if (offset >= 0 && g.primDict.recordSize() != oldSize) {
        widenRecords(g.primData, g.primList.pool.size(), static_cast<std::size_t>(oldSize),
                     static_cast<std::size_t>(g.primDict.recordSize()));
        g.relinkRecords();
    }
    return offset;
}

int GB_Detail::addDetailAttrib(const char* name, int size, int type) {
    const int offset = detailDict.add(name, size, type);
    if (offset >= 0)
        detailData.resize(static_cast<std::size_t>(detailDict.recordSize()), 0);
    return offset;
}

void GB_Detail::destroyGroup(GB_Group* group) {
    primGroups.destroy(group);
}
