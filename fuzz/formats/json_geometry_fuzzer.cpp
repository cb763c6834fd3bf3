// The JSON geometry reader on arbitrary text; what it accepts must survive write, read, write,
// and an OBJ round trip with its groups (JSON can hold any group name).

#include <io/formats/json/json_geometry.h>
#include <io/io.h>

#include "fuzz_targets.h"
#include "geometry_round_trip.h"

namespace hueslice::fuzz {

int fuzzJsonGeometry(const std::uint8_t* data, std::size_t size) {
    constexpr const char* kTarget = "json_geometry_fuzzer";
    GU_Detail out = sentinelDetail();
    try {
        io::readJsonGeometry(asText(data, size), "fuzz.json", out);
    } catch (const io::InputError&) {
        checkUntouched(kTarget, out);
        return 0;
    }
    checkGroupsInRange(kTarget, out);
    checkJsonRoundTrip(kTarget, out);
    checkObjRoundTrip(kTarget, out);
    return 0;
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzJsonGeometry)
