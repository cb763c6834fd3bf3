#pragma once

// Palettes a user writes: a comma-separated list such as "#d32f2f,#1976d2,white", or a file
// with one colour a line, each optionally followed by a name ("#f5f5f5 PLA White").

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "lab.h"

namespace hueslice::colour {

// The most colours a palette may hold, given or chosen.
inline constexpr std::size_t kMaxPaletteColours = 256;

struct PaletteColour {
    Rgb8 rgb{};
    // The name its group takes; empty for none. A CSS colour word given without a name of its
    // own is its name.
    std::string name;
};

// A palette that cannot be used; what() is one line naming where the fault is.
class PaletteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Whether a palette argument names a file (it holds a '/' or a '.') rather than listing colours.
bool namesPaletteFile(std::string_view text);

// The colours of a comma-separated list: each item "#rrggbb" or a CSS colour name, blanks
// around items ignored. Throws PaletteError "fault" for an empty list or item, a
// malformed hexadecimal colour, an unknown word, two items of the same value or more than
// kMaxPaletteColours colours.
std::vector<PaletteColour> parsePaletteList(std::string_view list);

// The colours of a palette file's text: one a line, "#rrggbb" or a CSS name, then optionally a
// name (the rest of the line, blanks around it ignored); blank lines are skipped. Faults as for
// a list, given as "FILE:LINE: fault", and "FILE: holds no colours" for a file without any.
std::vector<PaletteColour> parsePaletteFile(std::string_view text, const std::string& file);

}  // namespace hueslice::colour
