#include <algorithm>
#include <cstring>

#include "HOST_Internals.h"

std::size_t HOST_Internals::detailBytes(const GB_Detail& detail) {
    std::size_t names = 0;
    for (const GB_PrimitiveGroup* g : detail.primGroups.groups())
        names += sizeof(GB_PrimitiveGroup) + std::strlen(g->getName());
    return detail.pointPositions.capacity() * sizeof(UT_Vector3) +
           detail.primList.pool.capacity() * sizeof(GB_Primitive) +
           detail.primList.holes.capacity() * sizeof(long long) +
           detail.vertexPoints.capacity() * sizeof(unsigned) +
           detail.vertexStarts.capacity() * sizeof(std::size_t) + detail.primData.capacity() +
           detail.recordOrder.capacity() * sizeof(std::size_t) + groupBytes(detail) + names;
}

void HOST_Internals::makeHole(GB_Detail& detail, long long index) {
    std::vector<long long>& holes = detail.primList.holes;
    const auto at = std::lower_bound(holes.begin(), holes.end(), index);
    if (index >= 0 && index < detail.primList.entries() && (at == holes.end() || *at != index))
        holes.insert(at, index);
}

void HOST_Internals::reverseRecords(GB_Detail& detail) {
    const auto size = static_cast<std::size_t>(detail.primDict.recordSize());
    const std::size_t count = detail.primList.pool.size();
    std::vector<unsigned char> moved(detail.primData.size());
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) {
        order[i] = count - 1 - detail.recordOf(i);
        if (size > 0)
            std::memcpy(moved.data() + order[i] * size, detail.primList.pool[i].record, size);
    }
    detail.primData.swap(moved);
    detail.recordOrder.swap(order);
    detail.relinkRecords();
}
