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
// with a table small enough for the processor's caches. A part holds its faces in face order,
// so every sum runs in face order, as a single pass would add.

namespace {

constexpr unsigned kPartBits = 6;
constexpr std::size_t kParts = std::size_t{1} << kPartBits;
// A face's byte in the part table: its part number, with these flags.
constexpr std::uint8_t kPartMask = kParts - 1;
constexpr std::uint8_t kFirst = 0x40;       // the first face of its bin
constexpr std::uint8_t kNotCounted = 0x80;  // a colour that is not a finite number
constexpr std::uint32_t kEmpty = 0xffffffffu;

struct Bits {
    std::uint32_t c[3];
};

Bits bitsOf(const float rgb[3]) {
    Bits bits;
    std::memcpy(bits.c, rgb, sizeof bits.c);
    return bits;
}

std::uint64_t hashOf(const Bits& bits) {
    std::uint64_t h = bits.c[0] * 0x9e3779b97f4a7c15ull;
    h = (h ^ (h >> 29) ^ bits.c[1]) * 0xbf58476d1ce4e5b9ull;
    h = (h ^ (h >> 31) ^ bits.c[2]) * 0x94d049bb133111ebull;
    return h ^ (h >> 32);
}

bool finiteColour(const float* c) {
    return std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]);
}

// A counted face as its part holds it.
struct Record {
    double weight;
    float rgb[3];
    std::uint32_t face;
};

// Counts one part's faces, `n` records in face order. Each record's bin number within the part
// goes into localBin, and the first face of each bin is flagged in `part`.
class PartCounter {
  public:
    std::vector<ColourBin> count(const Record* records, std::size_t n, std::uint32_t* localBin,
                                 std::uint8_t* part) {
        for (std::size_t i = 0; i < n; ++i) {
            const Record& record = records[i];
            // Neighbouring faces often share a colour: the last face's bin is tried without
            // hashing.
            std::uint32_t bin = last;
            if (bin == kEmpty || std::memcmp(bins[bin].rgb, record.rgb, sizeof(Bits::c)) != 0)
                bin = find(record.rgb);
            if (bins[bin].faces == 0) {
                bins[bin].firstFace = record.face;
                part[record.face] |= kFirst;
            }
            bins[bin].weight += record.weight;
            ++bins[bin].faces;
            localBin[i] = last = bin;
        }
        return std::move(bins);
    }

  private:
    // The bin of that colour, a new one when there is none.
    std::uint32_t find(const float* colour) {
        // Kept at most half full, so that probe runs stay short.
        if (2 * (bins.size() + 1) > slots.size())
            grow();
        const Bits bits = bitsOf(colour);
        for (std::size_t slot = hashOf(bits) & mask;; slot = (slot + 1) & mask) {
            const std::uint32_t bin = slots[slot];
            if (bin == kEmpty) {
                ColourBin added;
                std::memcpy(added.rgb, colour, sizeof added.rgb);
                bins.push_back(added);
                return slots[slot] = static_cast<std::uint32_t>(bins.size() - 1);
            }
            if (std::memcmp(bins[bin].rgb, colour, sizeof bits.c) == 0)
                return bin;
        }
    }

    void grow() {
        const std::size_t size = slots.empty() ? 64 : slots.size() * 2;
        slots.assign(size, kEmpty);
        mask = size - 1;
        for (std::uint32_t bin = 0; bin < bins.size(); ++bin) {
            std::size_t slot = hashOf(bitsOf(bins[bin].rgb)) & mask;
            while (slots[slot] != kEmpty)
                slot = (slot + 1) & mask;
            slots[slot] = bin;
        }
    }

    std::vector<ColourBin> bins;
    std::vector<std::uint32_t> slots;  // bin numbers by hash; kEmpty where free
    std::size_t mask = 0;
    std::uint32_t last = kEmpty;  // the bin of the last face counted
};

// Where each block's faces of each part go among the parts' records: parts one after another,
// each in face order.
struct Layout {
    std::vector<std::uint32_t> blockStart;  // blocks x kParts
    std::size_t partStart[kParts + 1];
};

}  // namespace

double usableArea(double area) {
    return std::isfinite(area) && area > 0 ? area : 0.0;
}

