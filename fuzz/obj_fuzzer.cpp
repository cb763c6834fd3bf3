// The OBJ reader on arbitrary bytes: OBJ text up to the first NUL, MTL text after it (no NUL:
// no material library).

#include <optional>

#include <io/io.h>

#include "fuzz_targets.h"
#include "geometry_round_trip.h"

namespace hueslice::fuzz {

int fuzzObj(const std::uint8_t* data, std::size_t size) {
    constexpr const char* kTarget = "obj_fuzzer";
    const std::string_view whole = asText(data, size);
    const std::size_t nul = whole.find('\0');
    const std::string_view objText = whole.substr(0, nul);
    std::optional<std::string_view> mtlText;
    if (nul != std::string_view::npos)
        mtlText = whole.substr(nul + 1);

    GU_Detail out = sentinelDetail();
    try {
        io::readObj(objText, "fuzz.obj", mtlText, "fuzz.mtl", out);
    } catch (const io::InputError&) {
        checkUntouched(kTarget, out);
        return 0;
    }
    checkGroupsInRange(kTarget, out);
    checkJsonRoundTrip(kTarget, out);

    // What the OBJ writer makes of the result must read back as the same number of faces.
    io::ObjText written;
    try {
        written = io::writeObj(out, "back.mtl", "back.obj");
    } catch (const io::OutputError&) {
        return 0;
    }
    GU_Detail back;
    try {
        io::readObj(written.obj, "back.obj", written.mtl, "back.mtl", back);
    } catch (const io::InputError& e) {
        fail(kTarget, std::string("written OBJ does not read back: ") + e.what());
    }
    check(back.primitiveCount() == out.primitiveCount(), kTarget,
          "written OBJ reads back with a different number of faces");
    return 0;
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzObj)
