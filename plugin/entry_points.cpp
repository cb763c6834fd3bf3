#include <OP_Node.h>

#include "build_tag.h"
#include "parms/parm_templates.h"
#include "sop/SOP_Hueslice.h"

// The three entry points the host finds by name. Everything else in the library is hidden.
#define HUESLICE_EXPORT extern "C" __attribute__((visibility("default")))

HUESLICE_EXPORT void HoudiniDSOVersion(const char** version) {
    if (version)
        *version = "7.0";
}

HUESLICE_EXPORT void HoudiniGetTagInfo(const char** tag) {
    if (tag)
        *tag = hueslice::kBuildTag;
}

// Adds the operator type to the host's table, which owns it from then on.
HUESLICE_EXPORT void newSopOperator(OP_OperatorTable* table) {
    if (!table)
        return;
    table->addOperator(new OP_Operator("hueslice", "Hueslice", hueslice::constructNode,
                                       hueslice::parmTemplates, 1, 1, nullptr, 0, nullptr));
}
