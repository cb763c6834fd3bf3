#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include <UT_Vector3.h>

namespace hueslice {

// Multiplies a component by 255 (exactly, in double), truncates toward zero to 64 bits, keeps
// the low 32 bits as a signed integer and returns that as a float. NaN, infinities and products
// of magnitude 2^63 or more give 0; nothing is clamped.
inline float quantise(float component) {
    const double product = static_cast<double>(component) * 255.0;
    // Almost every colour lands here, where the low 32 bits are the whole truncated value.
    if (std::fabs(product) < 2147483648.0) {
        return static_cast<float>(static_cast<std::int32_t>(product));
    }
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (!(std::fabs(product) < kTwoTo63))
        return 0.0f;  // also NaN
    const std::uint64_t bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(product));
    const std::uint32_t low = static_cast<std::uint32_t>(bits);
    // Two's-complement reading of the low word, spelled out to stay well defined.
    const std::int32_t value =
        low <= 0x7fffffffu
            ? static_cast<std::int32_t>(low)
            : static_cast<std::int32_t>(static_cast<std::int64_t>(low) - 4294967296LL);
    return static_cast<float>(value);
}

inline UT_Vector3 quantiseKey(const UT_Vector3& c) {
    return UT_Vector3(quantise(c[0]), quantise(c[1]), quantise(c[2]));
}

// Hashing and equality for colour keys. Two keys are the same colour when all three floats are
// equal (so -0.0 and +0.0 agree), or when they are identical bit for bit (so a NaN colour equals
// itself and nothing else). The hash folds -0.0 into +0.0 so that it agrees with both.
struct ColourKeyHash {
    std::size_t operator()(const UT_Vector3& c) const {
        std::uint64_t h = 0x9e3779b97f4a7c15ull;
        for (int i = 0; i < 3; ++i) {
            const float f = c[i] == 0.0f ? 0.0f : c[i];
            std::uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            h = (h ^ bits) * 0xff51afd7ed558ccdull;
            h ^= h >> 29;
        }
        return static_cast<std::size_t>(h);
    }
};

struct SameColour {
    bool operator()(const UT_Vector3& a, const UT_Vector3& b) const {
        if (a[0] == b[0] && a[1] == b[1] && a[2] == b[2])
            return true;
        return std::memcmp(&a, &b, sizeof(UT_Vector3)) == 0;
    }
};

// Hashing for quantised keys only. They hold whole numbers (never -0.0 or NaN), so equal keys
// have equal bits and no folding is needed; the three products are independent, which keeps the
// per-primitive lookup of the cook short.
struct QuantisedKeyHash {
    std::size_t operator()(const UT_Vector3& c) const {
        std::uint32_t bits[3];
        std::memcpy(bits, &c, sizeof bits);
        const std::uint64_t h = bits[0] * 0x9e3779b97f4a7c15ull ^ bits[1] * 0xc2b2ae3d27d4eb4full ^
                                bits[2] * 0x165667b19e3779f9ull;
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
};

// Maps colours to the index of the first one inserted that is the same colour, by open
// addressing with linear probing in one flat array: no allocation per colour and one cache line
// per lookup in the common case. Equal must be an equivalence that Hash agrees with.
template <typename Hash = ColourKeyHash, typename Equal = SameColour>
class ColourIndex {
  public:
    static constexpr std::uint32_t kMissing = 0xffffffffu;

    // Room for `expected` colours without growing.
    explicit ColourIndex(std::size_t expected = 0) { rehash(capacityFor(expected)); }

    // The value of the colour's first insertion, or kMissing.
    std::uint32_t find(const UT_Vector3& colour) const {
        for (std::size_t i = hash(colour) & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots[i];
            if (slot.value == kMissing)
                return kMissing;
            if (equal(slot.colour, colour))
                return slot.value;
        }
    }

    // Adds the colour with `value` unless the same colour is already there. Returns the value
    // the colour maps to afterwards and whether it was added.
    std::pair<std::uint32_t, bool> insert(const UT_Vector3& colour, std::uint32_t value) {
        if ((count + 1) * 2 > slots.size())
            rehash(slots.size() * 2);
        std::size_t i = hash(colour) & mask;
        for (; slots[i].value != kMissing; i = (i + 1) & mask) {
            if (equal(slots[i].colour, colour))
                return {slots[i].value, false};
        }
        slots[i] = Slot{colour, value};
        ++count;
        return {value, true};
    }

    std::size_t size() const { return count; }

  private:
    struct Slot {
        UT_Vector3 colour;
        std::uint32_t value = kMissing;
    };

    // A power of two at least twice `expected`, so probes stay short.
    static std::size_t capacityFor(std::size_t expected) {
        std::size_t capacity = 16;
        while (capacity < expected * 2)
            capacity *= 2;
        return capacity;
    }

    void rehash(std::size_t capacity) {
        std::vector<Slot> old(capacity);
        old.swap(slots);
        mask = capacity - 1;
        for (const Slot& slot : old) {
            if (slot.value == kMissing)
                continue;
            std::size_t i = hash(slot.colour) & mask;
            while (slots[i].value != kMissing)
                i = (i + 1) & mask;
            slots[i] = slot;
        }
    }

    std::vector<Slot> slots;
    std::size_t mask = 0;
    std::size_t count = 0;
    Hash hash;
    Equal equal;
};

}  // namespace hueslice
