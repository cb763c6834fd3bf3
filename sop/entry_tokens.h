#pragma once

#include "../parms/parm_templates.h"

namespace hueslice {

// The entry parameters' patterns as the name records hold them: the same text as kEnablePattern
// and the others, but the very pointers of the parameter templates, which the host recognises
// without comparing text. Loops over long lists pass these.
struct EntryTokens {
    const char* enable = parmNames[3].getToken();
    const char* colour = parmNames[4].getToken();
    const char* group = parmNames[5].getToken();
    const char* isolate = parmNames[6].getToken();
};

}  // namespace hueslice
