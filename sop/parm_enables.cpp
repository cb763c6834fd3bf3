#include "../parms/parm_templates.h"
#include "SOP_Hueslice.h"
#include "entry_tokens.h"

namespace hueslice {

int SOP_Hueslice::updateParmEnables() {
    constexpr fpreal kParmTime = 0.0;
    const int count = evalInt(kNumEntriesToken, 0, kParmTime);

    const EntryTokens tokens;
    bool isolating = false;
    for (int i = 1; i <= count; ++i) {
        if (evalIntInst(tokens.isolate, &i, 0, kParmTime, 1) != 0) {
            isolating = true;
            break;
        }
    }
    if (count < 1)
        return 0;

    const char* enableToken = tokens.enable;
    const char* dependentTokens[] = {tokens.colour, tokens.group, tokens.isolate};
    // Outside isolation each entry's own enable toggle controls its other parameters; in
    // isolation its isolate toggle does, and no enable toggle can be edited.
    const char* controlPattern = isolating ? tokens.isolate : tokens.enable;

    int sum = 0;
    for (int i = 1; i <= count; ++i) {
        sum += enableParmInst(enableToken, &i, isolating ? 0 : 1, 1, -1);
        // Enabling changes no value, so one read of the toggle serves the entry's parameters.
        const int state = evalIntInst(controlPattern, &i, 0, kParmTime, 1);
        for (const char* token : dependentTokens) {
            sum += enableParmInst(token, &i, state, 1, -1);
        }
    }
    return sum;
}

}  // namespace hueslice
