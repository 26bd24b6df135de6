// The host program: keeps the connection settings, installs the store and exercises every
// library call.
#include "host/mainExe.h"
#include "platform/msgbox_qt.h"

#include <QApplication>
#include <QFont>
#include <cstdio>

int main() {
    // Qt aborts a widget program that cannot reach a display; look first and say so instead.
    vardex::gui::ensureApplication();
    if (!vardex::gui::haveWidgets()) {
        std::fprintf(stderr, "vardex: no display could be reached (DISPLAY or QT_QPA_PLATFORM).\n");
        return 1;
    }
    QApplication::setApplicationName(QStringLiteral("Vardex"));
    QFont font;
    font.setFamilies(
        {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(12);
    QApplication::setFont(font);
    vardex::gui::installMessagePresenter();

    vardex::host::TForm1 Form1;
    Form1.show();
    return QApplication::exec();
}
