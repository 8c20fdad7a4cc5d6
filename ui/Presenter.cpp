// Modal QMessageBox with an OK button; timers keep firing inside it.
#include "ui/Presenter.h"

#include "ui/TextCodec.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyle>

int CaptionWidth(const QString& caption, const QFont& font) {
    // The title bar shows the caption beside the window's icon and its
    // buttons (close, and on some desktops minimise and maximise): room for
    // four title-bar buttons and the frame's margins besides the text.
    const int button = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return QFontMetrics(font).horizontalAdvance(caption) + 4 * button + 32;
}

void WidenForCaption(QMessageBox& box) {
    // A message box sizes itself from its text; a spacer across its layout's
    // bottom row keeps it at least as wide as its caption needs.
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int width = CaptionWidth(box.windowTitle(), titleFont);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

void QtMessagePresenter::Show(const std::string& text, const std::string& caption, MessageIcon icon) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(FromUtf8(caption));
    box.setText(FromUtf8(text));
    switch (icon) {
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    // "OK" as the program has always shown it, whatever Qt's translation says.
    box.button(QMessageBox::Ok)->setText(QStringLiteral("&OK"));
    WidenForCaption(box);
    box.exec();
}
