#include "palette_list.h"

#include <cctype>
#include <map>

#include "css_colours.h"

namespace hueslice::colour {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// The colour a word stands for; the fault, without its place, in `fault` when it is none.
bool readColour(std::string_view word, PaletteColour& colour, std::string& fault) {
    const std::string quoted = "'" + std::string(word) + "'";
    if (!word.empty() && word.front() == '#') {
        bool digits = word.size() == 7;
        for (std::size_t i = 1; digits && i < 7; ++i)
            digits = hexDigit(word[i]) >= 0;
        if (!digits) {
            fault = "malformed colour " + quoted + " (expected #rrggbb)";
            return false;
        }
        for (int c = 0; c < 3; ++c) {
            colour.rgb[c] = static_cast<std::uint8_t>(hexDigit(word[1 + 2 * c]) * 16 +
                                                      hexDigit(word[2 + 2 * c]));
        }
        return true;
    }
    if (const std::optional<Rgb8> named = cssColour(word)) {
        colour.rgb = *named;
        colour.name = std::string(word);
        return true;
    }
    fault = "unknown colour " + quoted + " (expected #rrggbb or a CSS colour name)";
    return false;
}

// Collects colours in order, refusing a second of the same value and too many.
class PaletteBuilder {
  public:
    // Adds `colour`, given as `word` at `place`; the fault, without its place, when it cannot.
    bool add(PaletteColour colour, std::string_view word, const std::string& place,
             std::string& fault) {
        const std::uint32_t key = (colour.rgb[0] << 16) | (colour.rgb[1] << 8) | colour.rgb[2];
        const auto [at, added] = seen.emplace(key, "'" + std::string(word) + "'" + place);
        if (!added) {
            fault = "'" + std::string(word) + "' is the same colour as " + at->second + " (" +
                    hexText(colour.rgb) + ")";
            return false;
        }
        if (colours.size() == kMaxPaletteColours) {
            fault = "more than " + std::to_string(kMaxPaletteColours) + " colours";
            return false;
        }
        colours.push_back(std::move(colour));
        return true;
    }
    std::vector<PaletteColour> colours;

  private:
    std::map<std::uint32_t, std::string> seen;
};

}  // namespace

bool namesPaletteFile(std::string_view text) {
    return text.find('/') != std::string_view::npos || text.find('.') != std::string_view::npos;
}

std::vector<PaletteColour> parsePaletteList(std::string_view list) {
    if (trimmed(list).empty())
        throw PaletteError("no colours given");
    PaletteBuilder palette;
    std::string fault;
    while (true) {
        const std::size_t comma = list.find(',');
        const std::string_view word = trimmed(list.substr(0, comma));
        PaletteColour colour;
        if (word.empty())
            throw PaletteError("an empty item in the colour list");
        if (!readColour(word, colour, fault) || !palette.add(std::move(colour), word, "", fault))
            throw PaletteError(fault);
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return std::move(palette.colours);
}

std::vector<PaletteColour> parsePaletteFile(std::string_view text, const std::string& file) {
    PaletteBuilder palette;
    std::string fault;
    for (long long line = 1; !text.empty(); ++line) {
        const std::size_t end = text.find('\n');
        const std::string_view row = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (row.empty())
            continue;
        std::size_t wordEnd = 0;
        while (wordEnd < row.size() && !isBlank(row[wordEnd]))
            ++wordEnd;
        const std::string_view word = row.substr(0, wordEnd);
        PaletteColour colour;
        const std::string place = file + ":" + std::to_string(line) + ": ";
        if (!readColour(word, colour, fault))
            throw PaletteError(place + fault);
        const std::string_view name = trimmed(row.substr(wordEnd));
        if (!name.empty())
            colour.name = std::string(name);
        if (!palette.add(std::move(colour), word, " on line " + std::to_string(line), fault))
            throw PaletteError(place + fault);
    }
    if (palette.colours.empty())
        throw PaletteError(file + ": holds no colours");
    return std::move(palette.colours);
}

}  // namespace hueslice::colour
