#include <cstdio>
#include <sstream>
#include <vector>

#include <colour/lab.h>

#include "palette.h"

namespace hueslice::cli {

namespace {

std::string fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string padded(const std::string& text, std::size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

}  // namespace

std::string formatPaletteReport(const colour::Reduction& reduction) {
    std::ostringstream text;
    long long faces = 0;
    for (const colour::PaletteUse& use : reduction.colours)
        faces += use.faces;
    text << "palette: " << reduction.colours.size() << " colours for " << faces << " faces"
         << (reduction.weightedByFaces ? " (weighted by face, none has an area)" : "") << "\n";
    if (reduction.colours.empty())
        return text.str();

    std::vector<std::vector<std::string>> rows = {
        {"colour", "name", "faces", "area", "mean dE", "worst dE"}};
    for (const colour::PaletteUse& use : reduction.colours) {
        const double share = reduction.totalArea > 0 ? 100 * use.area / reduction.totalArea : 0;
        rows.push_back({colour::hexText(use.colour.rgb),
                        use.colour.name.empty() ? "-" : io::printable(use.colour.name),
                        std::to_string(use.faces), fixed(share, 1) + "%",
                        use.faces > 0 ? fixed(use.meanDeltaE, 2) : "-",
                        use.faces > 0 ? fixed(use.worstDeltaE, 2) : "-"});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c)
            line += "  " + (c + 1 == row.size() ? row[c] : padded(row[c], widths[c]));
        text << line << "\n";
    }
    if (reduction.worstFace >= 0) {
        const float* c = reduction.worstFaceColour;
        text << "worst face: " << reduction.worstFace << " (colour " << io::floatText(c[0]) << " "
             << io::floatText(c[1]) << " " << io::floatText(c[2]) << ") is "
             << fixed(reduction.worstDeltaE, 2) << " dE from "
             << colour::hexText(reduction.colours[reduction.worstFacePalette].colour.rgb) << "\n";
    }
    return text.str();
}

}  // namespace hueslice::cli
