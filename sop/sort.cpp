#include <cstdint>

#include <UT_String.h>
#include <UT_StringArray.h>

#include "../parms/parm_templates.h"
#include "SOP_Hueslice.h"
#include "colour_key.h"
#include "compare_colours.h"
#include "entry_tokens.h"

namespace hueslice {

namespace {
constexpr fpreal kParmTime = 0.0;
}

void SOP_Hueslice::sortColours() {
    UT_StringArray sortedNames;
    UT_Vector3Array unsortedColours;
    UT_String name;
    const EntryTokens tokens;
    colourTable.setEntries(0);

    const int count = evalInt(kNumEntriesToken, 0, kParmTime);
    for (int i = 1; i <= count; ++i) {
        UT_Vector3 colour;
        for (int c = 0; c < 3; ++c) {
            colour[c] = static_cast<float>(evalFloatInst(tokens.colour, &i, c, kParmTime, 1));
        }
        colourTable.append(colour);
        unsortedColours.append(colour);
    }
    colourTable.sort(compareColours);

    // Each colour maps back to the first old entry of that colour. A colour with a NaN equals
    // no float, so it maps to the entry holding exactly its bits, which always exists.
    ColourIndex<> firstOldEntry(static_cast<size_t>(unsortedColours.entries()));
    for (int p = 0; p < unsortedColours.entries(); ++p) {
        firstOldEntry.insert(unsortedColours(p), static_cast<std::uint32_t>(p));
    }

    for (int i = 1; i <= count; ++i) {
        const UT_Vector3& colour = colourTable(i - 1);
        for (int c = 0; c < 3; ++c)
            setFloatInst(colour[c], tokens.colour, &i, c, kParmTime, 1);
        const int oldEntry = static_cast<int>(firstOldEntry.find(colour)) + 1;
        evalStringInst(tokens.group, &oldEntry, name, 0, kParmTime, 1);
        sortedNames.append(name.buffer());
    }
    // Every old name is read before any is written, so any permutation is a clean reordering.
    for (int i = 1; i <= count; ++i) {
        setStringInst(sortedNames(i - 1), tokens.group, &i, 0, kParmTime, 1);
    }
    forceRecook(true);
}

int sortCallback(void* data, int, float, const PRM_Template*) {
    static_cast<SOP_Hueslice*>(data)->sortColours();
    return 1;
}

}  // namespace hueslice
