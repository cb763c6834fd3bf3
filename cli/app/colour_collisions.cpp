#include "colour_collisions.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include <sop/colour_key.h>

namespace hueslice::cli {

namespace {

constexpr std::size_t kMaxLines = 20;
constexpr std::size_t kMaxListed = 6;

// "13", "13 and 14", "13, 14 and 15", or the first few and "and 94 more".
std::string listOf(const std::vector<int>& entries) {
    const std::size_t shown = std::min(entries.size(), kMaxListed);
    std::string text;
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0)
            text += i + 1 == shown && shown == entries.size() ? " and " : ", ";
        text += std::to_string(entries[i]);
    }
    if (shown < entries.size())
        text += " and " + std::to_string(entries.size() - shown) + " more";
    return text;
}

std::string collisionLine(const GroupRow& first, const std::vector<int>& later) {
    std::vector<int> all{first.entry};
    all.insert(all.end(), later.begin(), later.end());
    std::string line = "entries " + listOf(all) +
                       " quantise alike: " + (later.size() == 1 ? "entry " : "entries ") +
                       listOf(later) + (later.size() == 1 ? " gets" : " get") + " no primitives";
    // Only the first entry of a key is looked at, whatever its state.
    if (!first.enabled) {
        line += " (entry " + std::to_string(first.entry) + " is disabled)";
    } else if (first.name.empty()) {
        line += " (entry " + std::to_string(first.entry) + " has no group name)";
    }
    return line;
}

}  // namespace

std::vector<std::string> colourCollisions(const std::vector<GroupRow>& rows) {
    ColourIndex<QuantisedKeyHash, SameColour> firstWithKey(rows.size());
    std::vector<std::pair<std::uint32_t, int>> shadowed;  // (first row, later entry)
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const GroupRow& row = rows[i];
        const UT_Vector3 key = quantiseKey(UT_Vector3(row.colour[0], row.colour[1], row.colour[2]));
        const auto [first, added] = firstWithKey.insert(key, static_cast<std::uint32_t>(i));
        // A later entry of the same group loses nothing: its primitives land there anyway.
        if (!added && row.enabled && !row.name.empty() && row.name != rows[first].name)
            shadowed.emplace_back(first, row.entry);
    }
    std::stable_sort(shadowed.begin(), shadowed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    std::vector<std::string> lines;
    std::size_t keys = 0;
    for (std::size_t start = 0; start < shadowed.size();) {
        std::size_t end = start;
        std::vector<int> later;
        while (end < shadowed.size() && shadowed[end].first == shadowed[start].first)
            later.push_back(shadowed[end++].second);
        if (lines.size() < kMaxLines)
            lines.push_back(collisionLine(rows[shadowed[start].first], later));
        ++keys;
        start = end;
    }
    if (keys > kMaxLines) {
        lines.push_back("and " + std::to_string(keys - kMaxLines) +
                        " more colours that several entries quantise alike");
    }
    return lines;
}

}  // namespace hueslice::cli
