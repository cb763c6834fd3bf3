#include <unordered_map>
#include <unordered_set>

#include <GU_Group.h>

#include "colour_attribute.h"
#include "colour_key.h"
#include "grouping.h"

namespace hueslice {

namespace {

// Quantised keys hold whole numbers only (never -0.0 or NaN), so float equality and bit
// equality agree and ColourKeyHash serves as is.
using FirstEntryOfKey = std::unordered_map<UT_Vector3, long long, ColourKeyHash, SameColour>;

void buildGroups(GU_Detail& detail, const std::vector<Entry>& entries,
                 UT_Vector3Array& colourTable, UT_PtrArray<GB_PrimitiveGroup*>& groupTable) {
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

void addPrimitives(GU_Detail& detail, int colourOffset, const std::vector<Entry>& entries,
                   const UT_Vector3Array& colourTable,
                   const UT_PtrArray<GB_PrimitiveGroup*>& groupTable) {
    const long long count = colourTable.entries();
    // Only the first entry with a key is ever considered, so it alone goes into the map.
    FirstEntryOfKey firstEntry;
    firstEntry.reserve(static_cast<size_t>(count));
    for (long long i = 0; i < count; ++i) firstEntry.emplace(colourTable(i), i);

    // The group each entry adds to, decided once per entry rather than once per primitive.
    std::vector<GB_PrimitiveGroup*> target(static_cast<size_t>(count), nullptr);
    for (long long i = 0; i < count; ++i) {
        const Entry& entry = entries[static_cast<size_t>(i)];
        if (entry.enabled && !entry.name.isEmpty()) target[static_cast<size_t>(i)] = groupTable(i);
    }

    // Neighbouring primitives usually share a colour: remember the last lookup.
    bool haveLast = false;
    UT_Vector3 lastKey;
    GB_PrimitiveGroup* lastGroup = nullptr;
    forEachPrimitive(detail, [&](const GB_Primitive& prim, const unsigned char* record) {
        const UT_Vector3 key = quantiseKey(readPrimitiveColour(record, colourOffset));
        if (!haveLast || !SameColour()(key, lastKey)) {
            const auto found = firstEntry.find(key);
            lastGroup = found == firstEntry.end() ? nullptr
                                                  : target[static_cast<size_t>(found->second)];
            lastKey = key;
            haveLast = true;
        }
        if (lastGroup) lastGroup->add(&prim);
    });
}

void removeAndIsolate(GU_Detail& detail, const std::vector<Entry>& entries,
                      UT_PtrArray<GB_PrimitiveGroup*>& groupTable) {
    // Entries sharing a name share a group; once destroyed it must not be touched again.
    std::unordered_set<const GB_PrimitiveGroup*> destroyed;
    for (long long i = 0; i < groupTable.entries(); ++i) {
        const Entry& entry = entries[static_cast<size_t>(i)];
        GB_PrimitiveGroup*& slot = groupTable(i);
        if (slot && destroyed.count(slot)) slot = nullptr;
        if (slot && entry.enabled && entry.name == "") {
            destroyed.insert(slot);
            detail.destroyGroup(slot);
            slot = nullptr;
        }
        if (entry.isolate) hideOtherGroups(detail, slot);
    }
    if (destroyed.empty()) return;
    for (long long i = 0; i < groupTable.entries(); ++i) {
        if (destroyed.count(groupTable(i))) groupTable(i) = nullptr;
    }
}

}  // namespace

void hideOtherGroups(GU_Detail& detail, const GB_PrimitiveGroup* shown) {
    GU_PrimGroup hidden(&detail, kHiddenGroupName);
    GB_Group* h = hidden.group();
    if (!h) return;
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
