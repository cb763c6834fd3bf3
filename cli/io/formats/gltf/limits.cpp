#include "io/formats/gltf/limits.h"

#include <cstdint>

#include <nlohmann/json.hpp>

#include "io/io.h"

namespace hueslice::io::gltf {

namespace {

constexpr std::uint32_t kJsonChunk = 0x4E4F534A;  // "JSON"

std::uint32_t u32At(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

[[noreturn]] void fail(const std::string& name, const std::string& what) {
    throw InputError(name + ": " + what);
}

}  // namespace

std::string_view glbJson(std::string_view bytes, const std::string& name) {
    if (bytes.size() < 12)
        fail(name, "a GLB header takes 12 bytes but the file has " + std::to_string(bytes.size()));
    const std::uint32_t version = u32At(bytes, 4);
    if (version == 1)
        fail(name, "glTF 1.0 is not supported");
    if (version != 2)
        fail(name, "byte 4: GLB version " + std::to_string(version) + " is not supported");
    const std::uint32_t length = u32At(bytes, 8);
    if (length > bytes.size()) {
        fail(name, "byte 8: the header gives a length of " + std::to_string(length) +
                       " bytes but the file has " + std::to_string(bytes.size()));
    }
    std::string_view json;
    for (std::size_t at = 12; at < length;) {
        if (length - at < 8)
            fail(name, "byte " + std::to_string(at) + ": a chunk header is cut short");
        const std::uint32_t chunk = u32At(bytes, at);
        if (chunk > length - at - 8) {
            fail(name, "byte " + std::to_string(at) + ": a chunk of " + std::to_string(chunk) +
                           " bytes runs past the end of the file's " + std::to_string(length) +
                           " bytes");
        }
        if (at == 12) {
            if (u32At(bytes, at + 4) != kJsonChunk)
                fail(name, "byte 16: the first chunk is not JSON");
            json = bytes.substr(at + 8, chunk);
        }
        at += 8 + std::size_t{chunk};
    }
    if (json.empty())
        fail(name, "byte 12: the file has no JSON chunk");
    return json;
}

void checkJsonDepth(std::string_view json, const std::string& name) {
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonDepth) {
                fail(name, "byte " + std::to_string(i) + ": arrays and objects nest deeper than " +
                               std::to_string(kMaxJsonDepth));
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

bool isGltf1(std::string_view json) {
    const nlohmann::json document = nlohmann::json::parse(json, nullptr, false);
    if (!document.is_object())
        return false;
    const auto asset = document.find("asset");
    if (asset != document.end() && asset->is_object()) {
        const auto version = asset->find("version");
        if (version != asset->end() && version->is_string())
            return version->get<std::string>().rfind("1.", 0) == 0;
    }
    const auto meshes = document.find("meshes");
    return meshes != document.end() && meshes->is_object();
}

}  // namespace hueslice::io::gltf
