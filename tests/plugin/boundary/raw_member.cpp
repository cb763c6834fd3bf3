// Adding a member by number skips the primitive the host hands out.
#include <GB_Detail.h>

void probe(GB_PrimitiveGroup& group) {
    group.addIndex(3);
}
