#include "io/formats/ply/rows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "io/internal.h"

namespace hueslice::io::detail::ply {

namespace {

bool hostIsLittleEndian() {
    const std::uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// Unsigned integer of N bytes, the carrier for byte swaps.
template <std::size_t N>
struct Bits;
template <>
struct Bits<1> {
    using type = std::uint8_t;
};
template <>
struct Bits<2> {
    using type = std::uint16_t;
};
template <>
struct Bits<4> {
    using type = std::uint32_t;
};
template <>
struct Bits<8> {
    using type = std::uint64_t;
};

inline std::uint8_t swapped(std::uint8_t v) {
    return v;
}
inline std::uint16_t swapped(std::uint16_t v) {
    return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}
inline std::uint32_t swapped(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}
inline std::uint64_t swapped(std::uint64_t v) {
    return (static_cast<std::uint64_t>(swapped(static_cast<std::uint32_t>(v))) << 32) |
           swapped(static_cast<std::uint32_t>(v >> 32));
}

// A value of type T at `p`, which need not be aligned, stored in the other byte order when
// `Swap`.
template <typename T, bool Swap>
inline T load(const unsigned char* p) {
    using U = typename Bits<sizeof(T)>::type;
    U bits;
    std::memcpy(&bits, p, sizeof bits);
    if (Swap)
        bits = swapped(bits);
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

template <bool Swap>
double decodeAs(Scalar t, const unsigned char* p) {
    switch (t) {
        case Scalar::Int8:
            return load<std::int8_t, Swap>(p);
        case Scalar::UInt8:
            return load<std::uint8_t, Swap>(p);
        case Scalar::Int16:
            return load<std::int16_t, Swap>(p);
        case Scalar::UInt16:
            return load<std::uint16_t, Swap>(p);
        case Scalar::Int32:
            return load<std::int32_t, Swap>(p);
        case Scalar::UInt32:
            return load<std::uint32_t, Swap>(p);
        case Scalar::Float32:
            return static_cast<double>(load<float, Swap>(p));
        case Scalar::Float64:
            return load<double, Swap>(p);
    }
    return 0.0;
}

// Binary data is read in one pass through the byte source's window, into a detail of the
// reader's own that replaces the caller's only once the whole file is known to be good. Each
// element runs a tight loop for the usual layouts and hands any row such a loop cannot vouch
// for to readRow(), the one place that words binary faults, so that messages depend neither
// on which loop met the row nor on where the window's edges fall.
class BinaryRows : public RowReader {
  public:
    BinaryRows(ByteSource& input, const std::string& fileName, const Header& fileHeader,
               const ColourPlan& colourPlan)
        : RowReader(fileName, fileHeader, colourPlan), source(input) {}

    // Reads the whole body into `geo`; returns the ties of the corner vote.
    long long read(GU_Detail& geo, std::size_t inputSize) {
        swapBytes = (header.format == Format::BinaryLittle) != hostIsLittleEndian();
        startDetail(geo, vertexBound(header, inputSize));
        readBinary(geo);
        return finishVotes(geo);
    }

  private:
    [[noreturn]] void failByte(std::size_t offset, const std::string& what) const {
        throw InputError(name + ": byte " + std::to_string(offset) + ": " + what);
    }

    // Reads row `r` of `e` at `pos` with every check, into `row`; returns where the next row
    // starts. Throws for any fault, naming the byte of the row or value at fault.
    std::size_t readRow(const Element& e, std::uint64_t r, std::size_t pos, Row& row) {
        const std::size_t rowStart = pos;
        const auto failHere = [&](const std::string& what) {
            failByte(rowStart, e.row(r) + " " + what);
        };
        row.indices.clear();
        for (const Property& p : e.properties) {
            const std::size_t countSize = p.isList ? sizeOf(p.countType) : 1;
            const unsigned char* at = source.need(pos, p.isList ? countSize : sizeOf(p.type));
            if (!at)
                failByte(pos, "file ends inside " + e.row(r));
            if (!p.isList) {
                take(p, decode(p.type, at), row, failHere);
                pos += sizeOf(p.type);
                continue;
            }
            const double count = decode(p.countType, at);
            if (count < 0.0)
                failByte(pos, e.row(r) + " has a negative list count");
            pos += countSize;
            const std::size_t valueSize = sizeOf(p.type);
            const auto n = static_cast<std::size_t>(count);
            // Values that are not used need not be held, only known to be there.
            const bool used = p.role == Role::Indices;
            const unsigned char* values =
                used ? source.need(pos, n * valueSize) : source.need(pos + n * valueSize, 0);
            if (!values) {
                failByte(pos, "file ends inside " + e.row(r) + " (list of " + std::to_string(n) +
                                  " values)");
            }
            for (std::size_t i = 0; used && i < n; ++i)
                take(p, decode(p.type, values + i * valueSize), row, failHere);
            pos += n * valueSize;
        }
        settle(e, row, failHere);
        return pos;
    }

    double decode(Scalar t, const unsigned char* p) const {
        return swapBytes ? decodeAs<true>(t, p) : decodeAs<false>(t, p);
    }

    // A colour value as stored: integers scaled to [0, 1] (by table for uchar), floats as they
    // are. Never called for doubles, which may not fit.
    float colourAt(Scalar t, const unsigned char* p) const {
        if (t == Scalar::UInt8)
            return colours.byteColour[*p];
        const double value = decode(t, p);
        float narrowed = 0.0f;
        detail::narrowToFloat(isInteger(t) ? value / maxOf(t) : value, narrowed);
        return narrowed;
    }

    void readColours(const Plan& plan, const unsigned char* row, const unsigned char* listEnd,
                     float rgb[3]) const {
        for (int c = 0; c < 3; ++c) {
            rgb[c] = colourAt(plan.colourType[c],
                              (plan.afterList[c] ? listEnd : row) + plan.colourAt[c]);
        }
    }

    void readBinary(GU_Detail& geo) {
        std::size_t pos = header.dataStart;
        for (const Element& e : header.elements)
            pos = readElement(e, planFor(e, colours), pos, geo);
        const std::size_t extra = source.countFrom(pos);
        if (extra > 0)
            failByte(pos, detail::countOf(extra, "byte", "bytes") + " after the last element");
    }

    // One element, every row checked and stored. Returns where the next element starts.
    std::size_t readElement(const Element& e, const Plan& plan, std::size_t pos, GU_Detail& geo) {
        switch (plan.kind) {
            case Plan::Kind::Fixed:
                // Nothing in such rows can be wrong but their number.
                return wholeRows(e, plan.rowSize, pos, geo,
                                 [](const unsigned char*, std::size_t) {});
            case Plan::Kind::FloatPoints:
                return wholeRows(e, plan.rowSize, pos, geo,
                                 [&](const unsigned char* rows, std::size_t n) {
                                     if (swapBytes) {
                                         buildPoints<true>(plan, rows, n, geo);
                                     } else {
                                         buildPoints<false>(plan, rows, n, geo);
                                     }
                                 });
            case Plan::Kind::SingleListFaces:
                return withListTypes(plan, [&](auto count, auto index, auto swap) {
                    return readFaces<decltype(count), decltype(index), decltype(swap)::value>(
                        e, plan, pos, geo);
                });
            case Plan::Kind::Generic:
                break;
        }
        Row row;
        for (std::uint64_t r = 0; r < e.count; ++r) {
            pos = readRow(e, r, pos, row);
            store(e, row, geo);
        }
        return pos;
    }

    // Rows of `rowSize` bytes that cannot be wrong once whole: hands `batch` runs of them as the
    // window holds them; a row cut short goes to readRow(), which says where.
    template <typename Batch>
    std::size_t wholeRows(const Element& e, std::size_t rowSize, std::size_t pos, GU_Detail& geo,
                          Batch&& batch) {
        Row row;
        for (std::uint64_t r = 0; r < e.count;) {
            const unsigned char* at = source.need(pos, rowSize);
            if (!at || rowSize == 0) {
                pos = readRow(e, r, pos, row);
                store(e, row, geo);
                ++r;
                continue;
            }
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(e.count - r, source.heldFrom(pos) / rowSize));
            batch(at, n);
            pos += n * rowSize;
            r += n;
        }
        return pos;
    }

    // Calls `f(CountT{}, IndexT{}, std::bool_constant<swap>{})` with the C++ types of the plan's
    // list, so that the face loops read counts and indices without a switch per value.
    template <typename F>
    std::size_t withListTypes(const Plan& plan, F&& f) const {
        return withInteger(plan.countType, [&](auto count) {
            return withInteger(plan.indexType, [&](auto index) {
                if (swapBytes)
                    return f(count, index, std::true_type{});
                return f(count, index, std::false_type{});
            });
        });
    }

    template <typename F>
    static std::size_t withInteger(Scalar t, F&& f) {
        switch (t) {
            case Scalar::Int8:
                return f(std::int8_t{});
            case Scalar::UInt8:
                return f(std::uint8_t{});
            case Scalar::Int16:
                return f(std::int16_t{});
            case Scalar::UInt16:
                return f(std::uint16_t{});
            case Scalar::Int32:
                return f(std::int32_t{});
            default:  // the header allows nothing but integers for counts and indices
                return f(std::uint32_t{});
        }
    }

    // Loads a face's `n` indices into `out`; false when one is not a point's.
    template <typename IndexT, bool Swap>
    bool loadIndices(const unsigned char* at, std::size_t n, std::vector<unsigned>& out) const {
        if (out.size() < n)
            out.resize(n);
        bool good = true;
        for (std::size_t i = 0; i < n; ++i) {
            const IndexT index = load<IndexT, Swap>(at + i * sizeof(IndexT));
            // No early exit: the loop stays branch-free, and bad files are rare.
            if constexpr (std::is_signed_v<IndexT>)
                good &= index >= 0;
            good &= static_cast<std::uint64_t>(index) < pointCount;
            out[i] = static_cast<unsigned>(index);
        }
        return good;
    }

    template <typename CountT, typename IndexT, bool Swap>
    std::size_t readFaces(const Element& e, const Plan& plan, std::size_t pos, GU_Detail& geo) {
        // Locals, not members, so that they stay in registers across the calls into the detail.
        const std::size_t prefix = plan.prefix;
        const std::size_t head = prefix + sizeof(CountT);
        const std::size_t suffix = plan.suffix;
        const bool byColourTable = plan.colours && plan.byteColours;
        const bool otherColours = plan.colours && !plan.byteColours;
        const std::size_t at[3] = {plan.colourAt[0], plan.colourAt[1], plan.colourAt[2]};
        const bool after[3] = {plan.afterList[0], plan.afterList[1], plan.afterList[2]};
        const int cd = cdOffset;
        const bool voting = colours.voteWhileBuilding;
        const auto& byteColour = colours.byteColour;
        std::vector<unsigned>& indices = scratch;
        Row slow;
        // The bytes at `pos`, `held` of them: most rows are taken from them without a request.
        const unsigned char* row = nullptr;
        std::size_t held = 0;
        for (std::uint64_t r = 0; r < e.count; ++r) {
            if (held < head) {
                row = source.need(pos, head);
                held = row ? source.heldFrom(pos) : 0;
            }
            std::size_t n = 0;
            std::size_t rowSize = 0;
            if (row) {
                const CountT count = load<CountT, Swap>(row + prefix);
                // Zero and negative counts are faults; readRow() words them.
                n = count > 0 ? static_cast<std::size_t>(count) : 0;
                rowSize = head + n * sizeof(IndexT) + suffix;
                if (n > 0 && held < rowSize) {
                    row = source.need(pos, rowSize);
                    held = row ? source.heldFrom(pos) : 0;
                }
            }
            if (n == 0 || !row || !loadIndices<IndexT, Swap>(row + head, n, indices)) {
                pos = readRow(e, r, pos, slow);
                store(e, slow, geo);
                held = 0;
                continue;
            }
            const unsigned char* listEnd = row + head + n * sizeof(IndexT);
            float rgb[3];
            if (byColourTable) {
                for (int c = 0; c < 3; ++c)
                    rgb[c] = byteColour[(after[c] ? listEnd : row)[at[c]]];
            } else if (otherColours) {
                readColours(plan, row, listEnd, rgb);
            }
            const long long prim = geo.appendPrimitive(indices.data(), static_cast<unsigned>(n));
            if (plan.colours) {
                std::memcpy(geo.primitiveAttribData(prim) + cd, rgb, sizeof rgb);
            } else if (voting) {
                vote(geo, prim, indices.data(), n);
            }
            pos += rowSize;
            row += rowSize;
            held -= rowSize;
            if ((r + 1) % detail::kProgressStep == 0)
                detail::reportProgress(r + 1, e.count);
        }
        return pos;
    }

    template <bool Swap>
    void buildPoints(const Plan& plan, const unsigned char* row, std::size_t rows, GU_Detail& geo) {
        for (std::size_t r = 0; r < rows; ++r, row += plan.rowSize) {
            geo.appendPoint(UT_Vector3(load<float, Swap>(row + plan.xyzAt[0]),
                                       load<float, Swap>(row + plan.xyzAt[1]),
                                       load<float, Swap>(row + plan.xyzAt[2])));
            if (colours.packedVertexColours) {
                vertexKeys.push_back(
                    packedKey(row[plan.colourAt[0]], row[plan.colourAt[1]], row[plan.colourAt[2]]));
            } else if (plan.colours) {
                float rgb[3];
                readColours(plan, row, row, rgb);
                vertexRgb.insert(vertexRgb.end(), rgb, rgb + 3);
            }
        }
    }

    ByteSource& source;
    bool swapBytes = false;
    std::vector<unsigned> scratch;  // indices of one face
};

}  // namespace

long long readBinaryRows(ByteSource& source, std::size_t inputSize, const std::string& name,
                         const Header& header, const ColourPlan& colours, GU_Detail& geo) {
    return BinaryRows(source, name, header, colours).read(geo, inputSize);
}

}  // namespace hueslice::io::detail::ply
