// Texture images: each kind of PNG and JPEG decodes to its texels, and bad or hostile images are
// refused with one line naming the image and the model.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/image/image.h"
#include "io/io.h"
#include "support/image_files.h"

namespace hueslice::io {
namespace {

using namespace std::string_literals;
using image_files::jpegOf;
using image_files::Png;
using image_files::pngOf;

Png png(int width, int depth, int colourType, const std::string& rows) {
    Png p;
    p.width = width;
    p.depth = depth;
    p.colourType = colourType;
    p.rows = rows;
    return p;
}

Png withPalette(Png p, const std::string& palette, const std::string& transparency = "") {
    p.palette = palette;
    p.transparency = transparency;
    return p;
}

Png interlaced(Png p) {
    p.interlaced = true;
    return p;
}

std::vector<int> texels(const Image& image) {
    return {image.rgba.begin(), image.rgba.end()};
}

TEST(ImageDecoding, EveryKindOfPngGivesItsTexels) {
    const struct {
        const char* kind;
        Png file;
        std::vector<int> rgba;
        bool translucent;
    } cases[] = {
        {"rgb8",
         png(2, 8, 2, "\x0a\x14\x1e\xc8\x64\x00"s),
         {10, 20, 30, 255, 200, 100, 0, 255},
         false},
        {"rgba8", png(1, 8, 6, "\x01\x02\x03\x80"s), {1, 2, 3, 128}, true},
        {"grey8", png(2, 8, 0, "\x00\x4d"s), {0, 0, 0, 255, 77, 77, 77, 255}, false},
        {"grey1", png(2, 1, 0, "\x80"s), {255, 255, 255, 255, 0, 0, 0, 255}, false},
        {"grey-alpha8", png(1, 8, 4, "\x40\xff"s), {64, 64, 64, 255}, false},
        {"rgb16", png(1, 16, 2, "\x80\x80\xff\xff\x00\x00"s), {128, 255, 0, 255}, false},
        {"interlaced-grey-alpha16",
         interlaced(png(1, 16, 4, "\x12\x34\xff\xff"s)),
         {18, 18, 18, 255},
         false},
        {"palette2",
         withPalette(png(2, 2, 3, "\x40"s), "\x00\x00\x00\x05\x06\x07"s),
         {5, 6, 7, 255, 0, 0, 0, 255},
         false},
        {"palette-transparent",
         withPalette(png(1, 8, 3, "\x01"s), "\x00\x00\x00\x05\x06\x07"s, "\xff\x00"s),
         {5, 6, 7, 0},
         true},
    };
    for (const auto& c : cases) {
        const Image image = decodeImage(pngOf(c.file), "m.glb", c.kind);
        EXPECT_EQ(image.width, c.file.width) << c.kind;
        EXPECT_EQ(image.height, 1) << c.kind;
        EXPECT_EQ(texels(image), c.rgba) << c.kind;
        EXPECT_EQ(image.translucent, c.translucent) << c.kind;
    }
}

TEST(ImageDecoding, JpegBaselineProgressiveAndGreyGiveTheirColour) {
    std::string rgb;
    for (int i = 0; i < 16 * 8; ++i)
        rgb += i % 16 < 8 ? "\xc8\x64\x32" : "\x10\x80\xf0";
    const struct {
        const char* kind;
        std::string file;
        std::vector<int> left, right;
    } cases[] = {
        {"baseline", jpegOf(16, 8, rgb), {200, 100, 50}, {16, 128, 240}},
        {"progressive", jpegOf(16, 8, rgb, true), {200, 100, 50}, {16, 128, 240}},
        {"grey",
         jpegOf(16, 8, std::string(16 * 8, '\x5a'), false, true),
         {90, 90, 90},
         {90, 90, 90}},
    };
    for (const auto& c : cases) {
        const Image image = decodeImage(c.file, "m.obj", c.kind);
        ASSERT_EQ(image.width, 16) << c.kind;
        ASSERT_EQ(image.height, 8) << c.kind;
        EXPECT_FALSE(image.translucent);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(image.texel(2, 3)[k], c.left[static_cast<std::size_t>(k)], 2) << c.kind;
            EXPECT_NEAR(image.texel(13, 5)[k], c.right[static_cast<std::size_t>(k)], 2) << c.kind;
        }
    }
}

std::string errorOf(const std::string& bytes) {
    try {
        decodeImage(bytes, "m.glb", "t.img");
    } catch (const InputError& e) {
        return e.what();
    }
    return "no error";
}

TEST(ImageDecoding, BadAndHostileImagesAreRefusedNamingTheImageAndModel) {
    const std::string good = image_files::rgbPng(2, 2, std::string(12, '\x33'));
    std::string badCrc = good;
    badCrc[good.size() - 13] ^= 1;  // the last byte of IDAT's checksum
    Png bomb = png(1, 8, 2, "\x01\x02\x03");
    std::string bombFile = pngOf(bomb);
    bombFile.replace(16, 8, image_files::be32(100000) + image_files::be32(100000));
    // IHDR's CRC must match the claim, or libpng refuses the header before the size is seen.
    bombFile.replace(8, 25, image_files::chunk("IHDR", bombFile.substr(16, 13)));
    const std::string jpeg = jpegOf(16, 16, std::string(3 * 16 * 16, '\x40'));
    std::string jpegBomb = jpeg;
    const std::size_t frame = jpegBomb.find("\xff\xc0");
    jpegBomb.replace(frame + 5, 4, "\xff\x00\xff\x00"s);
    const struct {
        const char* fault;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"not an image", "GIF89a....", "m.glb: image \"t.img\": is neither PNG nor JPEG"},
        {"empty", "", "m.glb: image \"t.img\": is neither PNG nor JPEG"},
        {"truncated png", good.substr(0, good.size() / 2),
         "m.glb: image \"t.img\": corrupt PNG: truncated"},
        {"png without its end", good.substr(0, good.size() - 12),
         "m.glb: image \"t.img\": corrupt PNG: truncated"},
        {"png bad checksum", badCrc, "m.glb: image \"t.img\": corrupt PNG: IDAT: CRC error"},
        {"png bomb", bombFile,
         "m.glb: image \"t.img\": 100000 x 100000 texels is more than the 268435456 an image may "
         "have"},
        {"jpeg premature end", jpeg.substr(0, jpeg.size() / 2),
         "m.glb: image \"t.img\": corrupt JPEG: Premature end of JPEG file"},
        {"jpeg bomb", jpegBomb,
         "m.glb: image \"t.img\": 65280 x 65280 texels is more than the 268435456 an image may "
         "have"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorOf(c.bytes), c.message) << c.fault;
}

}  // namespace
}  // namespace hueslice::io
