// A plug-in empties a group with the group operations, not by reaching into it.
#include <GB_Detail.h>

void probe(GB_PrimitiveGroup& group) {
    group.clear();
}
