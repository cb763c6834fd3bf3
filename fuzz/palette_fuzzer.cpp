// The palette file reader on arbitrary text, and the first line as a comma-separated list. A
// refused palette must be refused with a PaletteError only; an accepted one must hold 1 to 256
// distinct colours and read back the same when written out as a file.

#include <set>
#include <string>

#include <colour/palette_list.h>

#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace hueslice::fuzz {

namespace {

constexpr const char* kTarget = "palette_fuzzer";

void checkPalette(const std::vector<colour::PaletteColour>& palette) {
    check(!palette.empty() && palette.size() <= colour::kMaxPaletteColours, kTarget,
          "an accepted palette of " + std::to_string(palette.size()) + " colours");
    std::set<colour::Rgb8> distinct;
    std::string text;
    for (const colour::PaletteColour& c : palette) {
        distinct.insert(c.rgb);
        text += colour::hexText(c.rgb) + " " + c.name + "\n";
    }
    check(distinct.size() == palette.size(), kTarget, "a duplicate colour was accepted");
    std::vector<colour::PaletteColour> again;
    try {
        again = colour::parsePaletteFile(text, "written.txt");
    } catch (const colour::PaletteError& e) {
        fail(kTarget, std::string("a written palette does not read back: ") + e.what());
    }
    check(again.size() == palette.size(), kTarget, "a written palette lost colours");
    for (std::size_t i = 0; i < again.size(); ++i) {
        // A name is the rest of its line with blanks around it removed; a CSS word with no
        // name of its own becomes its name.
        check(again[i].rgb == palette[i].rgb && again[i].name == palette[i].name, kTarget,
              "a palette changed on a round trip");
    }
}

}  // namespace

int fuzzPalette(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = asText(data, size);
    try {
        checkPalette(colour::parsePaletteFile(text, "fuzz.txt"));
    } catch (const colour::PaletteError&) {
    }
    try {
        checkPalette(colour::parsePaletteList(text.substr(0, text.find('\n'))));
    } catch (const colour::PaletteError&) {
    }
    return 0;
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzPalette)
