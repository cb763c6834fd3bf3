#pragma once

// Hand-made 3MF packages and glTF files for tests: ZIP archives built in memory with libzip,
// 3MF model parts around given resources, and glTF with its buffer embedded or in a GLB.

#include <zip.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace package_files {

using Entries = std::vector<std::pair<std::string, std::string>>;

// A ZIP archive holding `entries` (name, bytes), deflated.
inline std::string zipOf(const Entries& entries) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(source);
    zip_t* archive = zip_open_from_source(source, ZIP_TRUNCATE, &error);
    if (!archive)
        throw std::runtime_error("cannot make a zip");
    for (const auto& [name, bytes] : entries) {
        zip_source_t* data = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
        zip_file_add(archive, name.c_str(), data, ZIP_FL_ENC_UTF_8);
    }
    zip_close(archive);
    std::string out;
    zip_source_open(source);
    zip_source_seek(source, 0, SEEK_END);
    out.resize(static_cast<std::size_t>(zip_source_tell(source)));
    zip_source_seek(source, 0, SEEK_SET);
    zip_source_read(source, out.data(), out.size());
    zip_source_close(source);
    zip_source_free(source);
    return out;
}

// The bytes of entry `name` of a ZIP archive; empty when it is missing.
inline std::string zipEntry(const std::string& archiveBytes, const std::string& name) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source =
        zip_source_buffer_create(archiveBytes.data(), archiveBytes.size(), 0, &error);
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!archive) {
        zip_source_free(source);
        return {};
    }
    std::string out;
    if (zip_file_t* file = zip_fopen(archive, name.c_str(), 0)) {
        char buffer[4096];
        zip_int64_t n;
        while ((n = zip_fread(file, buffer, sizeof buffer)) > 0)
            out.append(buffer, static_cast<std::size_t>(n));
        zip_fclose(file);
    }
    zip_discard(archive);
    return out;
}

// A 3MF package whose model holds `resources` and `build`, in millimetres unless `unit` says
// otherwise. The material namespace is bound to "m".
inline std::string threeMf(const std::string& resources, const std::string& build,
                           const std::string& unit = "millimeter") {
    const std::string types =
        R"(<?xml version="1.0" encoding="UTF-8"?>)"
        R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
        R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
        R"(<Default Extension="model" ContentType="application/vnd.ms-package.3dmanufacturing-3dmodel+xml"/>)"
        R"(</Types>)";
    const std::string rels =
        R"(<?xml version="1.0" encoding="UTF-8"?>)"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Target="/3D/3dmodel.model" Id="rel0" Type="http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel"/>)"
        R"(</Relationships>)";
    const std::string model =
        R"(<?xml version="1.0" encoding="UTF-8"?>)"
        R"(<model unit=")" +
        unit +
        R"(" xml:lang="en-US" xmlns="http://schemas.microsoft.com/3dmanufacturing/core/2015/02")"
        R"( xmlns:m="http://schemas.microsoft.com/3dmanufacturing/material/2015/02">)"
        "<resources>" +
        resources + "</resources><build>" + build + "</build></model>";
    return zipOf(
        {{"[Content_Types].xml", types}, {"_rels/.rels", rels}, {"3D/3dmodel.model", model}});
}

// A 3MF mesh object: one unit right triangle per entry of `triangleAttributes` (each its own
// three vertices, the n-th moved n along x), each triangle tag carrying its attributes text.
inline std::string meshObject(int id, const std::string& objectAttributes,
                              const std::vector<std::string>& triangleAttributes) {
    std::string vertices;
    std::string triangles;
    for (std::size_t t = 0; t < triangleAttributes.size(); ++t) {
        const std::string x = std::to_string(t);
        vertices += "<vertex x=\"" + x + "\" y=\"0\" z=\"0\"/><vertex x=\"" + x +
                    ".5\" y=\"0\" z=\"0\"/><vertex x=\"" + x + "\" y=\"1\" z=\"0\"/>";
        triangles += "<triangle v1=\"" + std::to_string(3 * t) + "\" v2=\"" +
                     std::to_string(3 * t + 1) + "\" v3=\"" + std::to_string(3 * t + 2) + "\" " +
                     triangleAttributes[t] + "/>";
    }
    return "<object id=\"" + std::to_string(id) + "\" type=\"model\" " + objectAttributes +
           "><mesh><vertices>" + vertices + "</vertices><triangles>" + triangles +
           "</triangles></mesh></object>";
}

inline std::string base64(const std::string& bytes) {
    static const char* kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const auto n = (std::uint32_t(std::uint8_t(bytes[i])) << 16) |
                       (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8) |
                       std::uint8_t(bytes[i + 2]);
        for (int k = 3; k >= 0; --k)
            out += kDigits[(n >> (6 * k)) & 63];
    }
    if (i < bytes.size()) {
        std::uint32_t n = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            n |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

template <typename T>
std::string bytesOf(const std::vector<T>& values) {
    std::string out(values.size() * sizeof(T), '\0');
    std::memcpy(out.data(), values.data(), out.size());
    return out;
}

inline std::string le32(std::uint32_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

// A GLB holding `json` and the binary chunk `bin` (both padded to 4 bytes as required).
inline std::string glbOf(std::string json, std::string bin) {
    while (json.size() % 4)
        json += ' ';
    while (bin.size() % 4)
        bin += '\0';
    std::string out =
        "glTF" + le32(2) +
        le32(static_cast<std::uint32_t>(12 + 8 + json.size() + (bin.empty() ? 0 : 8 + bin.size())));
    out += le32(static_cast<std::uint32_t>(json.size())) + "JSON" + json;
    if (!bin.empty())
        out += le32(static_cast<std::uint32_t>(bin.size())) + std::string("BIN\0", 4) + bin;
    return out;
}

}  // namespace package_files
