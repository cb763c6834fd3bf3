#include "io/text_out.h"

#include <cmath>

namespace hueslice::io::detail {

void TextOut::putFloat(float value) {
    if (!std::isfinite(value)) {
        put(std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf");
        return;
    }
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    put(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void TextOut::flush() {
    if (buffer.empty())
        return;
    sink(buffer);
    buffer.clear();
}

}  // namespace hueslice::io::detail
