// Luminance from linearised sRGB channels; lightening in HSL keeps hue and
// saturation and raises lightness in small steps until the contrast suffices.
#include "base/Contrast.h"

#include <algorithm>
#include <cmath>

namespace {

double Linear(int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

struct Hsl {
    double h, s, l; // h in 0..1
};

Hsl ToHsl(Rgb c) {
    const double r = c.red / 255.0, g = c.green / 255.0, b = c.blue / 255.0;
    const double hi = std::max({r, g, b}), lo = std::min({r, g, b});
    Hsl out{0, 0, (hi + lo) / 2};
    const double d = hi - lo;
    if (d <= 0) return out;
    out.s = out.l > 0.5 ? d / (2 - hi - lo) : d / (hi + lo);
    if (hi == r)
        out.h = (g - b) / d + (g < b ? 6 : 0);
    else if (hi == g)
        out.h = (b - r) / d + 2;
    else
        out.h = (r - g) / d + 4;
    out.h /= 6;
    return out;
}

double HueChannel(double p, double q, double t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0 / 6) return p + (q - p) * 6 * t;
    if (t < 1.0 / 2) return q;
    if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
}

Rgb ToRgb(Hsl c) {
    auto byte = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    if (c.s <= 0) return {byte(c.l), byte(c.l), byte(c.l)};
    const double q = c.l < 0.5 ? c.l * (1 + c.s) : c.l + c.s - c.l * c.s;
    const double p = 2 * c.l - q;
    return {byte(HueChannel(p, q, c.h + 1.0 / 3)), byte(HueChannel(p, q, c.h)),
            byte(HueChannel(p, q, c.h - 1.0 / 3))};
}

} // namespace

double RelativeLuminance(Rgb c) {
    return 0.2126 * Linear(c.red) + 0.7152 * Linear(c.green) + 0.0722 * Linear(c.blue);
}

double ContrastRatio(Rgb a, Rgb b) {
    const double la = RelativeLuminance(a), lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool IsDarkBackground(Rgb background) {
    return ContrastRatio(background, {255, 255, 255}) > ContrastRatio(background, {0, 0, 0});
}

Rgb ReadableOn(Rgb given, Rgb background) {
    if (!IsDarkBackground(background) || ContrastRatio(given, background) >= ReadableContrast) return given;
    Hsl hsl = ToHsl(given);
    while (hsl.l < 1) {
        hsl.l = std::min(1.0, hsl.l + 0.01);
        const Rgb lighter = ToRgb(hsl);
        if (ContrastRatio(lighter, background) >= ReadableContrast) return lighter;
    }
    return {255, 255, 255};
}
