// The screen side of the CP1251 conversions: the same conversion the core
// uses (base/Cp1251.h), so a byte never reads differently in a window and in
// a file or a message.
#include "ui/TextCodec.h"

#include "base/Cp1251.h"

QString FromCp1251(std::string_view bytes) {
    const std::string utf8 = Cp1251ToUtf8(bytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToCp1251(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToCp1251(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}
