// Handing a group its member array wholesale is the stand-in's business.
#include <GB_Detail.h>

void probe(GB_PrimitiveGroup& group) {
    group.assignSorted({1, 2});
}
