#include "io/formats/3mf/zip_writer.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

namespace hueslice::io::detail {

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kDescriptor = 0x08074b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEnd = 0x06054b50;
constexpr std::uint32_t kEnd64 = 0x06064b50;
constexpr std::uint32_t kEnd64Locator = 0x07064b50;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint16_t kVersionPlain = 20;  // deflate
constexpr std::uint16_t kVersionZip64 = 45;
constexpr std::uint16_t kFlagDescriptor = 1u << 3;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kDate = (0u << 9) | (1u << 5) | 1u;  // 1980-01-01
constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint16_t kMax16 = 0xFFFFu;
constexpr std::size_t kStep = std::size_t{1} << 30;

// Little-endian fields appended to a header.
class Fields {
  public:
    Fields& u16(std::uint64_t v) { return bytes(v, 2); }
    Fields& u32(std::uint64_t v) { return bytes(v, 4); }
    Fields& u64(std::uint64_t v) { return bytes(v, 8); }
    Fields& text(std::string_view s) {
        out.append(s);
        return *this;
    }
    const std::string& str() const { return out; }

  private:
    Fields& bytes(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xFFu);
        return *this;
    }
    std::string out;
};

// Buffers ISA-L's fastest level works in, one set per thread: allocating them costs more than
// deflating a small piece.
struct Deflater {
    std::vector<std::uint8_t> levelBuffer = std::vector<std::uint8_t>(ISAL_DEF_LVL1_DEFAULT);
};

}  // namespace

PieceSum deflatePiece(std::string_view text, bool last, TextBuffer& out) {
    thread_local Deflater deflater;
    PieceSum sum;
    std::size_t at = 0;
    do {
        // ISA-L counts in 32 bits, so a piece beyond 1 GiB goes in several blocks, each aligned
        // to a byte by a full flush, which the next simply follows.
        const std::size_t step = std::min(text.size() - at, kStep);
        isal_zstream stream;
        isal_deflate_stateless_init(&stream);
        stream.level = 1;
        stream.level_buf = deflater.levelBuffer.data();
        stream.level_buf_size = static_cast<std::uint32_t>(deflater.levelBuffer.size());
        stream.gzip_flag = IGZIP_DEFLATE;
        stream.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(text.data() + at));
        stream.avail_in = static_cast<std::uint32_t>(step);
        stream.end_of_stream = last && at + step == text.size() ? 1 : 0;
        stream.flush = FULL_FLUSH;
        // Stored blocks are the worst case: 5 bytes for every 65,535.
        const std::size_t room = step + 5 * (step / 65535 + 2) + 64;
        char* start = out.room(room);
        stream.next_out = reinterpret_cast<std::uint8_t*>(start);
        stream.avail_out = static_cast<std::uint32_t>(room);
        if (isal_deflate_stateless(&stream) != COMP_OK)
            throw std::bad_alloc();
        out.advance(start + (room - stream.avail_out));
        sum.crc = static_cast<std::uint32_t>(crc32_combine(
            sum.crc,
            crc32_gzip_refl(0, reinterpret_cast<const std::uint8_t*>(text.data() + at), step),
            static_cast<z_off_t>(step)));
        at += step;
    } while (at < text.size());
    sum.length = text.size();
    return sum;
}

ZipWriter::ZipWriter(const TextSink& target, std::uint64_t plainLimit)
    : sink(target), limit(plainLimit) {}

void ZipWriter::put(std::string_view bytes) {
    sink(bytes);
    written += bytes.size();
}

void ZipWriter::putLocalHeader(const Entry& entry) {
    Fields f;
    f.u32(kLocalHeader)
        .u16(entry.zip64 ? kVersionZip64 : kVersionPlain)
        .u16(entry.descriptor ? kFlagDescriptor : 0)
        .u16(kDeflated)
        .u16(0)
        .u16(kDate)
        .u32(entry.crc)
        .u32(entry.zip64 ? kMax32 : entry.packed)
        .u32(entry.zip64 ? kMax32 : entry.length)
        .u16(entry.name.size())
        .u16(entry.zip64 ? 20 : 0)
        .text(entry.name);
    if (entry.zip64)
        f.u16(kZip64Extra).u16(16).u64(entry.length).u64(entry.packed);
    put(f.str());
}

