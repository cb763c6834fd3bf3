#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// The cook's per-primitive lookup: quantised colour straight to the entry whose group the
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

// A primitive's colour as stored: the bits of its three floats, read from its own record.
struct RawColour {
    std::uint64_t low;   // red and green
    std::uint32_t high;  // blue

    static RawColour of(const GB_Primitive& prim, int offset) {
        RawColour raw;
        const unsigned char* at = prim.getAttribData() + offset;
        std::memcpy(&raw.low, at, sizeof raw.low);
        std::memcpy(&raw.high, at + sizeof raw.low, sizeof raw.high);
        return raw;
    }
    bool operator==(const RawColour& other) const { return low == other.low && high == other.high; }
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

    // The target of the raw colour, asking `index` when it is new.
    std::uint32_t find(const RawColour& raw, const TargetIndex& index) {
        const std::uint64_t h = raw.low * 0x9e3779b97f4a7c15ull ^ raw.high * 0xc2b2ae3d27d4eb4full;
        for (std::size_t i = static_cast<std::size_t>(h >> shift);; i = (i + 1) & mask) {
            Slot& slot = slots[i];
            if (slot.target == kUnused)
                return remember(slot, raw, index);
            if (slot.raw == raw)
                return slot.target;
        }
    }

  private:
    static constexpr std::uint32_t kUnused = 0xfffffffeu;  // never a target, nor kNoGroup
    struct Slot {
        RawColour raw{0, 0};
        std::uint32_t target = kUnused;
    };

    // Out of line, so that the scan around a hit keeps its values in registers.
    [[gnu::noinline]] std::uint32_t remember(Slot& slot, const RawColour& raw,
                                             const TargetIndex& index) {
        float colour[3];
        std::memcpy(colour, &raw.low, sizeof raw.low);
        std::memcpy(colour + 2, &raw.high, sizeof raw.high);
        const std::uint32_t target = index.find(TargetIndex::keyOf(colour));
        if (count < limit) {
            slot = Slot{raw, target};
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

void addPrimitives(GU_Detail& detail, int colourOffset, const std::vector<Entry>& entries,
                   const UT_Vector3Array& colourTable,
                   const UT_PtrArray<GB_PrimitiveGroup*>& groupTable) {
    const long long count = colourTable.entries();
    // Only the first entry with a key is ever considered, so it alone goes into the index,
    // mapped to itself when it adds primitives to its group, or to no group otherwise.
    TargetIndex targetOf(static_cast<std::size_t>(count));
    bool anyTarget = false;
    for (long long i = 0; i < count; ++i) {
        const Entry& entry = entries[static_cast<std::size_t>(i)];
        const bool adds = groupTable(i) && entry.enabled && !entry.name.isEmpty();
        anyTarget = anyTarget || adds;
        const UT_Vector3& key = colourTable(i);
        const float q[3] = {key[0], key[1], key[2]};
        std::uint32_t bits[3];
        std::memcpy(bits, q, sizeof bits);
        targetOf.insert(TargetIndex::Key{{bits[0], bits[1], bits[2]}},
                        adds ? static_cast<std::uint32_t>(i) : kNoGroup);
    }
    if (!anyTarget)
        return;

    RawTargets targets(static_cast<std::size_t>(count));
    const GB_PrimitiveList& list = detail.primitives();
    long long i = 0;
    for (const GB_Primitive* prim = list(0); prim;) {
        const RawColour run = RawColour::of(*prim, colourOffset);
        const std::uint32_t target = targets.find(run, targetOf);
        GB_PrimitiveGroup* group = target == kNoGroup ? nullptr : groupTable(target);
        // Neighbouring primitives usually share a colour, so the walk goes by runs of the same
        // raw bits: one lookup per run, and a tight loop over the run that compares bits.
        do {
            if (group)
                group->add(prim);
            prim = list(++i);
        } while (prim && RawColour::of(*prim, colourOffset) == run);
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
        // An entry without a live group shows nothing: H and not H empties H, so that the
        // complement below hides every primitive.
        hidden.boolean(GU_GROUP_SUBTRACT, h, false, h, false);
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
