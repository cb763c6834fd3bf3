// The OBJ reader on arbitrary bytes: OBJ text up to the last NUL, MTL text after it (no NUL: no
// material library). Splitting at the last NUL lets the OBJ part hold NUL bytes of its own.
// Read a few bytes at a time (how many, and whether a helper thread reads ahead, follow from the
// input's length), the texts must give exactly what they give whole.

#include <optional>
#include <string>

#include <io/formats/obj/obj.h>
#include <io/formats/obj/source.h>
#include <io/io.h>

#include "fuzz_targets.h"
#include "geometry_round_trip.h"

namespace hueslice::fuzz {

int fuzzObj(const std::uint8_t* data, std::size_t size) {
    constexpr const char* kTarget = "obj_fuzzer";
    const std::string_view whole = asText(data, size);
    const std::size_t nul = whole.rfind('\0');
    const std::string_view objText = whole.substr(0, nul);
    std::optional<std::string_view> mtlText;
    if (nul != std::string_view::npos)
        mtlText = whole.substr(nul + 1);

    io::detail::ObjSource pieces = io::detail::memoryObjSource(objText, mtlText, "fuzz.mtl");
    pieces.pieceBytes = 1 + size % 61;
    pieces.helperThread = size % 2 == 1;
    const std::string atOnce = outcomeOf([&](GU_Detail& read) {
        return io::readObj(objText, "fuzz.obj", mtlText, "fuzz.mtl", read);
    });
    const std::string inPieces = outcomeOf([&](GU_Detail& read) {
        return io::detail::readObjPieces(pieces, "fuzz.obj", read, {}, nullptr);
    });
    check(atOnce == inPieces, kTarget,
          "read in pieces of " + std::to_string(pieces.pieceBytes) + " bytes, the text gives " +
              inPieces.substr(0, 200) + " where it gives " + atOnce.substr(0, 200) + " whole");

    GU_Detail out = sentinelDetail();
    try {
        io::readObj(objText, "fuzz.obj", mtlText, "fuzz.mtl", out);
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

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzObj)
