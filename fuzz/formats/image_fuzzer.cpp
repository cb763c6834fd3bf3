// The texture image decoders (PNG, JPEG) on arbitrary bytes: any input either decodes to as
// many texels as its size says, or is refused with InputError.

#include <cstdio>
#include <cstdlib>

#include <io/image/image.h>
#include <io/io.h>

#include "fuzz_targets.h"

namespace hueslice::fuzz {

int fuzzImage(const std::uint8_t* data, std::size_t size) {
    try {
        const io::Image image = io::decodeImage(
            std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.glb", "image");
        const auto texels =
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
        if (image.width <= 0 || image.height <= 0 || texels > io::kMaxImagePixels ||
            image.rgba.size() != 4 * texels) {
            std::fprintf(stderr, "image_fuzzer: invariant broken: %d x %d with %zu bytes\n",
                         image.width, image.height, image.rgba.size());
            std::abort();
        }
    } catch (const io::InputError&) {
    }
    return 0;
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzImage)
