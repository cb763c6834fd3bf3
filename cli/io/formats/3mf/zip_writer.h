#pragma once

// A ZIP package written front to back through a sink, never seeking: what a 3MF package is.
// Written here rather than through a ZIP library because the model is deflated in pieces on the
// text writer's worker threads and the pieces joined, which no library offers, and because the
// container must stay plain ZIP unless its sizes need ZIP64: a common import library crashes on
// any package with ZIP64 records. Deflate is ISA-L's (several times faster than zlib at its
// fastest level, which would make deflating most of a package's cost); CRCs are joined with
// zlib's.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/io.h"
#include "io/text/text_chunks.h"

namespace hueslice::io::detail {

// Raw deflate of text handed over in pieces. Each piece is deflated on its own (no history
// across pieces, so pieces may be deflated on different threads) and ends on a byte boundary;
// pieces deflated in order and joined make one deflate stream, which the piece marked last
// ends.
struct PieceSum {
    std::uint32_t crc = 0;     // CRC-32 of the text
    std::uint64_t length = 0;  // the text's length
};

// Appends `text` deflated at ISA-L's fastest level to `out`; returns its sum. Throws
// std::bad_alloc when the deflater fails (it only can for want of room).
PieceSum deflatePiece(std::string_view text, bool last, TextBuffer& out);

// Writes entries one after another to `sink`, then the central directory. Sizes and offsets
// that reach `plainLimit` (tests lower it) make that entry, or the directory, ZIP64; nothing
// else does. Names are ASCII. Entry dates are 1980-01-01 00:00, so that the same model gives
// the same bytes.
class ZipWriter {
  public:
    explicit ZipWriter(const TextSink& sink, std::uint64_t plainLimit = 0xFFFFFFFFull);

    // A whole entry: `text` deflated, sizes in its local header.
    void addEntry(const std::string& name, std::string_view text);

    // An entry whose deflated pieces follow (see deflatePiece), its sizes in a data descriptor
    // after them. `mayExceed` is a bound on the text's length; an entry that may reach the plain
    // limit is written as ZIP64 from its start.
    void beginEntry(const std::string& name, std::uint64_t mayExceed);
    void addPiece(std::string_view deflated, const PieceSum& sum);
    void endEntry();

    // Writes the central directory; nothing may be added after it.
    void finish();

  private:
    struct Entry {
        std::string name;
        std::uint32_t crc = 0;
        std::uint64_t packed = 0;
        std::uint64_t length = 0;
        std::uint64_t offset = 0;
        bool descriptor = false;
        bool zip64 = false;  // sizes and offset carried in a ZIP64 extra field
    };

    void put(std::string_view bytes);
    void putLocalHeader(const Entry& entry);
    bool needs64(std::uint64_t value) const { return value >= limit; }

    const TextSink& sink;
    const std::uint64_t limit;
    std::uint64_t written = 0;
    std::vector<Entry> entries;
};

}  // namespace hueslice::io::detail
