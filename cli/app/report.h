#pragma once

#include <string>
#include <vector>

#include <SOP_Node.h>
#include <io/io.h>

namespace hueslice::cli {

// One entry of a node's list and what its cook made of it.
struct GroupRow {
    int entry;
    std::string name;
    float colour[3];
    bool enabled;
    long long members;  // -1 when the output has no group of that name
};

// The node's entries, read at time 0, with the member counts of its last cooked output.
std::vector<GroupRow> groupRows(SOP_Node& node);

// The primitives in the output's hidden-primitives group; 0 without one.
long long hiddenCount(const GU_Detail& detail);

// The group table as printed after a cook: one line per entry, then the hidden count.
std::string formatGroupTable(const std::vector<GroupRow>& rows, long long hidden);

// One legend line per distinct group that exists, with the colour of its first entry.
std::vector<io::LegendEntry> legendFor(const std::vector<GroupRow>& rows);

}  // namespace hueslice::cli
