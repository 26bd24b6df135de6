#pragma once
// Small helpers shared by the pages of the main window: controls placed at fixed positions with
// their names, and the texts handed to the library.
#include "platform/sqldialect.h"

#include <QByteArray>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRect>
#include <QSpinBox>
#include <QString>

namespace vardex::host {

// An edit box's text with leading and trailing blanks and control characters removed.
inline QString trimmedText(const QLineEdit* e) {
    return trimBlanks(e->text());
}
inline QString trimmedText(const QPlainTextEdit* e) {
    return trimBlanks(e->toPlainText());
}

// The library takes the process's local 8-bit text.
inline QByteArray local8(const QString& s) {
    return s.toLocal8Bit();
}

// The position of an up-down control as the library receives it: a 16-bit value widened with
// its sign.
inline int positionOf(const QSpinBox* upDown) {
    return static_cast<int>(static_cast<qint16>(upDown->value()));
}

inline QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                               const QRect& geometry) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    b->setFocusPolicy(Qt::NoFocus); // the buttons take no focus
    return b;
}

inline QLabel* makeLabel(QWidget* parent, const QString& caption, const QPoint& at) {
    auto* l = new QLabel(caption, parent);
    l->move(at);
    l->adjustSize();
    return l;
}

inline QLineEdit* makeEdit(QWidget* parent, const char* name, const QRect& geometry) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(geometry);
    return e;
}

} // namespace vardex::host
