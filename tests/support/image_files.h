#pragma once

// Hand-made images for tests and fuzz seeds: PNG assembled chunk by chunk (any colour type, bit
// depth, palette, transparency and interlacing), JPEG encoded with libjpeg (baseline or
// progressive).

#include <cstdio>

#include <jpeglib.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace image_files {

inline std::string be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

inline std::string chunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    return be32(static_cast<std::uint32_t>(data.size())) + body + be32(crc);
}

struct Png {
    int width = 1;
    int height = 1;
    int depth = 8;
    int colourType = 2;        // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
    std::string rows;          // raw samples, rows top first, without filter bytes
    std::string palette;       // PLTE's data, for colour type 3
    std::string transparency;  // tRNS's data, when not empty
    bool interlaced = false;   // Adam7: rows must then be given already in pass order
};

inline std::string pngOf(const Png& p) {
    const int channels = p.colourType == 0 || p.colourType == 3 ? 1
                         : p.colourType == 4                    ? 2
                         : p.colourType == 2                    ? 3
                                                                : 4;
    const std::size_t rowBytes = (static_cast<std::size_t>(p.width) * channels * p.depth + 7) / 8;
    std::string filtered;
    for (int y = 0; y < p.height; ++y)
        filtered += '\0' + p.rows.substr(static_cast<std::size_t>(y) * rowBytes, rowBytes);
    uLongf size = compressBound(static_cast<uLong>(filtered.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size,
             reinterpret_cast<const Bytef*>(filtered.data()), static_cast<uLong>(filtered.size()));
    packed.resize(size);
    std::string header =
        be32(static_cast<std::uint32_t>(p.width)) + be32(static_cast<std::uint32_t>(p.height));
    header += {static_cast<char>(p.depth), static_cast<char>(p.colourType), 0, 0,
               static_cast<char>(p.interlaced ? 1 : 0)};
    std::string out("\x89PNG\r\n\x1a\n", 8);
    out += chunk("IHDR", header);
    if (!p.palette.empty())
        out += chunk("PLTE", p.palette);
    if (!p.transparency.empty())
        out += chunk("tRNS", p.transparency);
    return out + chunk("IDAT", packed) + chunk("IEND", "");
}

// An 8-bit RGB PNG of `rgb`, three bytes a texel, rows top first.
inline std::string rgbPng(int width, int height, const std::string& rgb) {
    Png p;
    p.width = width;
    p.height = height;
    p.rows = rgb;
    return pngOf(p);
}

// 4 x 4 texels, three bytes each, whose quadrants are red (top left), blue (top right), green
// (bottom left) and white: a texture whose regions a face's colour tells apart.
inline std::string quadrantsRgb() {
    const std::string red("\xff\x00\x00", 3), blue("\x00\x00\xff", 3), green("\x00\xff\x00", 3),
        white("\xff\xff\xff", 3);
    std::string rgb;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            rgb += y < 2 ? (x < 2 ? red : blue) : (x < 2 ? green : white);
    }
    return rgb;
}

// A JPEG of `rgb` (three bytes a texel, rows top first) at the best quality, without chroma
// subsampling, so that flat regions decode to their colour within a step or two.
inline std::string jpegOf(int width, int height, const std::string& rgb, bool progressive = false,
                          bool grey = false) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = grey ? 1 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    for (int c = 0; c < cinfo.num_components; ++c)
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t stride = static_cast<std::size_t>(width) * (grey ? 1 : 3);
    std::string row;
    while (cinfo.next_scanline < cinfo.image_height) {
        row = rgb.substr(cinfo.next_scanline * stride, stride);
        JSAMPROW p = reinterpret_cast<JSAMPROW>(row.data());
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string out(reinterpret_cast<char*>(buffer), size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

}  // namespace image_files
