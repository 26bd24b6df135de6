#include "dialogs/dlgcommon.h"

#include "dialogs/language.h"
#include "platform/errors.h"
#include "platform/msgbox_qt.h"
#include "platform/msgservice.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTimeEdit>
#include <QDialog>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QToolButton>
#include <algorithm>

namespace vardex::dialogs {

QFont windowFont() {
    QFont font;
    font.setFamilies(
        {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(12);
    return font;
}

void fitCaption(QWidget* widget, int room) {
    QString caption;
    if (auto* label = qobject_cast<QLabel*>(widget))
        caption = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        caption = button->text();
    // What is drawn: an accelerator mark is not ("&&" draws one '&').
    QString text;
    for (int i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        text += caption[i];
    }
    QFont font = widget->font();
    int pixels = QFontInfo(font).pixelSize();
    bool changed = false;
    while (pixels > 9 && QFontMetrics(font).horizontalAdvance(text) > room) {
        font.setPixelSize(--pixels);
        changed = true;
    }
    if (changed)
        widget->setFont(font);
}

namespace {

class SectionOnClick : public QObject {
  public:
    explicit SectionOnClick(QDateTimeEdit* edit) : QObject(edit), m_edit(edit) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            // The cursor is where the click put it: its section is the one to select, unless the
            // press and release made a selection of their own.
            auto* line = qobject_cast<QLineEdit*>(watched);
            if (line && !line->hasSelectedText())
                m_edit->setSelectedSection(m_edit->currentSection());
        }
        return false;
    }

  private:
    QDateTimeEdit* m_edit;
};

} // namespace

void selectSectionOnClick(QDateTimeEdit* edit) {
    if (auto* line = edit->findChild<QLineEdit*>())
        line->installEventFilter(new SectionOnClick(edit));
}

void fitLeftOf(QLabel* label, int rightEdge, int minLeft) {
    const QRect g = label->geometry();
    // A right-aligned label's text ends at its right edge, however wide the label was made, and
    // is cut off at its left when the label is narrower than the text.
    const bool right = label->alignment() & Qt::AlignRight;
    const int textEnd = right ? g.x() + g.width() : g.x() + label->sizeHint().width();
    const bool whole = !right || label->sizeHint().width() <= g.width();
    if (gui::language() == QLatin1String("zh") || (textEnd <= rightEdge && whole))
        return;
    fitCaption(label, rightEdge - minLeft);
    const int width = std::min(label->sizeHint().width(), rightEdge - minLeft);
    label->setGeometry(rightEdge - width, g.y(), width, g.height());
}

void makeFixedDialog(QDialog* window, int clientWidth, int clientHeight, const QString& title) {
    window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint);
    window->setFont(windowFont());
    window->setFixedSize(clientWidth, clientHeight);
    window->setWindowTitle(title);
}

void centreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

QToolButton* flatButton(QWidget* parent, const char* name, const QString& caption, int x, int y, int w,
                        int h) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(caption);
    b->setFocusPolicy(Qt::NoFocus);
    // Drawn with its frame at all times: a frameless button on this desktop reads as a label.
    b->setAutoRaise(false);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    b->setGeometry(x, y, w, h);
    return b;
}

void setStarEcho(QLineEdit* edit) {
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

void reportError(const std::exception& error, QWidget* owner) {
    QString text;
    if (const auto* e = dynamic_cast<const vardex::Error*>(&error))
        text = e->message();
    else
        text = QString::fromLocal8Bit(error.what());
    QString caption = QGuiApplication::applicationDisplayName();
    if (caption.isEmpty())
        caption = QStringLiteral("Vardex");
    showMessage(text, caption, mb::Ok | mb::IconError, owner);
}

uint32_t inputErrorBox() {
    return gui::language() == QLatin1String("zh") ? mb::Ok : mb::Ok | mb::IconWarning;
}

void requireDisplay() {
    if (!vardex::gui::haveWidgets())
        throw vardex::Error(QStringLiteral("The window cannot be shown: the process has no display."));
}

} // namespace vardex::dialogs
