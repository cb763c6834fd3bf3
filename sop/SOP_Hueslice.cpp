#include <vector>

#include <OP_Node.h>

#include "../parms/parm_templates.h"
#include "SOP_Hueslice.h"
#include "colour_attribute.h"
#include "entry_tokens.h"
#include "grouping.h"

namespace hueslice {

namespace {

// Every parameter read of the cook is at time 0, whatever time the host cooks at.
constexpr fpreal kParmTime = 0.0;

std::vector<Entry> readEntries(const OP_Parameters& parms) {
    const int count = parms.evalInt(kNumEntriesToken, 0, kParmTime);
    std::vector<Entry> entries;
    if (count < 1)
        return entries;
    entries.resize(static_cast<size_t>(count));
    const EntryTokens tokens;
    for (int i = 1; i <= count; ++i) {
        Entry& entry = entries[static_cast<size_t>(i - 1)];
        parms.evalStringInst(tokens.group, &i, entry.name, 0, kParmTime, 1);
        entry.enabled = parms.evalIntInst(tokens.enable, &i, 0, kParmTime, 1) != 0;
        entry.isolate = parms.evalIntInst(tokens.isolate, &i, 0, kParmTime, 1) != 0;
        for (int c = 0; c < 3; ++c) {
            entry.colour[c] =
                static_cast<float>(parms.evalFloatInst(tokens.colour, &i, c, kParmTime, 1));
        }
    }
    return entries;
}

}  // namespace

SOP_Hueslice::SOP_Hueslice(OP_Network* parent, const char* name, OP_Operator* op)
    : SOP_Node(parent, name, op) {}

// Members go in reverse order of declaration: the group table's storage first (the groups stay
// with the detail), then the colour table, then the base node.
SOP_Hueslice::~SOP_Hueslice() = default;

const char* SOP_Hueslice::describeInput(unsigned index) const {
    return index == 0 ? "Geometry with colours" : "WTF?";
}

UT_ErrorSeverity SOP_Hueslice::cookGeometry(OP_Context& context) {
    if (lockInputs(context) >= UT_ERROR_ABORT)
        return error();
    duplicateSource(0, context, gdp, 1);
    cookedDetail = gdp;

    UT_String firstName;
    const int first = 1;
    evalStringInst(kGroupPattern, &first, firstName, 0, kParmTime, 1);
    const int offset = resolveColourAttribute(*gdp).offset;
    // An empty first name is how a fresh node says "only copy"; an absent one does not stop.
    if (!firstName.isEmpty() && offset >= 0) {
        groupByColour(*gdp, offset, readEntries(*this), colourTable, groupTable);
    }
    unlockInputs();
    return error();
}

OP_Node* constructNode(OP_Network* parent, const char* name, OP_Operator* op) {
    return new SOP_Hueslice(parent, name, op);
}

}  // namespace hueslice
