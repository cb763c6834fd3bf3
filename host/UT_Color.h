#pragma once

#include "HOST_API.h"

enum UT_ColorType { UT_HSV = 1, UT_RGB = 2 };

class HOST_API UT_Color {
public:
    // Components are kept exactly as given, also outside 0..1.
    UT_Color(UT_ColorType type, float c0, float c1, float c2);
    // Hexcone conversion: hue in degrees in [0, 360), saturation (max - min) / max (0 when max is
    // 0), value max. Greys and black get hue 0 and saturation 0. A NaN component is left out of
    // the maximum and minimum, so it makes the hue NaN (or, when all are NaN, every output).
    void getHSV(float* h, float* s, float* v) const;

private:
    UT_ColorType type;
    float c[3];
};
