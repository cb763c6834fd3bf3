// The 3MF reader on arbitrary bytes.

#include <io/exchange.h>

#include "fuzz_targets.h"
#include "geometry_round_trip.h"

namespace hueslice::fuzz {

int fuzzThreeMf(const std::uint8_t* data, std::size_t size) {
    constexpr const char* kTarget = "threemf_fuzzer";
    GU_Detail out = sentinelDetail();
    try {
        io::read3mf(asText(data, size), "fuzz.3mf", out);
    } catch (const io::InputError&) {
        checkUntouched(kTarget, out);
        return 0;
    }
    checkGroupsInRange(kTarget, out);
    checkJsonRoundTrip(kTarget, out);

    // Every face read is a triangle in at most one group (its object's name), so the package
    // written from the result reads back with one face per visible face.
    io::WrittenFile written;
    try {
        written = io::write3mf(out, {}, "back.3mf");
    } catch (const io::OutputError&) {
        return 0;
    }
    const GB_PrimitiveGroup* hidden = out.primitiveGroups().find(io::kHiddenGroupName);
    const long long visible =
        out.primitiveCount() - static_cast<long long>(hidden ? hidden->entries() : 0);
    GU_Detail back;
    try {
        io::read3mf(written.bytes, "back.3mf", back);
    } catch (const io::InputError& e) {
        fail(kTarget, std::string("written 3MF does not read back: ") + e.what());
    }
    check(back.primitiveCount() == visible, kTarget,
          "written 3MF reads back with a different number of faces");
    return 0;
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzThreeMf)
