// Readable text colours: relative luminance and contrast ratio of sRGB colours
// (the accessibility guidelines' formulas), and a colour's lighter variant of
// the same hue for a dark background.
#pragma once

struct Rgb {
    int red, green, blue; // 0..255
    bool operator==(const Rgb&) const = default;
};

// 0 (black) .. 1 (white).
double RelativeLuminance(Rgb colour);
// 1 .. 21, the same whichever colour is given first.
double ContrastRatio(Rgb a, Rgb b);
// A background is dark when white text reads better on it than black text.
bool IsDarkBackground(Rgb background);

inline constexpr double ReadableContrast = 4.5;

// The colour to draw `given` in on `background`: on a light background the
// given colour itself; on a dark one the given colour when it already reaches
// ReadableContrast, else the first lighter variant of its hue and saturation
// that does (white at the latest).
Rgb ReadableOn(Rgb given, Rgb background);
