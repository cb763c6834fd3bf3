#include "io/text/text_out.h"

#include <cmath>
#include <cstring>

namespace hueslice::io::detail {

char* putFloat(char* out, float value) {
    if (std::isnan(value)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    if (std::isinf(value)) {
        const std::string_view text = value > 0 ? "inf" : "-inf";
        std::memcpy(out, text.data(), text.size());
        return out + text.size();
    }
    return std::to_chars(out, out + kFloatChars, value).ptr;
}

void TextOut::putFloat(float value) {
    char digits[kFloatChars];
    put(std::string_view(digits,
                         static_cast<std::size_t>(detail::putFloat(digits, value) - digits)));
}

void TextOut::flush() {
    if (buffer.empty())
        return;
    sink(buffer);
    buffer.clear();
}

}  // namespace hueslice::io::detail
