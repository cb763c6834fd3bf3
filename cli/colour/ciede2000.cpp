#include "ciede2000.h"

#include <cmath>
#include <limits>

namespace hueslice::colour {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180;
constexpr double kPow25To7 = 6103515625.0;  // 25^7
constexpr double kBeyond = std::numeric_limits<double>::infinity();

double pow7(double x) {
    const double x2 = x * x;
    return x2 * x2 * x2 * x;
}

// The mean hue angle in degrees, 0..360, for the rare pair of hues exactly opposite each other,
// where the direction between them is undefined: the smaller angle plus 90.
double oppositeMeanHue(double a1, double b1, double a2, double b2) {
    double h1 = std::atan2(b1, a1) / kDegree, h2 = std::atan2(b2, a2) / kDegree;
    h1 += h1 < 0 ? 360 : 0;
    h2 += h2 < 0 ? 360 : 0;
    return (h1 < h2 ? h1 : h2) + 90;
}

}  // namespace

// The textbook formula works with hue angles; here the angles' cosines and sines come from
// the a and b components directly (the hue difference from their dot and cross products, the
// mean hue from the sum of the unit hue vectors), which gives the same values with one
// arctangent instead of two arctangents and seven other trigonometric calls.
//
// A match against a palette needs exact values only for the colours that may be nearest, so
// the terms are added up cheapest first and the work stops once a bound passes `limit`: the
// lightness term alone, then every term but the blue region's rotation, which can take away at
// most |RC sin 60°| times the product of the chroma and hue terms.
namespace {

double within(const Lab& x, double chromaX, const Lab& y, double chromaY, double limit) {
    // A little above the limit's square, so that rounding never rules out a colour at exactly
    // the limit, which may win a tie.
    const double limit2 = limit * limit * (1 + 1e-12);
    const double meanL = (x.L + y.L) / 2;
    const double dL = y.L - x.L;
    // The lightness weighting is at most 1 + 0.015 |meanL - 50|, which rules most colours out
    // before its square root.
    const double slAbove = 1 + 0.015 * std::fabs(meanL - 50);
    if (dL * dL > limit2 * slAbove * slAbove)
        return kBeyond;
    const double l50 = (meanL - 50) * (meanL - 50);
    const double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
    const double l = dL / sl;
    if (l * l > limit2)
        return kBeyond;

    // Chroma-dependent stretch of the a axis, which straightens the blue region.
    const double meanC = (chromaX + chromaY) / 2;
    const double meanC7 = pow7(meanC);
    const double g = 0.5 * (1 - std::sqrt(meanC7 / (meanC7 + kPow25To7)));
    const double a1 = (1 + g) * x.a, a2 = (1 + g) * y.a;
    const double cp1 = std::sqrt(a1 * a1 + x.b * x.b), cp2 = std::sqrt(a2 * a2 + y.b * y.b);
    const double product = cp1 * cp2;

    const double dC = cp2 - cp1;
    // 2 sqrt(C1 C2) sin(dh / 2), its sign that of the hue difference taken the short way.
    double dH = 0;
    // The mean hue's direction.
    double hx = 1, hy = 0;
    double meanHue = -1;  // in degrees when already known
    if (product != 0) {
        const double cross = a1 * y.b - x.b * a2;
        // 2 (C1 C2 - dot) written as |difference|^2 - dC^2, exactly 0 for equal colours.
        const double da = a2 - a1, db = y.b - x.b;
        dH = std::sqrt(std::fmax(0.0, da * da + db * db - dC * dC));
        if (cross < 0)
            dH = -dH;
        hx = a1 / cp1 + a2 / cp2;
        hy = x.b / cp1 + y.b / cp2;
        if (hx == 0 && hy == 0) {
            meanHue = oppositeMeanHue(a1, x.b, a2, y.b);
            hx = std::cos(meanHue * kDegree);
            hy = std::sin(meanHue * kDegree);
        }
    }
    // With a neutral colour in the pair the hue difference is 0, and the mean hue, which only
    // weighs the hue difference, does not matter.
    const double length = std::sqrt(hx * hx + hy * hy);
    const double c = hx / length, s = hy / length;
    const double c2 = c * c - s * s, s2 = 2 * c * s;
    const double c3 = c2 * c - s2 * s, s3 = s2 * c + c2 * s;
    const double c4 = c2 * c2 - s2 * s2, s4 = 2 * c2 * s2;
    // cos(h - 30), cos(2h), cos(3h + 6) and cos(4h - 63), expanded.
    const double t = 1 - 0.17 * (c * std::cos(30 * kDegree) + s * std::sin(30 * kDegree)) +
                     0.24 * c2 + 0.32 * (c3 * std::cos(6 * kDegree) - s3 * std::sin(6 * kDegree)) -
                     0.20 * (c4 * std::cos(63 * kDegree) + s4 * std::sin(63 * kDegree));

    const double meanCp = (cp1 + cp2) / 2;
    const double meanCp7 = pow7(meanCp);
    const double rc = 2 * std::sqrt(meanCp7 / (meanCp7 + kPow25To7));
    const double sc = 1 + 0.045 * meanCp;
    const double sh = 1 + 0.015 * meanCp * t;
    const double cc = dC / sc, h = dH / sh;
    // The blue region's rotation: 30 exp(-((h - 275) / 25)^2) degrees, below 1e-8 of a degree
    // once the mean hue is more than 120 degrees from 275, where it is left out.
    double rt = 0;
    if (c * std::cos(275 * kDegree) + s * std::sin(275 * kDegree) > -0.5) {
        // The rotation is at most 30 degrees, so that |sin 2 dTheta| is at most sin 60.
        if (l * l + cc * cc + h * h - std::sin(60 * kDegree) * rc * std::fabs(cc * h) > limit2)
            return kBeyond;
        if (meanHue < 0) {
            meanHue = std::atan2(s, c) / kDegree;
            meanHue += meanHue < 0 ? 360 : 0;
        }
        const double hueOff = (meanHue - 275) / 25;
        const double dTheta = 30 * std::exp(-hueOff * hueOff);
        rt = -std::sin(2 * dTheta * kDegree) * rc;
    }
    return std::sqrt(l * l + cc * cc + h * h + rt * cc * h);
}

}  // namespace

ChromaLab::ChromaLab(const Lab& colour)
    : lab(colour), chroma(std::sqrt(colour.a * colour.a + colour.b * colour.b)) {}

double deltaE2000Within(const ChromaLab& x, const ChromaLab& y, double limit) {
    return within(x.lab, x.chroma, y.lab, y.chroma, limit);
}

double deltaE2000Within(const Lab& x, const Lab& y, double limit) {
    return deltaE2000Within(ChromaLab(x), ChromaLab(y), limit);
}

double deltaE2000(const Lab& x, const Lab& y) {
    return deltaE2000Within(x, y, kBeyond);
}

}  // namespace hueslice::colour
