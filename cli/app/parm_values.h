#pragma once

#include <string>

#include <OP_Parameters.h>

namespace hueslice::cli {

// Applies one "TOKEN=VALUE" from the command line to `node`, as typed into the dialog at time 0:
// numobj=3, enable2=0, col1=0.5,0,0, group2=red. Throws UsageError naming the assignment for an
// unknown token, a button, or a value of the wrong form.
void applyAssignment(OP_Parameters& node, const std::string& assignment);

// The value of a parameter at time 0 as the dialog shows it: "3", "0.5 0 0", "red", or "(button)";
// "(animated)" is appended when any component has keys.
std::string describeValue(const PRM_Parm& parm);

// The shortest text that reads back to the same double ("nan", "inf", "-inf" too).
std::string numberText(double value);

}  // namespace hueslice::cli
