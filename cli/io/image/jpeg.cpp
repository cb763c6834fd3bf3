// JPEG through libjpeg-turbo. Its errors end in a longjmp, so every call that may fail runs in a
// small function that holds nothing with a destructor. A warning (corrupt data, a premature end
// of the data) is an error too: a truncated photo would otherwise decode with grey rows.

#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <csetjmp>
#include <cstring>

#include "io/image/image.h"
#include "io/io.h"

namespace hueslice::io::detail {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level) {
    if (level < 0)  // a warning: the data is corrupt
        onError(cinfo);
}

bool readHeader(jpeg_decompress_struct* cinfo, ErrorManager* errors) {
    if (setjmp(errors->jump))
        return false;
    jpeg_read_header(cinfo, TRUE);
    cinfo->out_color_space = JCS_EXT_RGBA;
    return true;
}

bool readTexels(jpeg_decompress_struct* cinfo, ErrorManager* errors, unsigned char* texels) {
    if (setjmp(errors->jump))
        return false;
    jpeg_start_decompress(cinfo);
    const std::size_t stride = std::size_t{4} * cinfo->output_width;
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = texels + stride * cinfo->output_scanline;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

// Frees the decoder however the decoding ends.
struct Decoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    Decoder() {
        cinfo.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = onError;
        errors.base.emit_message = onMessage;
    }
    ~Decoder() { jpeg_destroy_decompress(&cinfo); }
};

bool create(Decoder& decoder, const std::string_view bytes) {
    if (setjmp(decoder.errors.jump))
        return false;
    jpeg_create_decompress(&decoder.cinfo);
    jpeg_mem_src(&decoder.cinfo, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    return true;
}

}  // namespace

Image decodeJpeg(std::string_view bytes, const std::string& where) {
    Decoder decoder;
    const auto fault = [&] {
        return InputError(where + ": corrupt JPEG: " + std::string(decoder.errors.message));
    };
    if (!create(decoder, bytes) || !readHeader(&decoder.cinfo, &decoder.errors))
        throw fault();
    checkImageSize(decoder.cinfo.image_width, decoder.cinfo.image_height, where);
    Image image;
    image.width = static_cast<int>(decoder.cinfo.image_width);
    image.height = static_cast<int>(decoder.cinfo.image_height);
    image.rgba.resize(std::size_t{4} * decoder.cinfo.image_width * decoder.cinfo.image_height);
    if (!readTexels(&decoder.cinfo, &decoder.errors, image.rgba.data()))
        throw fault();
    return image;
}

}  // namespace hueslice::io::detail
