#include <algorithm>
#include <iterator>
#include <vector>

#include "GU_Group.h"

GU_Group::GU_Group(GU_Detail* owner, unsigned groupMask) : detail(owner), mask(groupMask) {}

bool GU_Group::boolean(GU_GroupBoolOp op, const GB_Group* a, bool negateA, const GB_Group* b,
                       bool negateB) {
    if (!held || !a || !b || !detail)
        return false;
    const unsigned count = static_cast<unsigned>(detail->primitiveCount());
    // Snapshot both operands first: they may alias each other and the result.
    std::vector<bool> inA(count, false), inB(count, false);
    for (unsigned m : a->members()) {
        if (m < count)
            inA[m] = true;
    }
    for (unsigned m : b->members()) {
        if (m < count)
            inB[m] = true;
    }
    std::vector<unsigned> result;
    for (unsigned i = 0; i < count; ++i) {
        const bool x = inA[i] != negateA;
        const bool y = inB[i] != negateB;
        bool keep = false;
        switch (op) {
            case GU_GROUP_SUBTRACT:
                keep = x && !y;
                break;
            case GU_GROUP_UNION:
                keep = x || y;
                break;
            case GU_GROUP_INTERSECT:
                keep = x && y;
                break;
            case GU_GROUP_XOR:
                keep = x != y;
                break;
        }
        if (keep)
            result.push_back(i);
    }
    held->assignSorted(std::move(result));
    return true;
}

GU_PrimGroup::GU_PrimGroup(GU_Detail* owner, const char* name) : GU_Group(owner, 0xFFFFFFFFu) {
    newGroup(name);
}

GB_PrimitiveGroup* GU_PrimGroup::newGroup(const char* name) {
    if (!detail)
        return nullptr;
    GB_PrimitiveGroup* group = detail->primitiveGroups().find(name);
    if (!group)
        group = detail->primitiveGroups().newGroup(name, 0);
    held = group;
    return group;
}
