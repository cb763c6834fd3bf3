#pragma once

// Texture images, decoded from bytes in memory: PNG through libpng and JPEG through
// libjpeg-turbo, the libraries every Debian system already carries for these formats, both
// long-lived and fuzzed upstream. Every image becomes 8-bit RGBA texels, row 0 at the top.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hueslice::io {

// The most texels an image may have (16384 x 16384, 1 GiB decoded). A header that claims more is
// refused before anything is allocated for its texels, so that a small hostile file cannot make
// the program ask for gigabytes.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{16384} * 16384;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // width x height texels, 4 bytes each, rows top first
    bool translucent = false;        // some texel's alpha is below 255 (alpha is not used)

    const std::uint8_t* texel(int x, int y) const {
        return rgba.data() + 4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                  static_cast<std::size_t>(x));
    }
};

// Decodes a PNG (any bit depth, palette, grey, with or without alpha, interlaced or not) or a
// JPEG (baseline or progressive, grey or colour), told apart by their first bytes.
// Throws InputError "MODEL: image "IMAGE": fault" when the bytes are neither, are truncated or
// corrupt (a JPEG decoder's warning, such as a premature end of data, counts as corrupt), or
// claim more than kMaxImagePixels texels.
Image decodeImage(std::string_view bytes, const std::string& model, const std::string& image);

namespace detail {

// The format's decoders, for decodeImage; `where` is the message prefix "MODEL: image "IMAGE"".
Image decodePng(std::string_view bytes, const std::string& where);
Image decodeJpeg(std::string_view bytes, const std::string& where);

// Throws InputError when a width x height image is empty or too large to decode.
void checkImageSize(std::uint64_t width, std::uint64_t height, const std::string& where);

}  // namespace detail

}  // namespace hueslice::io
