#include "../parms/parm_templates.h"
#include "SOP_Hueslice.h"
#include "entry_tokens.h"

namespace hueslice {

int SOP_Hueslice::updateParmEnables() {
    constexpr fpreal kParmTime = 0.0;
    const int count = evalInt(kNumEntriesToken, 0, kParmTime);

    const EntryTokens tokens;
    // Every entry's toggle is read, also after one that is on: the host sees the same reads
    // whatever the toggles hold.
    bool isolating = false;
    for (int i = 1; i <= count; ++i) {
        if (evalIntInst(tokens.isolate, &i, 0, kParmTime, 1) != 0)
            isolating = true;
    }
    if (count < 1)
        return 0;

    const char* dependentTokens[] = {tokens.colour, tokens.group, tokens.isolate};
    // Outside isolation each entry's own enable toggle controls its other parameters; in
    // isolation its isolate toggle does, and no enable toggle can be edited. The toggle is read
    // afresh for each parameter it controls.
    const char* controlPattern = isolating ? tokens.isolate : tokens.enable;

    int sum = 0;
    for (int i = 1; i <= count; ++i) {
        sum += enableParmInst(tokens.enable, &i, isolating ? 0 : 1, 1, -1);
        for (const char* token : dependentTokens) {
            sum +=
                enableParmInst(token, &i, evalIntInst(controlPattern, &i, 0, kParmTime, 1), 1, -1);
        }
    }
    return sum;
}

}  // namespace hueslice
