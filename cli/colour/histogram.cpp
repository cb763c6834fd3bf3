#include "histogram.h"

#include <cstring>

namespace hueslice::colour {

namespace {

constexpr std::uint32_t kEmpty = 0xffffffffu;

struct Bits {
    std::uint32_t c[3];
};

Bits bitsOf(const float rgb[3]) {
    Bits bits;
    std::memcpy(bits.c, rgb, sizeof bits.c);
    return bits;
}

std::size_t hashOf(const Bits& bits) {
    std::uint64_t h = bits.c[0] * 0x9e3779b97f4a7c15ull;
    h = (h ^ (h >> 29) ^ bits.c[1]) * 0xbf58476d1ce4e5b9ull;
    h = (h ^ (h >> 31) ^ bits.c[2]) * 0x94d049bb133111ebull;
    return static_cast<std::size_t>(h ^ (h >> 32));
}

}  // namespace

std::uint32_t ColourHistogram::add(const float rgb[3], double weight, long long face) {
    // Neighbouring faces often share a colour: the last face's bin is tried without hashing.
    if (last < binList.size() && std::memcmp(binList[last].rgb, rgb, sizeof(Bits::c)) == 0) {
        binList[last].weight += weight;
        ++binList[last].faces;
        return last;
    }
    // Kept at most half full, so that probe runs stay short.
    if (2 * (binList.size() + 1) > slots.size())
        grow();
    const Bits bits = bitsOf(rgb);
    for (std::size_t slot = hashOf(bits) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t bin = slots[slot];
        if (bin == kEmpty) {
            slots[slot] = static_cast<std::uint32_t>(binList.size());
            ColourBin added;
            std::memcpy(added.rgb, rgb, sizeof added.rgb);
            added.weight = weight;
            added.faces = 1;
            added.firstFace = face;
            binList.push_back(added);
            return last = slots[slot];
        }
        if (std::memcmp(binList[bin].rgb, rgb, sizeof bits.c) == 0) {
            binList[bin].weight += weight;
            ++binList[bin].faces;
            return last = bin;
        }
    }
}

void ColourHistogram::grow() {
    const std::size_t size = slots.empty() ? 64 : slots.size() * 2;
    slots.assign(size, kEmpty);
    mask = size - 1;
    for (std::uint32_t bin = 0; bin < binList.size(); ++bin) {
        std::size_t slot = hashOf(bitsOf(binList[bin].rgb)) & mask;
        while (slots[slot] != kEmpty)
            slot = (slot + 1) & mask;
        slots[slot] = bin;
    }
}

}  // namespace hueslice::colour
