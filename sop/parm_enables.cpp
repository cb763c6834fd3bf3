#include "../parms/parm_templates.h"
#include "SOP_Hueslice.h"

namespace hueslice {

int SOP_Hueslice::updateParmEnables() {
    constexpr fpreal kParmTime = 0.0;
    const int count = evalInt(kNumEntriesToken, 0, kParmTime);

    bool isolating = false;
    for (int i = 1; i <= count; ++i) {
        if (evalIntInst(kIsolatePattern, &i, 0, kParmTime, 1) != 0) isolating = true;
    }
    if (count < 1) return 0;

    // The entry tokens come from the name records, in record order: enable, colour, group,
    // isolate.
    const char* enableToken = parmNames[3].getToken();
    const char* dependentTokens[] = {parmNames[4].getToken(), parmNames[5].getToken(),
                                     parmNames[6].getToken()};
    // Outside isolation each entry's own enable toggle controls its other parameters; in
    // isolation its isolate toggle does, and no enable toggle can be edited.
    const char* controlPattern = isolating ? kIsolatePattern : kEnablePattern;

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