void ZipWriter::addEntry(const std::string& name, std::string_view text) {
    TextBuffer deflated;
    const PieceSum sum = deflatePiece(text, true, deflated);
    Entry entry;
    entry.name = name;
    entry.crc = sum.crc;
    entry.packed = deflated.text().size();
    entry.length = sum.length;
    entry.offset = written;
    entry.zip64 = needs64(entry.packed) || needs64(entry.length);
    putLocalHeader(entry);
    put(deflated.text());
    entries.push_back(std::move(entry));
}

void ZipWriter::beginEntry(const std::string& name, std::uint64_t mayExceed) {
    Entry entry;
    entry.name = name;
    entry.offset = written;
    entry.descriptor = true;
    // The local header comes before the sizes are known: the bound decides.
    entry.zip64 = needs64(mayExceed);
    entry.crc = 0;
    putLocalHeader(entry);
    entries.push_back(std::move(entry));
}

void ZipWriter::addPiece(std::string_view deflated, const PieceSum& sum) {
    Entry& entry = entries.back();
    entry.crc = static_cast<std::uint32_t>(
        crc32_combine(entry.crc, sum.crc, static_cast<z_off_t>(sum.length)));
    entry.packed += deflated.size();
    entry.length += sum.length;
    put(deflated);
}

void ZipWriter::endEntry() {
    Entry& entry = entries.back();
    if (!entry.zip64 && (needs64(entry.packed) || needs64(entry.length)))
        throw OutputError(entry.name + ": grew beyond the size its header allowed");
    Fields f;
    f.u32(kDescriptor).u32(entry.crc);
    if (entry.zip64)
        f.u64(entry.packed).u64(entry.length);
    else
        f.u32(entry.packed).u32(entry.length);
    put(f.str());
}

void ZipWriter::finish() {
    const std::uint64_t directoryStart = written;
    for (const Entry& entry : entries) {
        const bool sizes64 = entry.zip64;
        const bool offset64 = needs64(entry.offset);
        Fields extra;
        if (sizes64)
            extra.u64(entry.length).u64(entry.packed);
        if (offset64)
            extra.u64(entry.offset);
        const bool any64 = sizes64 || offset64;
        Fields f;
        f.u32(kCentralHeader)
            .u16(any64 ? kVersionZip64 : kVersionPlain)
            .u16(any64 ? kVersionZip64 : kVersionPlain)
            .u16(entry.descriptor ? kFlagDescriptor : 0)
            .u16(kDeflated)
            .u16(0)
            .u16(kDate)
            .u32(entry.crc)
            .u32(sizes64 ? kMax32 : entry.packed)
            .u32(sizes64 ? kMax32 : entry.length)
            .u16(entry.name.size())
            .u16(any64 ? 4 + extra.str().size() : 0)
            .u16(0)  // comment
            .u16(0)  // disk
            .u16(0)  // internal attributes
            .u32(0)  // external attributes
            .u32(offset64 ? kMax32 : entry.offset)
            .text(entry.name);
        if (any64)
            f.u16(kZip64Extra).u16(extra.str().size()).text(extra.str());
        put(f.str());
    }
    const std::uint64_t directorySize = written - directoryStart;
    const std::uint64_t count = entries.size();
    const bool end64 =
        needs64(directoryStart) || needs64(directorySize) || count >= kMax16 || count >= limit;
    Fields f;
    if (end64) {
        const std::uint64_t end64Start = written;
        f.u32(kEnd64)
            .u64(44)
            .u16(kVersionZip64)
            .u16(kVersionZip64)
            .u32(0)
            .u32(0)
            .u64(count)
            .u64(count)
            .u64(directorySize)
            .u64(directoryStart);
        f.u32(kEnd64Locator).u32(0).u64(end64Start).u32(1);
    }
    f.u32(kEnd)
        .u16(0)
        .u16(0)
        .u16(end64 ? kMax16 : count)
        .u16(end64 ? kMax16 : count)
        .u32(end64 ? kMax32 : directorySize)
        .u32(end64 ? kMax32 : directoryStart)
        .u16(0);
    put(f.str());
}

}  // namespace hueslice::io::detail