namespace {

// Colours of any bits: bins in the order of their first faces.
ColourCount countAnyColours(const float* rgb, const double* area, std::size_t faces,
                            bool weighByArea, unsigned threads) {
    ColourCount result;
    result.faceBin.resize(faces);
    std::vector<std::uint8_t> part(faces);
    const std::size_t blocks = blockCount(faces);

    // Each face's part, and how many faces of each part each block holds.
    Layout layout;
    layout.blockStart.assign(blocks * kParts, 0);
    forEachBlock(faces, threads, [&](std::size_t block, std::size_t begin, std::size_t end) {
        std::uint32_t* count = &layout.blockStart[block * kParts];
        for (std::size_t f = begin; f < end; ++f) {
            const float* colour = rgb + 3 * f;
            if (!finiteColour(colour)) {
                part[f] = kNotCounted;
                result.faceBin[f] = ColourCount::kNoBin;
                continue;
            }
            part[f] = static_cast<std::uint8_t>(hashOf(bitsOf(colour)) >> (64 - kPartBits));
            ++count[part[f]];
        }
    });
    std::size_t at = 0;
    for (std::size_t p = 0; p < kParts; ++p) {
        layout.partStart[p] = at;
        for (std::size_t block = 0; block < blocks; ++block) {
            const std::uint32_t n = layout.blockStart[block * kParts + p];
            layout.blockStart[block * kParts + p] = static_cast<std::uint32_t>(at);
            at += n;
        }
    }
    layout.partStart[kParts] = at;
    // Calls visit(f, p, position) for each counted face of the block, in face order, with its
    // part and its place among the records.
    const auto walk = [&](std::size_t block, std::size_t begin, std::size_t end, auto&& visit) {
        std::uint32_t next[kParts];
        std::memcpy(next, &layout.blockStart[block * kParts], sizeof next);
        for (std::size_t f = begin; f < end; ++f) {
            if (!(part[f] & kNotCounted)) {
                const std::size_t p = part[f] & kPartMask;
                visit(f, p, next[p]++);
            }
        }
    };

    // Copied out part by part, so that each part is counted from memory read in order.
    std::unique_ptr<Record[]> records(new Record[at]);
    forEachBlock(faces, threads, [&](std::size_t block, std::size_t begin, std::size_t end) {
        walk(block, begin, end, [&](std::size_t f, std::size_t, std::uint32_t position) {
            Record& record = records[position];
            record.weight = weighByArea ? usableArea(area[f]) : 1.0;
            std::memcpy(record.rgb, rgb + 3 * f, sizeof record.rgb);
            record.face = static_cast<std::uint32_t>(f);
        });
    });
    std::unique_ptr<std::uint32_t[]> localBin(new std::uint32_t[at]);
    std::vector<std::vector<ColourBin>> partBins(kParts);
    forEachTask(kParts, threads, [&](std::size_t p) {
        const std::size_t first = layout.partStart[p];
        partBins[p] = PartCounter().count(records.get() + first, layout.partStart[p + 1] - first,
                                          localBin.get() + first, part.data());
    });
    records.reset();

    // Bins numbered in the order of their first faces: where each block's first faces start,
    // then each bin's number from its first face.
    std::size_t binBase[kParts + 1] = {0};
    for (std::size_t p = 0; p < kParts; ++p)
        binBase[p + 1] = binBase[p] + partBins[p].size();
    std::vector<std::uint32_t> blockFirst(blocks + 1, 0);
    forEachBlock(faces, threads, [&](std::size_t block, std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f)
            blockFirst[block + 1] += (part[f] & (kFirst | kNotCounted)) == kFirst;
    });
    for (std::size_t block = 0; block < blocks; ++block)
        blockFirst[block + 1] += blockFirst[block];
    std::vector<std::uint32_t> numberOf(binBase[kParts]);
    result.bins.resize(binBase[kParts]);
    forEachBlock(faces, threads, [&](std::size_t block, std::size_t begin, std::size_t end) {
        std::uint32_t number = blockFirst[block];
        walk(block, begin, end, [&](std::size_t f, std::size_t p, std::uint32_t position) {
            if (part[f] & kFirst) {
                numberOf[binBase[p] + localBin[position]] = number;
                result.bins[number++] = partBins[p][localBin[position]];
            }
        });
    });
    forEachBlock(faces, threads, [&](std::size_t block, std::size_t begin, std::size_t end) {
        walk(block, begin, end, [&](std::size_t f, std::size_t p, std::uint32_t position) {
            result.faceBin[f] = numberOf[binBase[p] + localBin[position]];
        });
    });
    return result;
}

