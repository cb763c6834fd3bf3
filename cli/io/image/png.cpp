// PNG through libpng. libpng reports errors by longjmp, so every call that may fail runs in a
// small function that holds nothing with a destructor; the structures and buffers live in the
// caller, which throws once such a function has returned.

#include <png.h>

#include <csetjmp>
#include <cstring>

#include "io/image/image.h"
#include "io/io.h"

namespace hueslice::io::detail {

namespace {

struct Source {
    const unsigned char* data;
    std::size_t size;
    std::size_t offset;
    char error[200];
};

void readBytes(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (length > source->size - source->offset)
        png_error(png, "truncated");
    std::memcpy(out, source->data + source->offset, length);
    source->offset += length;
}

void onError(png_structp png, png_const_charp message) {
    auto* source = static_cast<Source*>(png_get_error_ptr(png));
    std::strncpy(source->error, message, sizeof source->error - 1);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// Reads the header and asks for 8-bit RGBA texels whatever the file holds.
bool readHeader(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    const int type = png_get_color_type(png, info);
    png_set_scale_16(png);
    if (type == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    if (!(type & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

bool readTexels(png_structp png, png_infop info, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

// Frees libpng's structures however the decoding ends.
struct Reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~Reader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

}  // namespace

Image decodePng(std::string_view bytes, const std::string& where) {
    Source source{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0, {}};
    Reader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, onError, onWarning);
    if (reader.png)
        reader.info = png_create_info_struct(reader.png);
    if (!reader.info)
        throw std::bad_alloc();
    png_set_read_fn(reader.png, &source, readBytes);
    // The size is checked below, against the project's own limit.
    png_set_user_limits(reader.png, 0x7fffffff, 0x7fffffff);
    const auto fault = [&] { return InputError(where + ": corrupt PNG: " + source.error); };
    if (!readHeader(reader.png, reader.info))
        throw fault();
    const png_uint_32 width = png_get_image_width(reader.png, reader.info);
    const png_uint_32 height = png_get_image_height(reader.png, reader.info);
    checkImageSize(width, height, where);
    if (png_get_rowbytes(reader.png, reader.info) != std::size_t{4} * width)
        throw InputError(where + ": PNG texels cannot be read as 8-bit RGBA");
    Image image;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.rgba.resize(std::size_t{4} * width * height);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = image.rgba.data() + std::size_t{4} * width * y;
    if (!readTexels(reader.png, reader.info, rows.data()))
        throw fault();
    return image;
}

}  // namespace hueslice::io::detail
