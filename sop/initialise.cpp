#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <UT_String.h>

#include "../parms/parm_templates.h"
#include "SOP_Hueslice.h"
#include "colour_attribute.h"
#include "compare_colours.h"
#include "distinct_colours.h"
#include "entry_tokens.h"

namespace hueslice {

namespace {
constexpr fpreal kParmTime = 0.0;
}

namespace {

// Colours as bit patterns under which being the same colour is plain bit equality. Without a
// NaN, colours are the same when their floats compare equal, which differs from bit equality
// only in the sign of zero, so -0.0 becomes +0.0. With a NaN, colours are the same only when
// identical, so the bits stay as they are. (A NaN pattern is never the pattern of a number, so
// the two kinds cannot meet.)
struct ColourBits {
    std::uint32_t bits[3];
};

ColourBits sameColourBits(std::uint32_t r0, std::uint32_t r1, std::uint32_t r2) {
    const auto isNan = [](std::uint32_t b) { return (b & 0x7fffffffu) > 0x7f800000u; };
    if (isNan(r0) || isNan(r1) || isNan(r2))
        return ColourBits{{r0, r1, r2}};
    const auto unsignZero = [](std::uint32_t b) { return b == 0x80000000u ? 0u : b; };
    return ColourBits{{unsignZero(r0), unsignZero(r1), unsignZero(r2)}};
}

// A set of three-word bit patterns, by open addressing.
class BitsSet {
  public:
    BitsSet() { slots.resize(1024); }

    // Adds the pattern; true when it was not there yet.
    bool insert(std::uint32_t b0, std::uint32_t b1, std::uint32_t b2) {
        if ((count + 1) * 2 > slots.size())
            grow();
        Slot& slot = slots[place(b0, b1, b2)];
        if (slot.used)
            return false;
        slot = Slot{{b0, b1, b2}, true};
        ++count;
        return true;
    }

  private:
    struct Slot {
        std::uint32_t bits[3] = {0, 0, 0};
        bool used = false;
    };

    // The pattern's slot, or the free slot where it would go.
    std::size_t place(std::uint32_t b0, std::uint32_t b1, std::uint32_t b2) const {
        const std::uint64_t h =
            b0 * 0x9e3779b97f4a7c15ull ^ b1 * 0xc2b2ae3d27d4eb4full ^ b2 * 0x165667b19e3779f9ull;
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = static_cast<std::size_t>(h ^ (h >> 32)) & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots[i];
            if (!slot.used || (slot.bits[0] == b0 && slot.bits[1] == b1 && slot.bits[2] == b2))
                return i;
        }
    }

    [[gnu::noinline]] void grow() {
        std::vector<Slot> old(slots.size() * 2);
        old.swap(slots);
        for (const Slot& slot : old) {
            if (slot.used)
                slots[place(slot.bits[0], slot.bits[1], slot.bits[2])] = slot;
        }
    }

    std::vector<Slot> slots;
    std::size_t count = 0;
};

}  // namespace

void findDistinctColours(const GB_Detail& detail, int colourOffset, UT_Vector3Array& colours) {
    // Raw bit patterns met so far, and the colours (as ColourBits) they stand for. Only a new
    // raw pattern can be a new colour, so the common case, a colour met before, is one lookup
    // of its raw bits; and neighbouring primitives usually share a colour, so a repeat of the
    // last bits needs no lookup at all.
    BitsSet rawSeen;
    BitsSet coloursSeen;
    bool first = true;
    std::uint32_t last[3] = {0, 0, 0};
    forEachPrimitive(detail, [&](const GB_Primitive& prim) {
        std::uint32_t raw[3];
        std::memcpy(raw, prim.getAttribData() + colourOffset, sizeof raw);
        if (!first && raw[0] == last[0] && raw[1] == last[1] && raw[2] == last[2])
            return;
        first = false;
        std::memcpy(last, raw, sizeof last);
        if (!rawSeen.insert(raw[0], raw[1], raw[2]))
            return;
        const ColourBits colour = sameColourBits(raw[0], raw[1], raw[2]);
        if (coloursSeen.insert(colour.bits[0], colour.bits[1], colour.bits[2]))
            colours.append(readPrimitiveColour(prim, colourOffset));
    });
}

void SOP_Hueslice::initialiseColours() {
    forceRecook(true);
    colourTable.setEntries(0);
    if (!cookedDetail)
        return;
    const ColourAttribute attribute = resolveColourAttribute(*cookedDetail);
    if (attribute.offset < 0)
        return;

    findDistinctColours(*cookedDetail, attribute.offset, colourTable);
    const long long count = colourTable.entries();
    setInt(kNumEntriesToken, 0, kParmTime, static_cast<int>(count));
    colourTable.sort(compareColours);

    const EntryTokens tokens;
    for (int i = 1; i <= count; ++i) {
        const UT_Vector3& colour = colourTable(i - 1);
        for (int c = 0; c < 3; ++c)
            setFloatInst(colour[c], tokens.colour, &i, c, kParmTime, 1);
        UT_String name(attribute.prefix);
        name.append("group");
        UT_String number;
        number.itoa(i);
        name.append(number.buffer());
        setStringInst(name, tokens.group, &i, 0, kParmTime, 1);
    }
}

int initialiseCallback(void* data, int, float, const PRM_Template*) {
    static_cast<SOP_Hueslice*>(data)->initialiseColours();
    return 1;
}

}  // namespace hueslice
