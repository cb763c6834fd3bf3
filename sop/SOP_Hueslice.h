#pragma once

#include <GU_Detail.h>
#include <OP_Node.h>
#include <SOP_Node.h>
#include <UT_PtrArray.h>
#include <UT_Vector3.h>

class PRM_Template;

namespace hueslice {

// A node that copies its input and puts primitives into named groups by colour, from a list
// of entries (colour, group name, enable and isolate toggles) held in its parameters.
class SOP_Hueslice : public SOP_Node {
  public:
    SOP_Hueslice(OP_Network* parent, const char* name, OP_Operator* op);
    ~SOP_Hueslice() override;

    // Greys entry parameters in and out from the enable and isolate toggles. Returns the sum of
    // what the host's enable calls returned; 0 for an empty list.
    int updateParmEnables() override;
    // "Geometry with colours" for input 0, "WTF?" for any other.
    const char* describeInput(unsigned index) const override;
    UT_ErrorSeverity cookGeometry(OP_Context& context) override;

    // Rebuilds the entry list from the last cooked geometry: one entry per distinct primitive
    // colour, in colour order, with generated names. Toggles are left alone. Always asks for a
    // recook first; changes no parameter when there is no cooked geometry or no colour.
    void initialiseColours();
    // Reorders the entries by colour, carrying each colour's group name along (entries sharing
    // a colour all take the first one's name). Toggles stay with their positions. Asks for a
    // recook last.
    void sortColours();

    const UT_Vector3Array& getColourTable() const { return colourTable; }
    const UT_PtrArray<GB_PrimitiveGroup*>& getGroupTable() const { return groupTable; }
    const GU_Detail* getCookedDetail() const { return cookedDetail; }

  private:
    UT_Vector3Array colourTable;
    UT_PtrArray<GB_PrimitiveGroup*> groupTable;
    GU_Detail* cookedDetail = nullptr;
};

// The operator's node constructor: a new SOP_Hueslice with the host's arguments passed through.
OP_Node* constructNode(OP_Network* parent, const char* name, OP_Operator* op);

// Button callbacks: run the action on the node passed as `data`; always 1.
int initialiseCallback(void* data, int index, float time, const PRM_Template* tmpl);
int sortCallback(void* data, int index, float time, const PRM_Template* tmpl);

}  // namespace hueslice
