// Line colours that read on the palette in use: the given colours on a light
// background, lighter variants of the same hues on a dark one, in the monitor's
// view also after the palette changes.
#include "base/Contrast.h"
#include "monitor/PacketFramer.h"
#include "monitor/Uviewpacket.h"

#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPalette>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <gtest/gtest.h>

namespace {

const PacketClass Classes[] = {PacketClass::CRC, PacketClass::PART, PacketClass::BAD};
const Rgb Navy{0, 0, 128}; // the wait window's text
const Rgb Dark[] = {{0, 0, 0}, {30, 30, 30}, {53, 53, 53}, {35, 38, 41}, {20, 20, 60}};
const Rgb Light[] = {{255, 255, 255}, {240, 240, 240}, {239, 240, 241}};

std::vector<Rgb> GivenColours() {
    std::vector<Rgb> given{Navy};
    for (PacketClass cls : Classes) {
        const PacketColor c = PacketLineColor(cls);
        given.push_back({c.red, c.green, c.blue});
    }
    return given;
}

int Hue(Rgb c) {
    return QColor(c.red, c.green, c.blue).hslHue();
}

QPalette WithBase(QColor base, QColor text) {
    QPalette palette;
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::Text, text);
    return palette;
}

// The colour of every line in the view, in order.
std::vector<QColor> LineColours(const TViewPacket& window) {
    std::vector<QColor> colours;
    for (QTextBlock b = window.RichEdit->document()->begin(); b.isValid(); b = b.next())
        colours.push_back(b.begin().fragment().charFormat().foreground().color());
    return colours;
}

double Contrast(const QColor& a, const QColor& b) {
    return ContrastRatio({a.red(), a.green(), a.blue()}, {b.red(), b.green(), b.blue()});
}

} // namespace

TEST(ReadableColours, LighterSameHueOnDarkGivenOnLight) {
    EXPECT_NEAR(ContrastRatio({255, 255, 255}, {0, 0, 0}), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio({255, 0, 0}, {255, 255, 255}), 4.0, 0.01); // red on white, kept as given
    for (Rgb given : GivenColours()) {
        SCOPED_TRACE(Hue(given));
        for (Rgb base : Dark) {
            const Rgb shown = ReadableOn(given, base);
            EXPECT_GE(ContrastRatio(shown, base), ReadableContrast);
            EXPECT_GE(RelativeLuminance(shown), RelativeLuminance(given));
            EXPECT_NEAR(Hue(shown), Hue(given), 3);
        }
        for (Rgb base : Light)
            EXPECT_EQ(ReadableOn(given, base), given);
    }
}

TEST(ReadableColours, MonitorLinesFollowThePaletteInUse) {
    TViewPacket window(nullptr, PortAccessor([]() -> Rs232Port* { return nullptr; }));
    const std::uint8_t bytes[] = {0x01, 0x02, 0x03};
    window.setPalette(WithBase(Qt::white, Qt::black));
    for (PacketClass cls : Classes)
        window.ClassifyAndShow(bytes, 3, cls);
    window.setPalette(WithBase(QColor(30, 30, 30), QColor(230, 230, 230)));
    window.ClassifyAndShow(bytes, 3, PacketClass::OK);
    for (PacketClass cls : Classes)
        window.ClassifyAndShow(bytes, 3, cls);

    // Lines that follow one another closely are laid out by the view's batch timer.
    QElapsedTimer waited;
    waited.start();
    while (LineColours(window).size() < 7 && waited.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const std::vector<QColor> colours = LineColours(window);
    ASSERT_EQ(colours.size(), 7u);
    for (std::size_t i = 0; i < 3; ++i) {
        const PacketColor given = PacketLineColor(Classes[i]);
        EXPECT_EQ(colours[i], QColor(given.red, given.green, given.blue)) << i;
    }
    // The default colour is the dark palette's text; every class reads on its base.
    EXPECT_EQ(colours[3], QColor(230, 230, 230));
    for (std::size_t i = 4; i < 7; ++i)
        EXPECT_GE(Contrast(colours[i], QColor(30, 30, 30)), ReadableContrast) << i;
}
