#pragma once

// A forward-only window on a reader's input: either the whole input in memory, or a regular
// file read a window at a time, so that a big binary file is never held whole. Offsets are
// absolute, counted from the input's first byte, so messages name the same byte either way.

#include <cstddef>
#include <string_view>
#include <vector>

#include "io/input/input_file.h"

namespace hueslice::io::detail {

class ByteSource {
  public:
    // The whole input, at hand from the start.
    explicit ByteSource(std::string_view bytes);
    // `file` read through a window of about `window` bytes, grown only for a request longer
    // than that. `file` must outlive the source.
    ByteSource(InputFile& file, std::size_t window);

    // Bytes [pos, pos + n) of the input, or null when the input ends first. Requests must not
    // go back: `pos` is never before the `pos` of an earlier request. A pointer stays valid
    // until the next request. need(pos, 0) says whether the input reaches `pos`, and lets the
    // bytes before it go without holding them.
    const unsigned char* need(std::size_t pos, std::size_t n) {
        const std::size_t offset = pos - start;
        if (pos >= start && offset <= held && n <= held - offset)
            return data + offset;
        return fetch(pos, n);
    }

    // How many bytes from `pos` on are at hand, after a request at `pos` that succeeded.
    std::size_t heldFrom(std::size_t pos) const { return start + held - pos; }

    // The bytes at hand, from the first one still held.
    std::string_view window() const { return {reinterpret_cast<const char*>(data), held}; }

    // Reads more of a file onto the end of the window, dropping nothing; false at the end.
    bool more();

    // The whole input, read to its end; only while the window still starts at byte 0.
    std::string_view whole();

    // The input's size as far as it can be told before reading all of it: a file's size when
    // opened. False when that is less than what has been read already, as for files that report
    // a size of 0; then only whole() can tell.
    bool sizeKnown(std::size_t& size) const;

    // How many bytes the input has from `pos` on, reading a file to its end to count them.
    std::size_t countFrom(std::size_t pos);

  private:
    const unsigned char* fetch(std::size_t pos, std::size_t n);
    // A file's first window: no bigger than the file, so that small files cost little.
    std::size_t firstSize() const;
    // Reads into the free room of the buffer, growing it first when it is full, until it holds
    // `limit` bytes at most (the window, when it was grown for the header or a long row).
    bool readMore(std::size_t growTo, std::size_t limit);

    InputFile* file = nullptr;
    std::vector<unsigned char> buffer;
    std::size_t windowSize = 0;
    const unsigned char* data = nullptr;
    std::size_t start = 0;  // offset of data[0] in the input
    std::size_t held = 0;   // bytes at data
    bool ended = true;      // the file has said it has no more
};

}  // namespace hueslice::io::detail
