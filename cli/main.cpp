// vardex-cli: the library and the administration of a store from a shell (see vardex-cli(1)).
// The verbs and how they are run live in the program's library (cli/dispatch.cpp and the
// command groups' files); here is only what a process of its own needs: its words checked as
// text, its application object, its language and Qt's remarks kept off its streams.
#include "cli/commands.h"
#include "platform/msgbox_qt.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// Qt's own remarks (a missing XDG_RUNTIME_DIR, a platform plugin's notes) are not the verb's
// output: they are kept off standard error unless -v asks for them. The library writes none.
void qtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtCriticalMsg && type != QtFatalMsg && !vardex::cli::conventions().verbose)
        return;
    const QByteArray b = (QStringLiteral("vardex-cli: ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, b.size(), stderr);
}

} // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(qtMessages);
    // The words are taken here, before the application object, which is made without them.
    // A word that is not valid text would be read with replacement characters, and two
    // different words could then name the same user: refused instead.
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        const QByteArray word(argv[i]);
        const QString text = QString::fromLocal8Bit(word);
        if (text.toLocal8Bit() != word) {
            std::fprintf(stderr, "vardex-cli: argument %d is not valid text in the locale's encoding\n", i);
            return 2;
        }
        args << text;
    }
    // Only session runs calls that open windows: it gets the library's application object (a
    // QApplication when a display is there). Every other verb stays off the window system.
    static int appArgc = 1;
    static char appName[] = "vardex-cli";
    static char* appArgv[] = {appName, nullptr};
    if (args.value(0) == QLatin1String("session"))
        vardex::gui::ensureApplication();
    else
        new QCoreApplication(appArgc, appArgv);
    const QString verb = args.value(0);
    vardex::cli::applyLanguage(vardex::cli::chooseLanguage(), verb == QLatin1String("session"));
    return vardex::cli::run(args);
}
