#include "io/formats/obj/materials.h"

#include <charconv>
#include <limits>
#include <string>
#include <vector>

#include "io/formats/obj/lines.h"
#include "io/internal.h"

namespace hueslice::io::detail {

namespace {

// Calls `visit(lineNumber, words, line)` for every line with words, lines ended by \n, \r\n or \r.
template <typename Visit>
void forEachLine(std::string_view text, Visit&& visit) {
    std::size_t pos = 0;
    long long lineNo = 0;
    std::vector<std::string_view> words;
    while (pos < text.size()) {
        std::size_t end = pos;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        const std::string_view line = text.substr(pos, end - pos);
        pos = end;
        if (pos < text.size() && text[pos] == '\r' && pos + 1 < text.size() &&
            text[pos + 1] == '\n') {
            ++pos;
        }
        ++pos;
        ++lineNo;
        if (lineNo % detail::kProgressStep == 0)
            detail::reportProgress(pos, text.size());
        detail::splitWords(line, words);
        if (!words.empty() && words[0][0] != '#')
            visit(lineNo, words, line);
    }
}

// A number of a Kd line at float precision; beyond the float range it is an infinity.
float kdComponent(std::string_view word) {
    if (!word.empty() && word[0] == '+')
        word.remove_prefix(1);
    double value = 0.0;
    std::from_chars(word.data(), word.data() + word.size(), value);
    float narrowed = 0.0f;
    if (!detail::narrowToFloat(value, narrowed))
        // Its sign from the double: converting a double beyond the float range is undefined.
        narrowed = value < 0 ? -std::numeric_limits<float>::infinity()
                             : std::numeric_limits<float>::infinity();
    return narrowed;
}

// How many words each map option takes after its name; -o, -s and -t take up to three numbers.
int argumentsOf(std::string_view option) {
    if (option == "-mm")
        return 2;
    if (option == "-o" || option == "-s" || option == "-t")
        return 3;
    return 1;  // -blendu -blendv -bm -boost -cc -clamp -imfchan -texres -type
}

// map_Kd's options and file name, from the words after the keyword.
ColourMap readColourMap(const std::vector<std::string_view>& w, std::string_view line,
                        long long lineNo) {
    ColourMap map;
    map.line = lineNo;
    std::size_t i = 1;
    while (i < w.size() && w[i].size() > 1 && w[i][0] == '-' && !isNumber(w[i])) {
        const std::string_view option = w[i++];
        const int most = argumentsOf(option);
        double values[3] = {0, 0, 0};
        int taken = 0;
        const bool numeric = most == 3;
        while (taken < most && i + 1 < w.size() && (!numeric || isNumber(w[i]))) {
            if (numeric)
                parseNumber(w[i], values[taken]);
            else if (option == "-clamp")
                map.clamp = w[i] == "on";
            ++taken;
            ++i;
        }
        if (option == "-o" && taken > 0) {
            map.offset[0] = values[0];
            map.offset[1] = taken > 1 ? values[1] : 0.0;
        } else if (option == "-s" && taken > 0) {
            map.scale[0] = values[0];
            map.scale[1] = taken > 1 ? values[1] : 1.0;
        }
    }
    if (i >= w.size())
        return map;
    // The file name: the rest of the line from its first word, blanks at the end trimmed.
    std::string_view file = line.substr(static_cast<std::size_t>(w[i].data() - line.data()));
    while (!file.empty() && (file.back() == ' ' || file.back() == '\t'))
        file.remove_suffix(1);
    map.file.assign(file);
    for (char& c : map.file) {
        if (c == '\\')
            c = '/';
    }
    return map;
}

}  // namespace

std::unordered_map<std::string, Material> readMaterials(std::string_view mtlText,
                                                        const std::string& mtlName) {
    std::unordered_map<std::string, Material> materials;
    Material* current = nullptr;
    forEachLine(mtlText, [&](long long line, const std::vector<std::string_view>& w,
                             std::string_view text) {
        if (w[0] == "newmtl") {
            const std::string_view materialName = restOf(w);
            refuseNul(materialName, mtlName, line, "material name");
            const auto added = materials.emplace(std::string(materialName), Material{});
            current = added.second && !materialName.empty() ? &added.first->second : nullptr;
            return;
        }
        if (w[0] == "map_Kd") {
            if (current && current->map.file.empty()) {
                current->map = readColourMap(w, text, line);
                refuseNul(current->map.file, mtlName, line, "texture name");
            }
            return;
        }
        if (w[0] != "Kd")
            return;
        if (w.size() != 4 || !isNumber(w[1]) || !isNumber(w[2]) || !isNumber(w[3])) {
            failAt(mtlName, line, "Kd needs 3 numbers");
        }
        if (current) {
            for (int c = 0; c < 3; ++c)
                current->kd[static_cast<std::size_t>(c)] =
                    kdComponent(w[static_cast<std::size_t>(c) + 1]);
            current->hasKd = true;
        }
    });
    for (auto& [materialName, material] : materials) {
        if (!material.hasKd && !material.map.file.empty())
            material.kd = {1, 1, 1};  // the texture alone gives the colour
    }
    return materials;
}

}  // namespace hueslice::io::detail
