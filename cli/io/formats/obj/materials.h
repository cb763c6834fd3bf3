#pragma once

// MTL material libraries: the colour (Kd) and colour texture (map_Kd) of each material an OBJ's
// faces use.

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>

namespace hueslice::io::detail {

using Rgb = std::array<float, 3>;

// A material's colour texture: its image file as the library names it, and its options.
struct ColourMap {
    std::string file;           // empty: none. Backslashes are turned into '/'
    double offset[2] = {0, 0};  // -o u v
    double scale[2] = {1, 1};   // -s u v
    bool clamp = false;         // -clamp on
    long long line = 0;         // the map_Kd line, for messages
};

struct Material {
    Rgb kd{0, 0, 0};
    bool hasKd = false;
    ColourMap map;
};

// Every material of an MTL text, by name. A name is the rest of its `newmtl` line, trimmed,
// exactly as `usemtl` is read; the first definition of a name counts. A material without Kd
// is black, unless it has a map_Kd: then it is white, so that the texture alone gives its
// colour. map_Kd's options
// come before the file name, which is the rest of the line (so it may hold spaces); -o and -s
// take up to three numbers, -clamp on or off, and the other options of the format are skipped
// with their arguments. Refuses Kd lines that are not three numbers.
std::unordered_map<std::string, Material> readMaterials(std::string_view mtlText,
                                                        const std::string& mtlName);

}  // namespace hueslice::io::detail
