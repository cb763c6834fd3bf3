#include "io/internal.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <sop/colour_attribute.h>

#include "io/commit/output_batch.h"

namespace hueslice::io::detail {

int colourOffset(const GU_Detail& detail) {
    return resolveColourAttribute(detail).offset;
}

void splitWords(std::string_view line, std::vector<std::string_view>& out) {
    out.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
}

std::string countOf(unsigned long long count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string thereAre(unsigned long long count, std::string_view one, std::string_view many) {
    return (count == 1 ? "there is " : "there are ") + countOf(count, one, many);
}

std::string cornerColourNote(const std::string& name, long long faces, long long ties) {
    return name + ": " +
           countOf(static_cast<unsigned long long>(faces), "face takes the colour most of its",
                   "faces take the colour most of their") +
           " corners share (vertex colours); " +
           (ties == 0 ? std::string("no face had a tie")
                      : countOf(static_cast<unsigned long long>(ties), "face", "faces") +
                            " had a tie, settled by the earliest corner");
}

void setFaceColours(GU_Detail& geo, const std::vector<float>& rgb) {
    const int cd = geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
    for (long long f = 0; f < geo.primitiveCount(); ++f)
        std::memcpy(geo.primitiveAttribData(f) + cd, rgb.data() + 3 * static_cast<std::size_t>(f),
                    12);
}

std::string noFacesNote(const std::string& name, const std::string& why, bool vertexColours) {
    return name + ": no faces were read (" + why + "), so there is nothing to group" +
           (vertexColours ? "; vertex colours colour faces only, with --vertex-colours too" : "");
}

bool narrowToFloat(double value, float& out) {
    // Halfway between the largest float and 2^128: anything from here up rounds to infinity.
    constexpr double kOverflow = 340282356779733661637539395458142568448.0;
    constexpr auto kMax = static_cast<double>(std::numeric_limits<float>::max());
    if (std::isfinite(value) && std::fabs(value) > kMax) {
        if (std::fabs(value) >= kOverflow)
            return false;
        out = value > 0 ? std::numeric_limits<float>::max() : -std::numeric_limits<float>::max();
        return true;
    }
    out = static_cast<float>(value);
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string extensionOf(const std::string& path) {
    const std::string base = baseOf(path);
    const auto dot = base.find_last_of('.');
    if (dot == std::string::npos)
        return {};
    std::string ext = base.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string stemPath(const std::string& path) {
    const std::string base = baseOf(path);
    const auto dot = base.find_last_of('.');
    return dot == std::string::npos ? path : path.substr(0, path.size() - (base.size() - dot));
}

// `text` as XML character data. What XML cannot hold at all (bytes that are not UTF-8, control
// characters other than tab and line breaks, U+FFFE and U+FFFF) becomes U+FFFD; `changed` says
// whether anything did.
std::string escapeXml(const std::string& text, bool& changed) {
    std::string out;
    out.reserve(text.size());
    changed = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        char32_t c = 0;
        const bool valid = detail::nextCodePoint(text, pos, c);
        if (!valid || (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE ||
            c == 0xFFFF) {
            out += "\xEF\xBF\xBD";
            changed = true;
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '\t':
            case '\n':
            case '\r':
                // As references, so that a reader does not fold them into plain spaces.
                out += "&#" + std::to_string(static_cast<unsigned>(c)) + ";";
                break;
            default:
                out.append(text, start, pos - start);
        }
    }
    return out;
}

Notes stageWritten(OutputBatch& batch, const std::string& path, WrittenFile file) {
    batch.add(path, std::move(file.bytes));
    return std::move(file.notes);
}

}  // namespace hueslice::io::detail

namespace hueslice::io {

std::string floatText(float value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

}  // namespace hueslice::io
