// Records need not lie at a fixed stride: a plug-in has no record size to walk them by.
#include <GB_Detail.h>

int probe(const GB_Detail& detail) {
    return detail.primitiveAttribs().recordSize();
}
