#include "lab.h"

#include <algorithm>
#include <cmath>

#include "colour/colour_space.h"

namespace hueslice::colour {

namespace {

// D65 reference white, Y = 1.
constexpr double kWhiteX = 0.95047, kWhiteY = 1.0, kWhiteZ = 1.08883;
// Where the cube root of the CIELAB transfer gives way to its linear segment.
constexpr double kDelta = 6.0 / 29.0;

double labForward(double t) {
    return t > kDelta * kDelta * kDelta ? std::cbrt(t) : t / (3 * kDelta * kDelta) + 4.0 / 29.0;
}

double labInverse(double f) {
    return f > kDelta ? f * f * f : 3 * kDelta * kDelta * (f - 4.0 / 29.0);
}

Lab labFromLinear(double r, double g, double b) {
    const double x = 0.4124564 * r + 0.3575761 * g + 0.1804375 * b;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = 0.0193339 * r + 0.1191920 * g + 0.9503041 * b;
    const double fx = labForward(x / kWhiteX), fy = labForward(y / kWhiteY),
                 fz = labForward(z / kWhiteZ);
    return Lab{116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

double clampUnit(float c) {
    // The comparisons are false for a NaN, which therefore becomes 0.
    return c > 0 ? (c < 1 ? static_cast<double>(c) : 1.0) : 0.0;
}

struct LinearTable {
    double value[256];
    LinearTable() {
        for (int i = 0; i < 256; ++i)
            value[i] = linearFromSrgb(i / 255.0);
    }
};

// Most colours were read from bytes: those take their linear value from a table, the same value
// the power law gives for that float, and others take the power law.
struct ByteFloatTable {
    double linear[256];
    ByteFloatTable() {
        for (int i = 0; i < 256; ++i)
            linear[i] = linearFromSrgb(static_cast<double>(static_cast<float>(i) / 255.0f));
    }
    double operator()(float c) const {
        const int byte = byteOfComponent(c);
        return byte >= 0 ? linear[byte] : linearFromSrgb(clampUnit(c));
    }
};

}  // namespace

Lab labFromSrgb(float r, float g, float b) {
    static const ByteFloatTable table;
    return labFromLinear(table(r), table(g), table(b));
}

Lab labFromRgb8(const Rgb8& rgb) {
    static const LinearTable table;
    return labFromLinear(table.value[rgb[0]], table.value[rgb[1]], table.value[rgb[2]]);
}

Rgb8 rgb8FromLab(const Lab& lab) {
    const double fy = (lab.L + 16) / 116;
    const double fx = fy + lab.a / 500, fz = fy - lab.b / 200;
    const double x = kWhiteX * labInverse(fx), y = kWhiteY * labInverse(fy),
                 z = kWhiteZ * labInverse(fz);
    const double linear[3] = {3.2404542 * x - 1.5371385 * y - 0.4985314 * z,
                              -0.9692660 * x + 1.8760108 * y + 0.0415560 * z,
                              0.0556434 * x - 0.2040259 * y + 1.0572252 * z};
    Rgb8 rgb{};
    for (int c = 0; c < 3; ++c) {
        const double s = srgbFromLinear(std::clamp(linear[c], 0.0, 1.0));
        rgb[c] = static_cast<std::uint8_t>(std::lround(std::clamp(s, 0.0, 1.0) * 255));
    }
    return rgb;
}

std::string hexText(const Rgb8& rgb) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text = "#";
    for (std::uint8_t c : rgb) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text;
}

}  // namespace hueslice::colour
