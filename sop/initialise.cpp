#include <UT_String.h>

#include "../parms/parm_templates.h"
#include "SOP_Hueslice.h"
#include "colour_attribute.h"
#include "colour_key.h"
#include "compare_colours.h"
#include "distinct_colours.h"

namespace hueslice {

namespace {
constexpr fpreal kParmTime = 0.0;
}

void findDistinctColours(const GB_Detail& detail, int colourOffset, UT_Vector3Array& colours) {
    ColourIndex<> seen;
    // Neighbouring primitives usually share a colour: skip the lookup for a repeat.
    bool haveLast = false;
    UT_Vector3 last;
    forEachPrimitive(detail, [&](const GB_Primitive&, const unsigned char* record) {
        const UT_Vector3 key = readPrimitiveColour(record, colourOffset);
        if (haveLast && SameColour()(key, last)) return;
        last = key;
        haveLast = true;
        if (seen.insert(key, 0).second) colours.append(key);
    });
}

void SOP_Hueslice::initialiseColours() {
    forceRecook(true);
    colourTable.setEntries(0);
    if (!cookedDetail) return;
    const ColourAttribute attribute = resolveColourAttribute(*cookedDetail);
    if (attribute.offset < 0) return;

    findDistinctColours(*cookedDetail, attribute.offset, colourTable);
    const long long count = colourTable.entries();
    setInt(kNumEntriesToken, 0, kParmTime, static_cast<int>(count));
    colourTable.sort(compareColours);

    for (int i = 1; i <= count; ++i) {
        const UT_Vector3& colour = colourTable(i - 1);
        for (int c = 0; c < 3; ++c) setFloatInst(colour[c], kColourPattern, &i, c, kParmTime, 1);
        UT_String name(attribute.prefix);
        name.append("group");
        UT_String number;
        number.itoa(i);
        name.append(number.buffer());
        setStringInst(name, kGroupPattern, &i, 0, kParmTime, 1);
    }
}

int initialiseCallback(void* data, int, float, const PRM_Template*) {
    static_cast<SOP_Hueslice*>(data)->initialiseColours();
    return 1;
}

}  // namespace hueslice
