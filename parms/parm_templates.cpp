#include <OP_Node.h>
#include <SOP_Node.h>

#include "../sop/SOP_Hueslice.h"
#include "parm_templates.h"

namespace hueslice {

// These records are built at load in the order they stand here and destroyed in reverse. The
// host keeps their addresses, so they are never copied or changed.

PRM_ChoiceList groupMenu(static_cast<PRM_ChoiceListType>(1), buildGroupMenu);

PRM_Name parmNames[8] = {
    PRM_Name(kInitialiseToken, "Initialise", 0),
    PRM_Name(kSortToken, "Sort", 0),
    PRM_Name(kNumEntriesToken, "Number of groups", 0),
    PRM_Name(kEnablePattern, "Enable grouping", 0),
    PRM_Name(kColourPattern, "Colour", 0),
    PRM_Name(kGroupPattern, "Group", 0),
    PRM_Name(kIsolatePattern, "Hide other groups", 0),
    PRM_Name(nullptr, nullptr, 0),
};

PRM_Template entryTemplates[5] = {
    PRM_Template(PRM_Type(0x40000101), 1, &parmNames[3], PRMoneDefaults, nullptr, nullptr, nullptr,
                 nullptr, 1, nullptr),
    PRM_Template(PRM_Type(0x101), 1, &parmNames[6], PRMzeroDefaults, nullptr, nullptr, nullptr,
                 nullptr, 1, nullptr),
    PRM_Template(PRM_Type(0xc0000232), 3, &parmNames[4], PRMoneDefaults, nullptr, nullptr, nullptr,
                 nullptr, 1, nullptr),
    PRM_Template(PRM_Type(0x80000003), 1, &parmNames[5], nullptr, &groupMenu, nullptr, nullptr,
                 nullptr, 1, nullptr),
    PRM_Template(PRM_Type(0), 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr),
};

PRM_Template parmTemplates[4] = {
    PRM_Template(PRM_Type(0x201), 1, &parmNames[0], nullptr, nullptr, nullptr, initialiseCallback,
                 nullptr, 1, nullptr),
    PRM_Template(PRM_Type(0x201), 1, &parmNames[1], nullptr, nullptr, nullptr, sortCallback,
                 nullptr, 1, nullptr),
    PRM_Template(static_cast<PRM_MultiType>(0), entryTemplates, 2.0f, &parmNames[2], PRMoneDefaults,
                 nullptr, 1),
    PRM_Template(PRM_Type(0), 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr),
};

void buildGroupMenu(void* data, PRM_Name* menu, int size, const PRM_SpareData*, PRM_Parm* parm) {
    SOP_Node* sop = data ? static_cast<OP_Node*>(data)->castToSOPNode() : nullptr;
    if (sop) {
        sop->buildInputGroups(0, menu, size, 2u, 0, false, parm);
        return;
    }
    menu[0].setToken(nullptr);
    menu[0].setLabel(nullptr);
}

}  // namespace hueslice
