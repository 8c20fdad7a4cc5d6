// Modal QMessageBox with an OK button; timers keep firing inside it.
#include "ui/Presenter.h"

#include "ui/TextCodec.h"

#include <QApplication>
#include <QMessageBox>

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
    box.exec();
}
