#pragma once

#include "HOST_API.h"

enum UT_ColorType { UT_HSV = 1, UT_RGB = 2 };

class HOST_API UT_Color {
public:
    // Components are kept exactly as given, also outside 0..1.
    UT_Color(UT_ColorType type, float c0, float c1, float c2);
    // Hexcone conversion: hue in degrees in [0, 360), saturation (max - min) / max (0 when max is
    // 0), value max. Greys and black get hue 0 and saturation 0. NaN components give unspecified
    // but finite-or-NaN results and never fault.
    void getHSV(float* h, float* s, float* v) const;

private:
    UT_ColorType type;
    float c[3];
};
