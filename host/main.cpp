// The host program: keeps the connection settings, installs the store and exercises every
// library call.
#include "capi/vardex.h"
#include "host/mainExe.h"
#include "host/settingspath.h"
#include "platform/msgbox_qt.h"
#include "platform/sysinfo.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLibraryInfo>
#include <cstdio>
#include <cstring>

namespace {

void printHelp() {
    const QString folder = vardex::applicationFolder();
    std::printf("Usage: vardex [--help | --version]\n"
                "\n"
                "The Vardex host program: builds and keeps the connection to the permission store,\n"
                "installs the store's tables and procedures, opens the administration windows and\n"
                "tries every call of libvardex.\n"
                "\n"
                "Settings: %s\n"
                "  (cnsetting.ini beside the program where its folder can be written, else\n"
                "  $XDG_CONFIG_HOME/vardex/cnsetting.ini, ~/.config/vardex when XDG_CONFIG_HOME is unset)\n"
                "Help text: %s\n"
                "\n"
                "Language: Chinese unless chosen otherwise. The language box of the main page\n"
                "  switches at once and keeps the choice as language=zh or language=en under [setting]\n"
                "  in the settings file; without that setting VARDEX_LANG=en or VARDEX_LANG=zh chooses.\n"
                "\n"
                "Display: X11 (DISPLAY) or Wayland (WAYLAND_DISPLAY, needs Qt's Wayland plugin, Debian\n"
                "package qt6-wayland; without it the program uses X11 when DISPLAY is set too).\n"
                "QT_QPA_PLATFORM chooses the platform explicitly.\n",
                QDir::toNativeSeparators(vardex::host::settingsFilePath(folder)).toLocal8Bit().constData(),
                QDir::toNativeSeparators(vardex::host::helpFilePath(folder)).toLocal8Bit().constData());
}

bool waylandPluginInstalled() {
    QStringList folders = qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath);
    for (const QString& folder : folders) {
        if (!QDir(folder + QStringLiteral("/platforms"))
                 .entryList({QStringLiteral("libqwayland-*.so")}, QDir::Files)
                 .isEmpty())
            return true;
    }
    return false;
}

// With WAYLAND_DISPLAY set and no platform chosen: Wayland through Qt's plugin when it is
// installed, else X11 (XWayland) when DISPLAY is there too, else say what is missing instead of
// ending in Qt's abort. Returns false when no display can be used.
bool waylandSocketPresent() {
    QString socket = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (!QDir::isAbsolutePath(socket))
        socket = qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + socket;
    return QFileInfo::exists(socket);
}

bool choosePlatform() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    const bool socket = waylandSocketPresent();
    if (socket && waylandPluginInstalled()) {
        // Qt on its own would try X11 unless the session type says Wayland; try Wayland first and
        // X11 (XWayland) after it.
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
        return true;
    }
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        return true;
    }
    if (socket)
        std::fprintf(stderr, "vardex: WAYLAND_DISPLAY is set but Qt's Wayland plugin is not installed "
                             "(Debian package qt6-wayland), and no X11 DISPLAY is set.\n");
    else
        std::fprintf(stderr, "vardex: WAYLAND_DISPLAY names no Wayland socket and no X11 DISPLAY is set.\n");
    return false;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vardex %s (libvardex %s)\n", VARDEX_VERSION_TEXT, VardexVersion());
            return 0;
        }
        std::fprintf(stderr, "vardex: unknown argument '%s' (see vardex --help)\n", argv[i]);
        return 2;
    }
    if (!choosePlatform())
        return 1;
    // Qt aborts a widget program that cannot reach a display; look first and say so instead.
    vardex::gui::ensureApplication();
    if (!vardex::gui::haveWidgets()) {
        std::fprintf(stderr,
                     "vardex: no display could be reached (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM).\n");
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
