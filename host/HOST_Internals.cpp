#include <algorithm>
#include <cstring>

#include "HOST_Internals.h"

std::size_t HOST_Internals::detailBytes(const GB_Detail& detail) {
    std::size_t names = 0;
    for (const GB_PrimitiveGroup* g : detail.primGroups.groups())
        names += sizeof(GB_PrimitiveGroup) + std::strlen(g->getName());
    const GB_Detail::Geometry& g = *detail.geo;
    return g.pointPositions.capacity() * sizeof(UT_Vector3) +
           g.primList.pool.capacity() * sizeof(GB_Primitive) +
           g.primList.holes.capacity() * sizeof(long long) +
           g.vertexPoints.capacity() * sizeof(unsigned) +
           g.vertexStarts.capacity() * sizeof(std::size_t) + g.primData.capacity() +
           g.recordOrder.capacity() * sizeof(std::size_t) + groupBytes(detail) + names;
}

void HOST_Internals::makeHole(GB_Detail& detail, long long index) {
    if (index < 0 || index >= detail.primitiveCount())
        return;
    std::vector<long long>& holes = detail.writable().primList.holes;
    const auto at = std::lower_bound(holes.begin(), holes.end(), index);
    if (at == holes.end() || *at != index)
        holes.insert(at, index);
}

void HOST_Internals::reverseRecords(GB_Detail& detail) {
    GB_Detail::Geometry& g = detail.writable();
    const auto size = static_cast<std::size_t>(g.primDict.recordSize());
    const std::size_t count = g.primList.pool.size();
    std::vector<unsigned char> moved(g.primData.size());
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) {
        order[i] = count - 1 - g.recordOf(i);
        if (size > 0)
            std::memcpy(moved.data() + order[i] * size, g.primList.pool[i].record, size);
    }
    g.primData.swap(moved);
    g.recordOrder.swap(order);
    g.relinkRecords();
}
