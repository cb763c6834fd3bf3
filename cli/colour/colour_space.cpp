#include "colour/colour_space.h"

#include <cmath>

namespace hueslice::colour {

double linearFromSrgb(double encoded) {
    const double magnitude = std::fabs(encoded);
    return std::copysign(
        magnitude <= 0.04045 ? magnitude / 12.92 : std::pow((magnitude + 0.055) / 1.055, 2.4),
        encoded);
}

double srgbFromLinear(double linear) {
    const double magnitude = std::fabs(linear);
    return std::copysign(
        magnitude <= 0.0031308 ? magnitude * 12.92 : 1.055 * std::pow(magnitude, 1.0 / 2.4) - 0.055,
        linear);
}

// In double, so that 0 and 1 come back exactly and a byte survives the trip both ways.
float linearFromSrgb(float encoded) {
    return static_cast<float>(linearFromSrgb(static_cast<double>(encoded)));
}

float srgbFromLinear(float linear) {
    return static_cast<float>(srgbFromLinear(static_cast<double>(linear)));
}

const std::array<float, 256>& linearFromSrgbByte() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[static_cast<std::size_t>(i)] = linearFromSrgb(static_cast<float>(i) / 255.0f);
        return t;
    }();
    return table;
}

}  // namespace hueslice::colour