// Colours read from bytes, as nearly every model's are. A colour is its 24-bit code, and a part
// finds its bins by code in a table with a slot for every code the part can hold: no search and
// no comparison of colours. Bins come part after part, each part's in the order of their first
// faces.
namespace bytes {

constexpr unsigned kIndexBits = 24 - kPartBits;
constexpr std::uint32_t kIndexMask = (std::uint32_t{1} << kIndexBits) - 1;

struct Record {
    std::uint32_t code;
    std::uint32_t face;
    double weight;
};

// A multiplication by an odd number is one-to-one on 24 bits and lets every bit of the code
// move the top bits, which choose the part: similar colours spread over all parts.
std::uint32_t mixed(std::uint32_t code) {
    return (code * 0x9e3779b1u) & 0xffffffu;
}

// The code of a colour whose components are all bytes, or -1.
long codeOf(const float* rgb) {
    const int r = byteOfComponent(rgb[0]), g = byteOfComponent(rgb[1]), b = byteOfComponent(rgb[2]);
    return r < 0 || g < 0 || b < 0 ? -1 : long{r} << 16 | long{g} << 8 | b;
}

// Tables of a slot per index, all kEmpty between uses, handed out to the parts being counted.
class TablePool {
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

// Counts `faces` faces whose colours all are bytes or not finite numbers; false, with nothing
// counted, when some other colour turns up.
bool count(const float* rgb, const double* area, std::size_t faces, bool weighByArea,
           unsigned threads, ColourCount& result) {
    result.faceBin.resize(faces);
    std::vector<std::uint8_t> part(faces);
    const std::size_t blocks = blockCount(faces);
    // Each block's faces copied out in the block's own span, grouped by part in face order:
    // segment[block][p] is where part p's group starts.
    std::unique_ptr<Record[]> records(new Record[faces]);
    std::vector<std::uint32_t> segment(blocks * (kParts + 1));
    std::atomic<bool> allBytes{true};
    forEachBlock(faces, threads, [&](std::size_t block, std::size_t begin, std::size_t end) {
        std::uint32_t next[kParts + 1] = {0};
        for (std::size_t f = begin; f < end; ++f) {
            const long code = codeOf(rgb + 3 * f);
            if (code >= 0) {
                part[f] = static_cast<std::uint8_t>(mixed(static_cast<std::uint32_t>(code)) >>
                                                    kIndexBits);
                ++next[part[f] + 1];
                result.faceBin[f] = static_cast<std::uint32_t>(code);
            } else if (!finiteColour(rgb + 3 * f)) {
                result.faceBin[f] = ColourCount::kNoBin;
            } else {
                allBytes = false;
                return;
            }
        }
        for (std::size_t p = 1; p <= kParts; ++p)
            next[p] += next[p - 1];
        std::copy(next, next + kParts + 1, &segment[block * (kParts + 1)]);
        Record* span = records.get() + begin;
        for (std::size_t f = begin; f < end; ++f) {
            if (result.faceBin[f] != ColourCount::kNoBin) {
                span[next[part[f]]++] = Record{result.faceBin[f], static_cast<std::uint32_t>(f),
                                               weighByArea ? usableArea(area[f]) : 1.0};
            }
        }
    });
    if (!allBytes)
        return false;

    std::vector<std::vector<ColourBin>> partBins(kParts);
    TablePool pool;
    forEachTask(kParts, threads, [&](std::size_t p) {
        std::vector<std::uint32_t> table = pool.take();
        std::vector<ColourBin>& bins = partBins[p];
        std::vector<std::uint32_t> codes;
        for (std::size_t block = 0; block < blocks; ++block) {
            const std::uint32_t* at = &segment[block * (kParts + 1) + p];
            const Record* span = records.get() + block * kBlockSize;
            for (std::uint32_t i = at[0]; i < at[1]; ++i) {
                const Record& record = span[i];
                std::uint32_t& slot = table[mixed(record.code) & kIndexMask];
                if (slot == kEmpty) {
                    slot = static_cast<std::uint32_t>(bins.size());
                    ColourBin added;
                    for (int c = 0; c < 3; ++c)
                        added.rgb[c] =
                            static_cast<float>(record.code >> (16 - 8 * c) & 255) / 255.0f;
                    added.firstFace = record.face;
                    bins.push_back(added);
                    codes.push_back(record.code);
                }
                ColourBin& bin = bins[slot];
                bin.weight += record.weight;
                ++bin.faces;
                result.faceBin[record.face] = slot;
            }
        }
        for (const std::uint32_t code : codes)
            table[mixed(code) & kIndexMask] = kEmpty;
        pool.give(std::move(table));
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

}  // namespace bytes

}  // namespace

ColourCount countColours(const float* rgb, const double* area, std::size_t faces, bool weighByArea,
                         unsigned threads) {
    ColourCount result;
    if (bytes::count(rgb, area, faces, weighByArea, threads, result))
        return result;
    return countAnyColours(rgb, area, faces, weighByArea, threads);
}

}  // namespace hueslice::colour
