#pragma once

// MTL material libraries: the colour (Kd) of each material an OBJ's faces use.

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>

namespace hueslice::io::detail {

using Rgb = std::array<float, 3>;

// The Kd of every material of an MTL text, by name. A name is the rest of its `newmtl` line,
// trimmed, exactly as `usemtl` is read; the first definition of a name counts, and a material
// without Kd is black. Refuses Kd lines that are not three numbers.
std::unordered_map<std::string, Rgb> readMaterials(std::string_view mtlText,
                                                   const std::string& mtlName);

}  // namespace hueslice::io::detail
