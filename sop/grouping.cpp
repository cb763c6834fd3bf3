#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
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

// The cook's per-primitive lookup: quantised colour straight to the position of the group the
// primitive joins. Quantised components are whole numbers, never -0.0 or NaN, so two keys are
// the same colour exactly when their bits are equal, and comparing bits is all a probe does.
class TargetIndex {
  public:
    struct Key {
        std::uint32_t bits[3];
    };

    static Key keyOf(const float raw[3]) {
        const float q[3] = {quantise(raw[0]), quantise(raw[1]), quantise(raw[2])};
        Key key;
        std::memcpy(key.bits, q, sizeof key.bits);
        return key;
    }

    explicit TargetIndex(std::size_t expected) {
        std::size_t capacity = 16;
        while (capacity < expected * 2)
            capacity *= 2;
        slots.resize(capacity);
        mask = capacity - 1;
    }

    // Maps the key to `target` unless it is already mapped: the first entry of a colour wins.
    void insert(const Key& key, std::uint32_t target) {
        Slot* slot = probe(key);
        if (slot->target == kEmpty)
            *slot = Slot{{key.bits[0], key.bits[1], key.bits[2]}, target};
    }

    // The target of the key, or kNoGroup.
    std::uint32_t find(const Key& key) const {
        const Slot* slot = probe(key);
        return slot->target == kEmpty ? kNoGroup : slot->target;
    }

  private:
    static constexpr std::uint32_t kEmpty = 0xfffffffeu;  // never a target, nor kNoGroup
    struct Slot {
        std::uint32_t bits[3] = {0, 0, 0};
        std::uint32_t target = kEmpty;
    };

    // The key's slot, or the empty slot where it would go.
    Slot* probe(const Key& key) const {
        const std::uint64_t h = key.bits[0] * 0x9e3779b97f4a7c15ull ^
                                key.bits[1] * 0xc2b2ae3d27d4eb4full ^
                                key.bits[2] * 0x165667b19e3779f9ull;
        for (std::size_t i = static_cast<std::size_t>(h ^ (h >> 32)) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots[i];
            if (slot.target == kEmpty ||
                (slot.bits[0] == key.bits[0] && slot.bits[1] == key.bits[1] &&
                 slot.bits[2] == key.bits[2]))
                return &slot;
        }
    }

    mutable std::vector<Slot> slots;
    std::size_t mask = 0;
};

// Raw colour bits to target. The same raw bits always quantise to the same key, so a target
// found once is exact for every later primitive of that colour, and a hit skips the quantising.
// Raw colours are remembered up to a limit: past it they are looked up every time, so a detail
// with millions of distinct raw colours cannot make the table grow with it.
class RawTargets {
  public:
    explicit RawTargets(std::size_t entries) : limit(std::max<std::size_t>(1024, entries)) {
        int bits = 4;
        while ((std::size_t{1} << bits) < limit * 2)
            ++bits;
        slots.resize(std::size_t{1} << bits);
        mask = slots.size() - 1;
        shift = 64 - bits;
    }

    // The target of the raw colour, given as the bits of its first two floats and of its third,
    // asking `index` when it is new.
    std::uint32_t find(std::uint64_t low, std::uint32_t high, const TargetIndex& index) {
        const std::uint64_t h = low * 0x9e3779b97f4a7c15ull ^ high * 0xc2b2ae3d27d4eb4full;
        for (std::size_t i = static_cast<std::size_t>(h >> shift);; i = (i + 1) & mask) {
            Slot& slot = slots[i];
            if (slot.low == low && slot.high == high && slot.target != kUnused)
                return slot.target;
            if (slot.target == kUnused)
                return remember(slot, low, high, index);
        }
    }

  private:
    static constexpr std::uint32_t kUnused = 0xfffffffeu;  // never a target, nor kNoGroup
    struct Slot {
        std::uint64_t low = 0;
        std::uint32_t high = 0;
        std::uint32_t target = kUnused;
    };

    // Out of line, so that the scan around a hit keeps its values in registers.
    [[gnu::noinline]] std::uint32_t remember(Slot& slot, std::uint64_t low, std::uint32_t high,
                                             const TargetIndex& index) {
        float colour[3];
        std::memcpy(colour, &low, sizeof low);
        std::memcpy(colour + 2, &high, sizeof high);
        const std::uint32_t target = index.find(TargetIndex::keyOf(colour));
        if (count < limit) {
            slot = Slot{low, high, target};
            ++count;
        }
        return target;
    }

    std::size_t limit;
    std::size_t count = 0;
    std::size_t mask = 0;
    int shift = 0;
    std::vector<Slot> slots;
};

// Appends the primitives first .. end - 1 to a member list.
void appendRun(std::vector<unsigned>& members, unsigned first, unsigned end) {
    if (end - first == 1) {
        members.push_back(first);
        return;
    }
    const std::size_t at = members.size();
    members.resize(at + (end - first));
    std::iota(members.begin() + static_cast<std::ptrdiff_t>(at), members.end(), first);
}

void addPrimitives(GU_Detail& detail, int colourOffset, const std::vector<Entry>& entries,
                   const UT_Vector3Array& colourTable,
                   const UT_PtrArray<GB_PrimitiveGroup*>& groupTable) {
    const long long count = colourTable.entries();
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

    // Only the first entry with a key is ever considered, so it alone goes into the index,
    // mapped straight to its group (or to none).
    TargetIndex targetOf(static_cast<std::size_t>(count));
    for (long long i = 0; i < count; ++i) {
        const UT_Vector3& key = colourTable(i);
        const float q[3] = {key[0], key[1], key[2]};
        std::uint32_t bits[3];
        std::memcpy(bits, q, sizeof bits);
        targetOf.insert(TargetIndex::Key{{bits[0], bits[1], bits[2]}},
                        target[static_cast<std::size_t>(i)]);
    }

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
    RawTargets targets(static_cast<std::size_t>(count));
    // Neighbouring primitives usually share a colour, so the scan goes by runs of the same raw
    // bits (and so the same group): one lookup and one append per run, and a tight loop over
    // the run that compares bits and nothing else.
    const auto load = [](const unsigned char* at, auto& word) {
        std::memcpy(&word, at, sizeof word);
    };
    for (unsigned p = 0; p < prims;) {
        std::uint64_t low;
        std::uint32_t high;
        load(record, low);
        load(record + 8, high);
        const std::uint32_t runTarget = targets.find(low, high, targetOf);
        const unsigned first = p;
        for (++p, record += stride; p < prims; ++p, record += stride) {
            std::uint64_t nextLow;
            std::uint32_t nextHigh;
            load(record, nextLow);
            load(record + 8, nextHigh);
            if (nextLow != low || nextHigh != high)
                break;
        }
        if (runTarget != kNoGroup)
            appendRun(members[runTarget], first, p);
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
