#include <cctype>
#include <set>
#include <vector>

#include "palette.h"
#include "parm_values.h"
#include "report.h"

namespace hueslice::cli {

std::string validGroupName(const std::string& name) {
    std::string valid;
    for (char c : name) {
        const bool kept = std::isalnum(static_cast<unsigned char>(c)) != 0 && (c & 0x80) == 0;
        const char next = kept ? c : '_';
        if (next == '_' && (valid.empty() || valid.back() == '_'))
            continue;
        valid += next;
    }
    if (!valid.empty() && valid.back() == '_')
        valid.pop_back();
    if (!valid.empty() && std::isdigit(static_cast<unsigned char>(valid[0])))
        valid.insert(valid.begin(), '_');
    return valid;
}

void namePaletteGroups(SOP_Node& node, const colour::Reduction& reduction) {
    const std::vector<GroupRow> rows = groupRows(node);
    // The wanted name of each entry, empty for entries that keep theirs.
    std::vector<std::string> wanted(rows.size());
    std::set<std::string> taken;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (const colour::PaletteUse& use : reduction.colours) {
            bool same = !use.colour.name.empty();
            for (int c = 0; same && c < 3; ++c)
                same = rows[i].colour[c] == use.colour.rgb[c] / 255.0f;
            if (same)
                wanted[i] = validGroupName(use.colour.name);
        }
        if (wanted[i].empty())
            taken.insert(rows[i].name);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (wanted[i].empty())
            continue;
        std::string unique = wanted[i];
        for (int number = 2; taken.count(unique); ++number)
            unique = wanted[i] + "_" + std::to_string(number);
        taken.insert(unique);
        applyAssignment(node, "group" + std::to_string(rows[i].entry) + "=" + unique);
    }
}

}  // namespace hueslice::cli
