#include <UT_Color.h>

#include "compare_colours.h"

namespace hueslice {

int compareColours(const UT_Vector3* a, const UT_Vector3* b) {
    const UT_Color colourA(UT_RGB, (*a)[0], (*a)[1], (*a)[2]);
    const UT_Color colourB(UT_RGB, (*b)[0], (*b)[1], (*b)[2]);
    float hA = 0, sA = 0, vA = 0, hB = 0, sB = 0, vB = 0;
    colourA.getHSV(&hA, &sA, &vA);
    colourB.getHSV(&hB, &sB, &vB);
    // Ordered comparisons only: a NaN on either side decides nothing and passes to the next
    // component.
    if (hA < hB)
        return -1;
    if (hA > hB)
        return 1;
    if (sA < sB)
        return -1;
    if (sA > sB)
        return 1;
    if (vA < vB)
        return -1;
    return 1;
}

}  // namespace hueslice
