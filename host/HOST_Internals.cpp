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
           g.primList.elements.capacity() * sizeof(GB_Primitive*) +
           g.vertexPoints.capacity() * sizeof(unsigned) + g.primData.capacity() +
           groupBytes(detail) + names;
}

void HOST_Internals::makeHole(GB_Detail& detail, long long index) {
    if (index >= 0 && index < detail.primitiveCount())
        detail.writable().primList.elements[static_cast<std::size_t>(index)] = nullptr;
}

void HOST_Internals::reverseRecords(GB_Detail& detail) {
    GB_Detail::Geometry& g = detail.writable();
    const auto size = static_cast<std::size_t>(g.primDict.recordSize());
    const std::size_t count = g.primList.pool.size();
    std::vector<unsigned char> moved(g.primData.size());
    for (GB_Primitive& prim : g.primList.pool) {
        const std::size_t slot = count - 1 - prim.recordSlot;
        if (size > 0)
            std::memcpy(moved.data() + slot * size, prim.record, size);
        prim.recordSlot = slot;
    }
    g.primData.swap(moved);
    g.relinkRecords();
}
