// Everything the node uses, as plug-in code uses it: this probe must compile.
#include <GU_Group.h>
#include <SOP_Node.h>

int probe(GU_Detail& detail, GB_PrimitiveGroup* shown) {
    const GB_PrimitiveList& list = detail.primitives();
    GB_PrimitiveGroup* group = detail.primitiveGroups().newGroup("g", 0);
    for (long long i = 0; list(i); ++i)
        group->add(list(i));
    GU_PrimGroup hidden(&detail, "3d_hidden_primitives");
    detail.primitiveGroups().assignEqual(hidden.group(), shown);
    hidden.boolean(GU_GROUP_SUBTRACT, hidden.group(), true, hidden.group(), false);
    detail.destroyGroup(group);
    return list(0) ? list(0)->getAttribData()[0] : detail.detailAttribData()[0];
}
