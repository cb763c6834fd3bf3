#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <io/io.h>
#include <io/scene/scene.h>

#include "cli_errors.h"
#include "parm_values.h"

namespace hueslice::cli {

namespace {

[[noreturn]] void refuse(const std::string& assignment, const std::string& why) {
    throw UsageError("--set " + assignment + ": " + why);
}

bool parseInteger(const std::string& text, long long& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

bool parseFloat(const std::string& text, float& value) {
    if (text == "nan") {
        value = std::nanf("");
        return true;
    }
    if (text == "inf" || text == "-inf") {
        value = text[0] == '-' ? -HUGE_VALF : HUGE_VALF;
        return true;
    }
    if (text.empty() || text.size() > 64)
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtof(text.c_str(), &end);
    // A finite text that overflows the float range is refused, not turned into infinity.
    return end == text.c_str() + text.size() && errno != ERANGE && std::isfinite(value);
}

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (true) {
        const auto comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return parts;
}

}  // namespace

std::string numberText(double value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

void applyAssignment(OP_Parameters& node, const std::string& assignment) {
    const auto equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0)
        refuse(assignment, "expected TOKEN=VALUE");
    const std::string token = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    PRM_Parm* parm = node.getParm(token.c_str());
    if (!parm)
        refuse(assignment, "unknown parameter '" + token + "'");

    switch (parm->getTemplate().kind()) {
        case PRM_Kind::MultiList: {
            long long count = 0;
            if (!parseInteger(value, count) || count < 0 || count > io::kMaxEntries) {
                refuse(assignment,
                       "expected a whole number from 0 to " + std::to_string(io::kMaxEntries));
            }
            parm->setFloat(0, 0.0, static_cast<double>(count));
            return;
        }
        case PRM_Kind::Toggle: {
            long long state = 0;
            if (!parseInteger(value, state) || (state != 0 && state != 1)) {
                refuse(assignment, "expected 0 or 1");
            }
            parm->setFloat(0, 0.0, static_cast<double>(state));
            return;
        }
        case PRM_Kind::Colour: {
            const std::vector<std::string> parts = splitCommas(value);
            std::array<float, 3> rgb{};
            if (parts.size() != 3 || !parseFloat(parts[0], rgb[0]) ||
                !parseFloat(parts[1], rgb[1]) || !parseFloat(parts[2], rgb[2])) {
                refuse(assignment, "expected three numbers R,G,B");
            }
            for (int c = 0; c < 3; ++c)
                parm->setFloat(c, 0.0, rgb[static_cast<size_t>(c)]);
            return;
        }
        case PRM_Kind::String:
            parm->setString(value.c_str());
            return;
        default:
            refuse(assignment, "'" + token + "' is a button; use --initialise or --sort");
    }
}

std::string describeValue(const PRM_Parm& parm) {
    const PRM_Kind kind = parm.getTemplate().kind();
    if (kind == PRM_Kind::Button)
        return "(button)";
    if (kind == PRM_Kind::String)
        return "\"" + parm.evalString() + "\"";
    std::string text;
    bool animated = false;
    for (int c = 0; c < parm.getVectorSize(); ++c) {
        if (c > 0)
            text += ' ';
        const double v = parm.evalFloat(c, 0.0);
        text += kind == PRM_Kind::Colour ? io::floatText(static_cast<float>(v)) : numberText(v);
        animated = animated || parm.isAnimated(c);
    }
    return animated ? text + " (animated)" : text;
}

}  // namespace hueslice::cli
