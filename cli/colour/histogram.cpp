#include "histogram.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include "colour_space.h"
#include "parallel_blocks.h"

namespace hueslice::colour {

// Faces are split by their colour into kParts parts, each part counted apart on its own thread
// with a table small enough for the processor's caches, and the parts' bins then follow one
// another. A part sees its faces in face order, so every sum runs in face order, as a single
// pass would add. Colours read from bytes, as nearly every model's are, find their bins by
// their 24-bit code with no search; other colours go by a hash of their bits.

namespace {

constexpr unsigned kPartBits = 6;
constexpr std::size_t kParts = std::size_t{1} << kPartBits;
constexpr std::uint32_t kEmpty = 0xffffffffu;
// What a face's colour is, besides a part number.
constexpr int kNoPart = -1;   // not a finite number: the face is not counted
constexpr int kRefused = -2;  // a colour the way of counting cannot take

bool finiteColour(const float* c) {
    return std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]);
}

// A counted face as its part holds it: its colour as the way of counting keys it.
template <typename Key>
struct Record {
    double weight;
    std::uint32_t face;
    Key key;
};

// Colours of any bits, found in an open-addressing table over a hash of their bits.
struct AnyColours {
    struct Key {
        float rgb[3];
    };
    struct Shared {};

    static std::uint64_t hashOf(const float* rgb) {
        std::uint32_t c[3];
        std::memcpy(c, rgb, sizeof c);
        std::uint64_t h = c[0] * 0x9e3779b97f4a7c15ull;
        h = (h ^ (h >> 29) ^ c[1]) * 0xbf58476d1ce4e5b9ull;
        h = (h ^ (h >> 31) ^ c[2]) * 0x94d049bb133111ebull;
        return h ^ (h >> 32);
    }

    static int partOf(const float* rgb, Key& key) {
        if (!finiteColour(rgb))
            return kNoPart;
        std::memcpy(key.rgb, rgb, sizeof key.rgb);
        return static_cast<int>(hashOf(rgb) >> (64 - kPartBits));
    }

    class Counter {
      public:
        explicit Counter(Shared&) {}

        // The bin of that colour within the part, a new one added to `bins` when there is none.
        std::uint32_t binOf(const Key& key, std::vector<ColourBin>& bins) {
            // Neighbouring faces often share a colour: the last face's bin is tried without
            // hashing.
            if (last == kEmpty || std::memcmp(bins[last].rgb, key.rgb, sizeof key.rgb) != 0)
                last = find(key.rgb, bins);
            return last;
        }

      private:
        std::uint32_t find(const float* rgb, std::vector<ColourBin>& bins) {
            // Kept at most half full, so that probe runs stay short.
            if (2 * (bins.size() + 1) > slots.size())
                grow(bins);
            for (std::size_t slot = hashOf(rgb) & mask;; slot = (slot + 1) & mask) {
                const std::uint32_t bin = slots[slot];
                if (bin == kEmpty) {
                    ColourBin added;
                    std::memcpy(added.rgb, rgb, sizeof added.rgb);
                    bins.push_back(added);
                    return slots[slot] = static_cast<std::uint32_t>(bins.size() - 1);
                }
                if (std::memcmp(bins[bin].rgb, rgb, sizeof(Key::rgb)) == 0)
                    return bin;
            }
        }

        void grow(const std::vector<ColourBin>& bins) {
            const std::size_t size = slots.empty() ? 64 : slots.size() * 2;
            slots.assign(size, kEmpty);
            mask = size - 1;
            for (std::uint32_t bin = 0; bin < bins.size(); ++bin) {
                std::size_t slot = hashOf(bins[bin].rgb) & mask;
                while (slots[slot] != kEmpty)
                    slot = (slot + 1) & mask;
                slots[slot] = bin;
            }
        }

        std::vector<std::uint32_t> slots;  // bin numbers by hash; kEmpty where free
        std::size_t mask = 0;
        std::uint32_t last = kEmpty;  // the bin of the last face counted
    };
};

// Colours whose components are all bytes, keyed by their 24-bit code: a part's table has a slot
// for every code the part can hold, so that no face needs a search or a comparison of colours.
struct ByteColours {
    using Key = std::uint32_t;
    static constexpr unsigned kIndexBits = 24 - kPartBits;
    static constexpr std::uint32_t kIndexMask = (std::uint32_t{1} << kIndexBits) - 1;

    // A multiplication by an odd number is one-to-one on 24 bits and lets every bit of the code
    // move the top bits, which choose the part: similar colours spread over all parts.
    static std::uint32_t mixed(std::uint32_t code) { return (code * 0x9e3779b1u) & 0xffffffu; }

    static int partOf(const float* rgb, Key& code) {
        const int r = byteOfComponent(rgb[0]), g = byteOfComponent(rgb[1]),
                  b = byteOfComponent(rgb[2]);
        if (r < 0 || g < 0 || b < 0)
            return finiteColour(rgb) ? kRefused : kNoPart;
        code = static_cast<std::uint32_t>(r << 16 | g << 8 | b);
        return static_cast<int>(mixed(code) >> kIndexBits);
    }

    // Tables of a slot per index, all kEmpty between uses, handed to the parts being counted.
    class Shared {
      public:
        std::vector<std::uint32_t> take() {
            const std::lock_guard<std::mutex> lock(mutex);
            if (free.empty())
                return std::vector<std::uint32_t>(std::size_t{1} << kIndexBits, kEmpty);
            std::vector<std::uint32_t> table = std::move(free.back());
            free.pop_back();
            return table;
        }
        void give(std::vector<std::uint32_t> table) {
            const std::lock_guard<std::mutex> lock(mutex);
            free.push_back(std::move(table));
        }

