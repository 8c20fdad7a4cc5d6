// Program entry: settings from OPTIONS.INI beside the executable, then the
// main window and the message loop.
#include "ui/AppIcon.h"
#include "app/MainForm.h"
#include "base/Messages.h"
#include "base/Options.h"
#include "ui/Presenter.h"
#include "base/Paths.h"

#include <QApplication>
#include <exception>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(ApplicationTitle));
    QApplication::setWindowIcon(MakeAppIcon());
    QtMessagePresenter presenter;
    SetMessagePresenter(&presenter);

    const std::string dir = ExecutableDir();
    if (dir.empty()) return 0;
    LoadOptions(dir + "OPTIONS.INI", AppOptions);

    try {
        auto* form = new TMainForm;
        form->showMaximized();
        app.exec();
        delete form;
    } catch (const std::exception& e) {
        ShowMessage(e.what(), ApplicationTitle, MessageIcon::Error);
    }
    return 0;
}
