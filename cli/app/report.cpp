#include <algorithm>
#include <set>
#include <sstream>

#include "parm_values.h"
#include "report.h"

namespace hueslice::cli {

std::vector<GroupRow> groupRows(SOP_Node& node) {
    std::vector<GroupRow> rows;
    const GU_Detail* out = node.getCookedGeo();
    const int count = node.evalInt("numobj", 0, 0.0);
    for (int i = 1; i <= count; ++i) {
        GroupRow row{i, "", {0, 0, 0}, node.evalIntInst("enable%d", &i, 0, 0.0) != 0, -1};
        UT_String name;
        node.evalStringInst("group%d", &i, name, 0, 0.0);
        row.name = name.buffer() ? name.buffer() : "";
        for (int c = 0; c < 3; ++c) {
            row.colour[c] = static_cast<float>(node.evalFloatInst("col%d", &i, c, 0.0));
        }
        const GB_PrimitiveGroup* group =
            out && !row.name.empty() ? out->primitiveGroups().find(row.name.c_str()) : nullptr;
        if (group)
            row.members = static_cast<long long>(group->entries());
        rows.push_back(row);
    }
    return rows;
}

long long hiddenCount(const GU_Detail& detail) {
    const GB_PrimitiveGroup* hidden = detail.primitiveGroups().find(io::kHiddenGroupName);
    return hidden ? static_cast<long long>(hidden->entries()) : 0;
}

std::string formatGroupTable(const std::vector<GroupRow>& rows, long long hidden) {
    std::vector<std::string> names, colours;
    std::size_t nameWidth = 5, colourWidth = 6;
    for (const GroupRow& row : rows) {
        names.push_back(row.name.empty() ? "(none)" : row.name);
        colours.push_back(io::floatText(row.colour[0]) + " " + io::floatText(row.colour[1]) + " " +
                          io::floatText(row.colour[2]));
        nameWidth = std::max(nameWidth, names.back().size());
        colourWidth = std::max(colourWidth, colours.back().size());
    }
    std::ostringstream text;
    auto pad = [](const std::string& s, std::size_t width) {
        return s + std::string(width > s.size() ? width - s.size() : 0, ' ');
    };
    text << "entry  " << pad("group", nameWidth) << "  " << pad("colour", colourWidth)
         << "  members\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const GroupRow& row = rows[i];
        std::string members = row.members >= 0 ? std::to_string(row.members) : "-";
        if (!row.enabled)
            members += " (disabled)";
        text << pad(std::to_string(row.entry), 5) << "  " << pad(names[i], nameWidth) << "  "
             << pad(colours[i], colourWidth) << "  " << members << "\n";
    }
    text << "hidden primitives: " << hidden << "\n";
    return text.str();
}

std::vector<io::LegendEntry> legendFor(const std::vector<GroupRow>& rows) {
    std::vector<io::LegendEntry> legend;
    std::set<std::string> seen;
    for (const GroupRow& row : rows) {
        if (row.members < 0 || !seen.insert(row.name).second)
            continue;
        io::LegendEntry entry;
        entry.name = row.name;
        std::copy(row.colour, row.colour + 3, entry.swatch);
        entry.members = row.members;
        legend.push_back(entry);
    }
    return legend;
}

}  // namespace hueslice::cli
