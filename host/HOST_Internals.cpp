#include <algorithm>
#include <cstring>

#include "HOST_Internals.h"

std::size_t HOST_Internals::detailBytes(const GB_Detail& detail) {
    std::size_t names = 0;
    for (const GB_PrimitiveGroup* g : detail.primGroups.groups())
        names += sizeof(GB_PrimitiveGroup) + std::strlen(g->getName());
    return detail.pointPositions.capacity() * sizeof(UT_Vector3) +
           detail.primList.pool.capacity() * sizeof(GB_Primitive) +
           detail.primList.elements.capacity() * sizeof(GB_Primitive*) +
           detail.vertexPoints.capacity() * sizeof(unsigned) + detail.primData.capacity() +
           groupBytes(detail) + names;
}

void HOST_Internals::makeHole(GB_Detail& detail, long long index) {
    if (index >= 0 && index < detail.primList.entries())
        detail.primList.elements[static_cast<std::size_t>(index)] = nullptr;
}

void HOST_Internals::reverseRecords(GB_Detail& detail) {
    const auto size = static_cast<std::size_t>(detail.primDict.recordSize());
    const std::size_t count = detail.primList.pool.size();
    std::vector<unsigned char> moved(detail.primData.size());
    for (GB_Primitive& prim : detail.primList.pool) {
        const std::size_t slot = count - 1 - prim.recordSlot;
        if (size > 0)
            std::memcpy(moved.data() + slot * size, prim.record, size);
        prim.recordSlot = slot;
    }
    detail.primData.swap(moved);
    detail.relinkRecords();
}
