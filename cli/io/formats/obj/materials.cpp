#include "io/formats/obj/materials.h"

#include <charconv>
#include <limits>
#include <string>
#include <vector>

#include "io/formats/obj/lines.h"
#include "io/internal.h"

namespace hueslice::io::detail {

namespace {

// Calls `visit(lineNumber, words)` for every line with words, lines ended by \n, \r\n or \r.
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
            visit(lineNo, words);
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

}  // namespace

std::unordered_map<std::string, Rgb> readMaterials(std::string_view mtlText,
                                                   const std::string& mtlName) {
    std::unordered_map<std::string, Rgb> materials;
    Rgb* current = nullptr;
    forEachLine(mtlText, [&](long long line, const std::vector<std::string_view>& w) {
        if (w[0] == "newmtl") {
            const std::string_view materialName = restOf(w);
            refuseNul(materialName, mtlName, line, "material name");
            const auto added = materials.emplace(std::string(materialName), Rgb{0, 0, 0});
            current = added.second && !materialName.empty() ? &added.first->second : nullptr;
            return;
        }
        if (w[0] != "Kd")
            return;
        if (w.size() != 4 || !isNumber(w[1]) || !isNumber(w[2]) || !isNumber(w[3])) {
            failAt(mtlName, line, "Kd needs 3 numbers");
        }
        if (current) {
            for (int c = 0; c < 3; ++c)
                (*current)[static_cast<std::size_t>(c)] =
                    kdComponent(w[static_cast<std::size_t>(c) + 1]);
        }
    });
    return materials;
}

}  // namespace hueslice::io::detail
