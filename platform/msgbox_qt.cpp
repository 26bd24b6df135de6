#include "platform/msgbox_qt.h"
#include "platform/msgservice.h"

#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

namespace vardex::gui {

namespace {

// An X display named ":N" is reachable when its socket exists; Qt aborts the process when it
// cannot connect, so this is checked before a QApplication is made.
bool x11Reachable() {
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return false;
    if (!display.startsWith(':'))
        return true; // a remote display: let Qt try
    QByteArray number = display.mid(1);
    const int dot = number.indexOf('.');
    if (dot >= 0)
        number.truncate(dot);
    return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X") + QString::fromLatin1(number));
}

bool displayReachable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return true; // offscreen, wayland, ...: chosen on purpose
    if (!qgetenv("WAYLAND_DISPLAY").isEmpty() && platform.isEmpty())
        return true;
    return x11Reachable();
}

// A platform nobody can see (offscreen, minimal) gets no modal box: it would wait forever.
bool boxesVisible() {
    if (!haveWidgets())
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

int showBox(const MessageBoxRequest& r) {
    if (!boxesVisible()) {
        std::fprintf(stderr, "[%s] %s\n", r.caption.toLocal8Bit().constData(),
                     r.text.toLocal8Bit().constData());
        return defaultAnswer(r.type);
    }
    QMessageBox box(r.owner);
    box.setWindowTitle(r.caption);
    box.setText(r.text);
    switch (r.type & mb::IconMask) {
    case mb::IconError:
        box.setIcon(QMessageBox::Critical);
        break;
    case mb::IconQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case mb::IconWarning:
        box.setIcon(QMessageBox::Warning);
        break;
    case mb::IconInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
    }
    struct Button {
        QMessageBox::StandardButton button;
        int id;
        const char* caption; // the Chinese source text, shown translated
    };
    QList<Button> buttons;
    switch (r.type & mb::ButtonMask) {
    case mb::OkCancel:
        buttons = {{QMessageBox::Ok, mb::IdOk, QT_TRANSLATE_NOOP("Ui", "确定")},
                   {QMessageBox::Cancel, mb::IdCancel, QT_TRANSLATE_NOOP("Ui", "取消")}};
        break;
    case mb::YesNoCancel:
        buttons = {{QMessageBox::Yes, mb::IdYes, QT_TRANSLATE_NOOP("Ui", "是(&Y)")},
                   {QMessageBox::No, mb::IdNo, QT_TRANSLATE_NOOP("Ui", "否(&N)")},
                   {QMessageBox::Cancel, mb::IdCancel, QT_TRANSLATE_NOOP("Ui", "取消")}};
        break;
    case mb::YesNo:
        buttons = {{QMessageBox::Yes, mb::IdYes, QT_TRANSLATE_NOOP("Ui", "是(&Y)")},
                   {QMessageBox::No, mb::IdNo, QT_TRANSLATE_NOOP("Ui", "否(&N)")}};
        break;
    default:
        buttons = {{QMessageBox::Ok, mb::IdOk, QT_TRANSLATE_NOOP("Ui", "确定")}};
    }
    QMessageBox::StandardButtons all;
    for (const Button& b : buttons)
        all |= b.button;
    box.setStandardButtons(all);
    for (const Button& b : buttons)
        box.button(b.button)->setText(QCoreApplication::translate("Ui", b.caption));
    box.setDefaultButton(buttons.first().button);
    const int pressed = box.exec();
    for (const Button& b : buttons)
        if (pressed == b.button)
            return b.id;
    // Closed with the window's close button: Cancel where there is one, else the default.
    for (const Button& b : buttons)
        if (b.id == mb::IdCancel)
            return mb::IdCancel;
    return buttons.first().id;
}

} // namespace

bool haveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "vardex";
    static char* argv[] = {name, nullptr};
    if (displayReachable()) {
        new QApplication(argc, argv);
        QFont font;
        font.setFamilies(
            {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
        font.setPointSize(9);
        QApplication::setFont(font);
    } else {
        new QCoreApplication(argc, argv);
    }
}

void installMessagePresenter() {
    static bool done = false;
    if (done)
        return;
    done = true;
    setMessagePresenter(showBox);
}

} // namespace vardex::gui
