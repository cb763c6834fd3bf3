// The glTF reader on arbitrary bytes (GLB when they start with its magic, JSON text otherwise),
// with no access to files.

#include <io/exchange.h>

#include "fuzz_targets.h"
#include "geometry_round_trip.h"

namespace hueslice::fuzz {

int fuzzGltf(const std::uint8_t* data, std::size_t size) {
    constexpr const char* kTarget = "gltf_fuzzer";
    GU_Detail out = sentinelDetail();
    try {
        io::readGltf(asText(data, size), "fuzz.gltf", out);
    } catch (const io::InputError&) {
        checkUntouched(kTarget, out);
        return 0;
    }
    checkGroupsInRange(kTarget, out);
    checkJsonRoundTrip(kTarget, out);

    // Every face read is a triangle in at most one group, so what the writer makes of the
    // result reads back with one face per visible face.
    io::WrittenFile written;
    try {
        written = io::writeGltf(out, {}, true, "back.glb");
    } catch (const io::OutputError&) {
        return 0;
    }
    const GB_PrimitiveGroup* hidden = out.primitiveGroups().find(io::kHiddenGroupName);
    const long long visible =
        out.primitiveCount() - static_cast<long long>(hidden ? hidden->entries() : 0);
    GU_Detail back;
    try {
        io::readGltf(written.bytes, "back.glb", back);
    } catch (const io::InputError& e) {
        fail(kTarget, std::string("written GLB does not read back: ") + e.what());
    }
    check(back.primitiveCount() == visible, kTarget,
          "written GLB reads back with a different number of faces");
    return 0;
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzGltf)
