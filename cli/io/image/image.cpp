#include "io/image/image.h"

#include "io/io.h"

namespace hueslice::io {

namespace detail {

void checkImageSize(std::uint64_t width, std::uint64_t height, const std::string& where) {
    if (width == 0 || height == 0)
        throw InputError(where + ": has no texels");
    if (width > kMaxImagePixels || height > kMaxImagePixels / width) {
        throw InputError(where + ": " + std::to_string(width) + " x " + std::to_string(height) +
                         " texels is more than the " + std::to_string(kMaxImagePixels) +
                         " an image may have");
    }
}

}  // namespace detail

Image decodeImage(std::string_view bytes, const std::string& model, const std::string& image) {
    const std::string where = model + ": image \"" + printable(image) + "\"";
    Image result;
    if (bytes.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8))
        result = detail::decodePng(bytes, where);
    else if (bytes.substr(0, 3) == std::string_view("\xff\xd8\xff", 3))
        result = detail::decodeJpeg(bytes, where);
    else
        throw InputError(where + ": is neither PNG nor JPEG");
    for (std::size_t i = 3; i < result.rgba.size() && !result.translucent; i += 4)
        result.translucent = result.rgba[i] != 255;
    return result;
}

}  // namespace hueslice::io
