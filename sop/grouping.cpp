#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <GU_Group.h>

#include "colour_attribute.h"
#include "colour_key.h"
#include "grouping.h"

namespace hueslice {

namespace {

void buildGroups(GU_Detail& detail, const std::vector<Entry>& entries, UT_Vector3Array& colourTable,
                 UT_PtrArray<GB_PrimitiveGroup*>& groupTable) {
    colourTable.setEntries(0);
    groupTable.setEntries(0);
    for (const Entry& entry : entries) {
        const long long slot = groupTable.insert(groupTable.entries());
        if (entry.enabled) {
            groupTable(slot) = detail.primitiveGroups().newGroup(entry.name.buffer(), 0);
        }
        colourTable.append(quantiseKey(entry.colour));
    }
}

constexpr std::uint32_t kNoGroup = 0xffffffffu;

void addPrimitives(GU_Detail& detail, int colourOffset, const std::vector<Entry>& entries,
                   const UT_Vector3Array& colourTable,
                   const UT_PtrArray<GB_PrimitiveGroup*>& groupTable) {
    const long long count = colourTable.entries();
    // Only the first entry with a key is ever considered, so it alone goes into the index.
    ColourIndex<QuantisedKeyHash> firstEntry(static_cast<std::size_t>(count));
    for (long long i = 0; i < count; ++i) {
        firstEntry.insert(colourTable(i), static_cast<std::uint32_t>(i));
    }

    // The group each entry adds to, decided once per entry rather than once per primitive, as
    // a position in `groups`: entries sharing a name share one group and one member list.
    std::vector<GB_PrimitiveGroup*> groups;
    std::unordered_map<const GB_PrimitiveGroup*, std::uint32_t> positionOf;
    std::vector<std::uint32_t> target(static_cast<std::size_t>(count), kNoGroup);
    for (long long i = 0; i < count; ++i) {
        const Entry& entry = entries[static_cast<std::size_t>(i)];
        GB_PrimitiveGroup* group = groupTable(i);
        if (!group || !entry.enabled || entry.name.isEmpty())
            continue;
        const auto placed = positionOf.emplace(group, static_cast<std::uint32_t>(groups.size()));
        if (placed.second)
            groups.push_back(group);
        target[static_cast<std::size_t>(i)] = placed.first->second;
    }
    const auto prims = static_cast<unsigned>(detail.primitiveCount());
    if (groups.empty() || prims == 0)
        return;

    // Members are gathered in ascending order in the groups' own storage (kept by the detail
    // from the last cook) and handed back whole: the same groups as adding one by one, without
    // touching each group per primitive or allocating.
    std::vector<std::vector<unsigned>> members(groups.size());
    for (std::size_t g = 0; g < groups.size(); ++g)
        members[g] = groups[g]->takeStorage();

    // The records are contiguous and primitive p is the p-th of the list, so the scan walks the
    // records with a stride instead of asking the detail for each one.
    const auto stride = static_cast<std::size_t>(detail.primitiveAttribs().recordSize());
    const unsigned char* record = detail.primitiveAttribData(0) + colourOffset;
    // Neighbouring primitives usually share a colour: the same raw bits give the same key, so
    // a repeat skips the quantising and the lookup.
    float last[3] = {0.0f, 0.0f, 0.0f};
    std::uint32_t lastTarget = kNoGroup;
    for (unsigned p = 0; p < prims; ++p, record += stride) {
        float raw[3];
        std::memcpy(raw, record, sizeof raw);
        if (p == 0 || std::memcmp(raw, last, sizeof raw) != 0) {
            std::memcpy(last, raw, sizeof raw);
            const std::uint32_t entry =
                firstEntry.find(quantiseKey(UT_Vector3(raw[0], raw[1], raw[2])));
            lastTarget = entry == decltype(firstEntry)::kMissing ? kNoGroup : target[entry];
        }
        if (lastTarget != kNoGroup)
            members[lastTarget].push_back(p);
    }
    for (std::size_t g = 0; g < groups.size(); ++g) {
        groups[g]->assignSorted(std::move(members[g]));
    }
}

void removeAndIsolate(GU_Detail& detail, const std::vector<Entry>& entries,
                      UT_PtrArray<GB_PrimitiveGroup*>& groupTable) {
    // Entries sharing a name share a group; once destroyed it must not be touched again.
    std::unordered_set<const GB_PrimitiveGroup*> destroyed;
    for (long long i = 0; i < groupTable.entries(); ++i) {
        const Entry& entry = entries[static_cast<size_t>(i)];
        GB_PrimitiveGroup*& slot = groupTable(i);
        if (slot && destroyed.count(slot))
            slot = nullptr;
        if (slot && entry.enabled && entry.name == "") {
            destroyed.insert(slot);
            detail.destroyGroup(slot);
            slot = nullptr;
        }
        if (entry.isolate)
            hideOtherGroups(detail, slot);
    }
    if (destroyed.empty())
        return;
    for (long long i = 0; i < groupTable.entries(); ++i) {
        if (destroyed.count(groupTable(i)))
            groupTable(i) = nullptr;
    }
}

}  // namespace

void hideOtherGroups(GU_Detail& detail, const GB_PrimitiveGroup* shown) {
    GU_PrimGroup hidden(&detail, kHiddenGroupName);
    GB_Group* h = hidden.group();
    if (!h)
        return;
    if (shown) {
        detail.primitiveGroups().assignEqual(h, shown);
    } else {
        h->clear();
    }
    hidden.boolean(GU_GROUP_SUBTRACT, h, true, h, false);
}

void groupByColour(GU_Detail& detail, int colourOffset, const std::vector<Entry>& entries,
                   UT_Vector3Array& colourTable, UT_PtrArray<GB_PrimitiveGroup*>& groupTable) {
    buildGroups(detail, entries, colourTable, groupTable);
    addPrimitives(detail, colourOffset, entries, colourTable, groupTable);
    removeAndIsolate(detail, entries, groupTable);
}

}  // namespace hueslice
