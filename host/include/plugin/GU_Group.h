#pragma once

#include "GU_Detail.h"
#include "HOST_API.h"

// Boolean operations on groups; the result is (a, negated if asked) op (b, negated if asked).
enum GU_GroupBoolOp {
    GU_GROUP_SUBTRACT = 0,  // a and not b
    GU_GROUP_UNION = 1,
    GU_GROUP_INTERSECT = 2,
    GU_GROUP_XOR = 3,
};

// A handle on one group of a detail, for whole-group operations.
class HOST_API GU_Group {
  public:
    GU_Group(GU_Detail* detail, unsigned mask);
    virtual ~GU_Group() = default;
    GB_Group* group() const { return held; }

    // Puts the combination into the held group. Operands may alias each other and the held
    // group. False (and no change) when nothing is held or an operand is null.
    bool boolean(GU_GroupBoolOp op, const GB_Group* a, bool negateA, const GB_Group* b,
                 bool negateB);

  protected:
    GU_Detail* detail;
    unsigned mask;
    GB_Group* held = nullptr;
};

class HOST_API GU_PrimGroup : public GU_Group {
  public:
    // Holds the primitive group `name` of `detail`, made if missing.
    GU_PrimGroup(GU_Detail* detail, const char* name);
    // Holds the group `name`, made if missing; returns it.
    GB_PrimitiveGroup* newGroup(const char* name);
};
