#include "dialogs/language.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTranslator>
#include <cstdio>

namespace vardex::gui {

namespace {

// Owned by the application object, so it goes with it; QPointer notices that.
QPointer<QTranslator> g_translator;
bool g_chosen = false;
bool g_environmentRead = false;

void dropTranslator() {
    if (!g_translator)
        return;
    QCoreApplication::removeTranslator(g_translator);
    delete g_translator.data();
}

} // namespace

bool setLanguage(const QString& code) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (code == QLatin1String("zh")) {
        dropTranslator();
    } else if (code == QLatin1String("en")) {
        if (!g_translator) {
            auto* translator = new QTranslator(app);
            if (!translator->load(QStringLiteral(":/i18n/vardex_en.qm"))) {
                delete translator;
                return false;
            }
            QCoreApplication::installTranslator(translator);
            g_translator = translator;
        }
    } else {
        return false;
    }
    g_chosen = true;
    return true;
}

QString language() {
    return g_translator ? QStringLiteral("en") : QStringLiteral("zh");
}

void applyEnvironmentLanguage() {
    if (g_environmentRead || g_chosen)
        return;
    g_environmentRead = true;
    const QString value = qEnvironmentVariable("VARDEX_LANG");
    if (value.isEmpty())
        return;
    if (!setLanguage(value))
        std::fprintf(stderr,
                     "vardex: VARDEX_LANG=%s is not a language of this library (zh, en); "
                     "the texts stay Chinese.\n",
                     value.left(40).toLocal8Bit().constData());
    g_chosen = false; // the environment is a default: an explicit choice still replaces it
}

} // namespace vardex::gui
