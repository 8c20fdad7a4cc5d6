// A colour given for text, made readable on the background in use (see
// base/Contrast.h): unchanged on a light background, a lighter variant of the
// same hue on a dark one.
#pragma once
#include "base/Contrast.h"

#include <QColor>

inline QColor ReadableColor(const QColor& given, const QColor& background) {
    const Rgb c = ReadableOn({given.red(), given.green(), given.blue()},
                             {background.red(), background.green(), background.blue()});
    return QColor(c.red, c.green, c.blue);
}
