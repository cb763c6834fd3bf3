#include <charconv>

#include <colour/palette_list.h>
#include <io/input/input_file.h>

#include "cli_errors.h"
#include "palette.h"

namespace hueslice::cli {

std::optional<colour::ReductionRequest> paletteRequest(const std::string& colours,
                                                       const std::string& palette) {
    if (colours.empty() && palette.empty())
        return std::nullopt;
    if (!colours.empty() && !palette.empty())
        throw UsageError("--colours and --palette cannot be used together");
    colour::ReductionRequest request;
    if (!colours.empty()) {
        if (colours == "auto") {
            request.kind = colour::ReductionRequest::Auto;
            return request;
        }
        unsigned long long count = 0;
        const char* end = colours.data() + colours.size();
        const auto parsed = std::from_chars(colours.data(), end, count);
        if (parsed.ec != std::errc() || parsed.ptr != end || count < 1 ||
            count > colour::kMaxPaletteColours) {
            throw UsageError("--colours: expected a whole number from 1 to " +
                             std::to_string(colour::kMaxPaletteColours) + " or 'auto', not '" +
                             colours + "'");
        }
        request.kind = colour::ReductionRequest::Count;
        request.count = static_cast<std::size_t>(count);
        return request;
    }
    request.kind = colour::ReductionRequest::Given;
    try {
        if (colour::namesPaletteFile(palette)) {
            request.given = colour::parsePaletteFile(io::readWholeFile(palette), palette);
        } else {
            request.given = colour::parsePaletteList(palette);
        }
    } catch (const colour::PaletteError& e) {
        throw UsageError(std::string("--palette: ") + e.what());
    } catch (const io::InputError& e) {
        throw UsageError(std::string("--palette: ") + e.what());
    }
    return request;
}

}  // namespace hueslice::cli
