#pragma once

// Text made piece by piece and handed to a sink in large pieces, numbers formatted with
// std::to_chars: how the writers stream big files without holding them whole.

#include <charconv>
#include <cstddef>
#include <string>
#include <string_view>

#include "io/io.h"

namespace hueslice::io::detail {

// The longest text putFloat writes.
inline constexpr std::size_t kFloatChars = 32;

// Writes `value` at `out` and returns the end: the shortest digits that read back to exactly
// `value` (floatText's text), "nan", "inf" or "-inf".
char* putFloat(char* out, float value);

// Writes `value` at `out`, which has room for 20 characters, and returns the end.
inline char* putNumber(char* out, unsigned long long value) {
    return std::to_chars(out, out + 20, value).ptr;
}

class TextOut {
  public:
    explicit TextOut(const TextSink& target) : sink(target) { buffer.reserve(kPiece + kSlack); }
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;

    void put(std::string_view text) {
        buffer.append(text);
        if (buffer.size() >= kPiece)
            flush();
    }
    void put(char c) {
        buffer.push_back(c);
        if (buffer.size() >= kPiece)
            flush();
    }
    void putNumber(unsigned long long value) { putNumberOf(value); }
    void putNumber(long long value) { putNumberOf(value); }
    // floatText's digits: the shortest text that reads back to exactly `value`.
    void putFloat(float value);

    // Hands everything buffered to the sink; call once the text is complete.
    void flush();

  private:
    // Large enough that the sink's cost per piece (a system call) does not show.
    static constexpr std::size_t kPiece = std::size_t{1} << 20;
    static constexpr std::size_t kSlack = 64;

    template <typename Number>
    void putNumberOf(Number value) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        put(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }

    const TextSink& sink;
    std::string buffer;
};

}  // namespace hueslice::io::detail
