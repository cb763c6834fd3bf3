#include <cstdint>
#include <vector>

#include <UT_String.h>

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
    UT_Vector3Array unsortedColours;
    const EntryTokens tokens;
    colourTable.setEntries(0);

    // One pass in entry order reads every colour and name, so that nothing is read after the
    // first write and the storage is walked in order rather than at the scattered old positions.
    const int count = evalInt(kNumEntriesToken, 0, kParmTime);
    std::vector<UT_String> oldNames(static_cast<size_t>(count > 0 ? count : 0));
    for (int i = 1; i <= count; ++i) {
        UT_Vector3 colour;
        for (int c = 0; c < 3; ++c) {
            colour[c] = static_cast<float>(evalFloatInst(tokens.colour, &i, c, kParmTime, 1));
        }
        colourTable.append(colour);
        unsortedColours.append(colour);
        evalStringInst(tokens.group, &i, oldNames[static_cast<size_t>(i - 1)], 0, kParmTime, 1);
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
        const size_t oldEntry = firstOldEntry.find(colour);
        setStringInst(oldNames[oldEntry], tokens.group, &i, 0, kParmTime, 1);
    }
    forceRecook(true);
}

int sortCallback(void* data, int, float, const PRM_Template*) {
    static_cast<SOP_Hueslice*>(data)->sortColours();
    return 1;
}

}  // namespace hueslice
