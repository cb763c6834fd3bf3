#pragma once

#include <string>
#include <vector>

#include "report.h"

namespace hueslice::cli {

// Warnings about entries whose colours quantise to the same key as an earlier entry's, so that
// the cook gives them no primitives: one line per key, naming the first entry with that key and
// every later enabled, named entry with a different group name, e.g. "entries 12 and 13 quantise
// alike: entry 13 gets no primitives". Lines come in the order of their first entry; past a
// screenful the rest are summed up in one last line.
std::vector<std::string> colourCollisions(const std::vector<GroupRow>& rows);

}  // namespace hueslice::cli
