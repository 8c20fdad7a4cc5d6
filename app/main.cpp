// Program entry: --help and --version, else settings from OPTIONS.INI in the
// configuration folder, then the main window and the message loop.
#include "app/MainForm.h"
#include "base/Messages.h"
#include "base/Options.h"
#include "base/Paths.h"
#include "ui/AppIcon.h"
#include "ui/Presenter.h"
#include "ui/Translations.h"

#include <QApplication>
#include <QTranslator>
#include <cstdio>
#include <cstring>
#include <exception>

namespace {

const char* const Usage = R"(Использование: configurator [--help | --version]
Настройка шлюза RS-232 <-> RS-485 и проверка счётчиков Modbus RTU за ним.
Без параметров открывает главное окно.

  --help      показать эту справку
  --version   показать версию

Файлы:
  OPTIONS.INI         настройки: порт, скорость, режим связи, адреса шлюза,
                      строка инициализации модема («View» > «Настройки»)
  PHONE.TXT           номер телефона модема (рядом с OPTIONS.INI)
  ports/COMn          ссылка на устройство порта COMn
  day.txt, hour.txt   суточный и часовой архивы счётчика
)";

const char* const PortNotes = R"(
Порт:
  COMn (n = 1..99, по умолчанию COM2) - это ports/COMn в папке настроек,
  если он есть, иначе /dev/ttyS<n-1>. USB-адаптер как COM3:
      ln -s /dev/ttyUSB0 ports/COM3
  Порт открывается монопольно. Нужен доступ к устройству (в Debian -
  группа dialout).
)";

} // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so they need no display.
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(Usage, stdout);
            std::fputs(FileLocationsHelp().c_str(), stdout);
            std::fputs(PortNotes, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("configurator %s\n", PROGRAM_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    // Ties the windows to the desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(APP_ID));
    QApplication::setApplicationName(QString::fromUtf8(ApplicationTitle));
    QApplication::setWindowIcon(MakeAppIcon());
    // Qt's own dialogs and buttons speak Russian like the program; the texts
    // the program sets itself stay as they are.
    const std::unique_ptr<QTranslator> qtTexts = LoadQtTranslations();
    QtMessagePresenter presenter;
    SetMessagePresenter(&presenter);

    if (ExecutableDir().empty()) return 0;
    LoadOptions(OptionsFilePath(), AppOptions);

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
