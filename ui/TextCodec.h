// CP1251 bytes to and from the screen's QString, on top of base/Cp1251.h.
#pragma once
#include <QString>
#include <string>
#include <string_view>

QString FromCp1251(std::string_view bytes);
std::string ToCp1251(const QString& text);

// UTF-8 (the source's and the messages' encoding) to QString.
inline QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
