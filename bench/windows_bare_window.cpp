// The reference for configurator.exe's start-up under Wine: a bare Qt window
// built the same way (the same Qt, runtime and subsystem), shown at once.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare-window"));
    window.resize(800, 600);
    window.show();
    return app.exec();
}
