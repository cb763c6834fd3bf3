#pragma once

#include "HOST_API.h"

enum UT_ColorType { UT_HSV = 1, UT_RGB = 2 };

class HOST_API UT_Color {
  public:
    // Components are kept exactly as given, also outside 0..1.
    UT_Color(UT_ColorType colourType, float c0, float c1, float c2)
        : type(colourType), c{c0, c1, c2} {}
    // Hexcone conversion: hue in degrees in [0, 360), saturation (max - min) / max (0 when max is
    // 0), value max. Greys and black get hue 0 and saturation 0. A NaN component is left out of
    // the maximum and minimum, so it makes the hue NaN (or, when all are NaN, every output).
    // Inline: sorting calls it twice per comparison, hundreds of thousands of times.
    void getHSV(float* h, float* s, float* v) const {
        if (type == UT_HSV) {
            *h = c[0];
            *s = c[1];
            *v = c[2];
            return;
        }
        const float r = c[0], g = c[1], b = c[2];
        // A NaN component is passed over, so it shows in the hue alone rather than poisoning
        // saturation and value too.
        const float max = maxOf(r, maxOf(g, b));
        const float min = minOf(r, minOf(g, b));
        const float delta = max - min;
        *v = max;
        *s = max != 0.0f ? delta / max : 0.0f;
        float hue = 0.0f;
        if (delta > 0.0f) {
            if (r == max) {
                hue = (g - b) / delta;
            } else if (g == max) {
                hue = 2.0f + (b - r) / delta;
            } else {
                hue = 4.0f + (r - g) / delta;
            }
            hue *= 60.0f;
            if (hue < 0.0f)
                hue += 360.0f;
            // A tiny negative hue rounds up to exactly 360 in float.
            if (hue >= 360.0f)
                hue -= 360.0f;
        }
        *h = hue;
    }

  private:
    // std::fmax and std::fmin as the C library computes them (a NaN operand is passed over;
    // between equal operands, zeros of either sign included, the second is taken), written
    // out so that they compile to single instructions instead of library calls.
    // A NaN `a` fails the ordered comparison and so gives `b` without a test of its own.
    static float maxOf(float a, float b) { return b != b ? a : (a > b ? a : b); }
    static float minOf(float a, float b) { return b != b ? a : (a < b ? a : b); }

    UT_ColorType type;
    float c[3];
};
