#pragma once

// The CSS named colours ("white", "rebeccapurple", all 148 of them), which palettes may use in
// place of hexadecimal values.

#include <optional>
#include <string_view>

#include "lab.h"

namespace hueslice::colour {

// The colour a CSS colour name stands for, with the name matched without regard to case;
// nothing for any other word.
std::optional<Rgb8> cssColour(std::string_view name);

// How many names cssColour knows (148), for tests.
std::size_t cssColourCount();

}  // namespace hueslice::colour