      private:
        std::mutex mutex;
        std::vector<std::vector<std::uint32_t>> free;
    };

    class Counter {
      public:
        explicit Counter(Shared& tables) : pool(tables), table(tables.take()) {}
        Counter(const Counter&) = delete;
        Counter& operator=(const Counter&) = delete;
        // The table goes back emptied of this part's codes.
        ~Counter() {
            for (const std::uint32_t code : codes)
                table[mixed(code) & kIndexMask] = kEmpty;
            pool.give(std::move(table));
        }

        std::uint32_t binOf(Key code, std::vector<ColourBin>& bins) {
            std::uint32_t& slot = table[mixed(code) & kIndexMask];
            if (slot == kEmpty) {
                slot = static_cast<std::uint32_t>(bins.size());
                ColourBin added;
                for (int c = 0; c < 3; ++c)
                    added.rgb[c] = static_cast<float>(code >> (16 - 8 * c) & 255) / 255.0f;
                bins.push_back(added);
                codes.push_back(code);
            }
            return slot;
        }

      private:
        Shared& pool;
        std::vector<std::uint32_t> table;
        std::vector<std::uint32_t> codes;  // those of this part's bins
    };
};

// Counts the faces the way `Colours` keys them; false, with `result` unusable, when that way
// refuses a colour.
template <typename Colours>
bool countInParts(const float* rgb, const double* area, std::size_t faces, bool weighByArea,
                  unsigned threads, ColourCount& result) {
    using FaceRecord = Record<typename Colours::Key>;
    result.faceBin.resize(faces);
    std::vector<std::uint8_t> part(faces);
    const std::size_t blocks = blockCount(faces);
    // Each block's faces copied out in the block's own span, grouped by part in face order:
    // segment[block][p] is where part p's group starts.
    std::unique_ptr<FaceRecord[]> records(new FaceRecord[faces]);
    std::vector<std::uint32_t> segment(blocks * (kParts + 1));
    std::atomic<bool> refused{false};
    forEachBlock(faces, threads, [&](std::size_t block, std::size_t begin, std::size_t end) {
        std::uint32_t next[kParts + 1] = {0};
        typename Colours::Key keys[kBlockSize];
        for (std::size_t f = begin; f < end; ++f) {
            const int p = Colours::partOf(rgb + 3 * f, keys[f - begin]);
            if (p == kRefused) {
                refused = true;
                return;
            }
            result.faceBin[f] = p == kNoPart ? ColourCount::kNoBin : 0;
            part[f] = static_cast<std::uint8_t>(p == kNoPart ? 0 : p);
            next[part[f] + 1] += p != kNoPart;
        }
        for (std::size_t p = 1; p <= kParts; ++p)
            next[p] += next[p - 1];
        std::copy(next, next + kParts + 1, &segment[block * (kParts + 1)]);
        FaceRecord* span = records.get() + begin;
        for (std::size_t f = begin; f < end; ++f) {
            if (result.faceBin[f] != ColourCount::kNoBin) {
                span[next[part[f]]++] = FaceRecord{weighByArea ? usableArea(area[f]) : 1.0,
                                                   static_cast<std::uint32_t>(f), keys[f - begin]};
            }
        }
    });
    if (refused)
        return false;

    std::vector<std::vector<ColourBin>> partBins(kParts);
    typename Colours::Shared shared;
    forEachTask(kParts, threads, [&](std::size_t p) {
        typename Colours::Counter counter(shared);
        std::vector<ColourBin>& bins = partBins[p];
        for (std::size_t block = 0; block < blocks; ++block) {
            const std::uint32_t* at = &segment[block * (kParts + 1) + p];
            const FaceRecord* span = records.get() + block * kBlockSize;
            for (std::uint32_t i = at[0]; i < at[1]; ++i) {
                const FaceRecord& record = span[i];
                const std::uint32_t number = counter.binOf(record.key, bins);
                ColourBin& bin = bins[number];
                if (bin.faces++ == 0)
                    bin.firstFace = record.face;
                bin.weight += record.weight;
                result.faceBin[record.face] = number;
            }
        }
    });
    records.reset();

    // Each face's number: its part's first, plus its own within the part.
    std::size_t binBase[kParts] = {0};
    for (std::size_t p = 1; p < kParts; ++p)
        binBase[p] = binBase[p - 1] + partBins[p - 1].size();
    result.bins.reserve(binBase[kParts - 1] + partBins[kParts - 1].size());
    for (std::vector<ColourBin>& bins : partBins) {
        result.bins.insert(result.bins.end(), bins.begin(), bins.end());
        bins = {};
    }
    forEachBlock(faces, threads, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f) {
            if (result.faceBin[f] != ColourCount::kNoBin)
                result.faceBin[f] += static_cast<std::uint32_t>(binBase[part[f]]);
        }
    });
    return true;
}

}  // namespace

double usableArea(double area) {
    return std::isfinite(area) && area > 0 ? area : 0.0;
}

ColourCount countColours(const float* rgb, const double* area, std::size_t faces, bool weighByArea,
                         unsigned threads) {
    ColourCount result;
    if (!countInParts<ByteColours>(rgb, area, faces, weighByArea, threads, result))
        countInParts<AnyColours>(rgb, area, faces, weighByArea, threads, result);
    return result;
}

}  // namespace hueslice::colour
