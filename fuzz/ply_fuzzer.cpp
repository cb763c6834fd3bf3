// The PLY reader on arbitrary bytes. The first byte picks the vertex-colour option; the rest is
// the file.

#include <io/io.h>

#include "fuzz_targets.h"
#include "geometry_round_trip.h"

namespace hueslice::fuzz {

int fuzzPly(const std::uint8_t* data, std::size_t size) {
    constexpr const char* kTarget = "ply_fuzzer";
    if (size == 0)
        return 0;
    io::PlyOptions options;
    options.vertexColours = (data[0] & 1) != 0;
    GU_Detail out = sentinelDetail();
    try {
        io::readPly(asText(data + 1, size - 1), "fuzz.ply", out, options);
    } catch (const io::InputError&) {
        checkUntouched(kTarget, out);
        return 0;
    }
    checkGroupsInRange(kTarget, out);
    checkJsonRoundTrip(kTarget, out);
    return 0;
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzPly)
