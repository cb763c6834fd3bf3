// The 3MF reader on arbitrary bytes.

#include <io/formats/3mf/3mf.h>
#include <io/io.h>

#include "fuzz_targets.h"
#include "geometry_round_trip.h"

namespace hueslice::fuzz {

int fuzzThreeMf(const std::uint8_t* data, std::size_t size) {
    return checkPartsFormat(
        "threemf_fuzzer", "3MF", asText(data, size), "fuzz.3mf", "back.3mf",
        [](std::string_view bytes, const std::string& name, GU_Detail& out) {
            io::read3mf(bytes, name, out);
        },
        [](const GU_Detail& detail, const std::string& name) {
            return io::write3mf(detail, {}, name);
        });
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzThreeMf)
