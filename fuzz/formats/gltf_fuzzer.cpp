// The glTF reader on arbitrary bytes (GLB when they start with its magic, JSON text otherwise),
// with no access to files.

#include <io/formats/gltf/gltf.h>
#include <io/io.h>

#include "fuzz_targets.h"
#include "geometry_round_trip.h"

namespace hueslice::fuzz {

int fuzzGltf(const std::uint8_t* data, std::size_t size) {
    return checkPartsFormat(
        "gltf_fuzzer", "GLB", asText(data, size), "fuzz.gltf", "back.glb",
        [](std::string_view bytes, const std::string& name, GU_Detail& out) {
            io::readGltf(bytes, name, out);
        },
        [](const GU_Detail& detail, const std::string& name) {
            return io::writeGltf(detail, {}, true, name);
        });
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzGltf)
