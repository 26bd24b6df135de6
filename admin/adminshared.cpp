#include "admin/adminshared.h"

#include "platform/errors.h"
#include "platform/msgservice.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vardex::admin {

QFont windowFont() {
    QFont f;
    f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPixelSize(12);
    return f;
}

namespace {

using Painter = void (*)(QPainter&);

QIcon drawn(Painter paint) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    p.end();
    return QIcon(pm);
}

void person(QPainter& p, qreal x, qreal y, const QColor& c) {
    p.setPen(QPen(c.darker(160), 1));
    p.setBrush(c);
    p.drawEllipse(QRectF(x + 2.5, y, 5, 5));
    QPainterPath body;
    body.moveTo(x, y + 11.5);
    body.quadTo(x + 5, y + 3.5, x + 10, y + 11.5);
    body.closeSubpath();
    p.drawPath(body);
}

void folder(QPainter& p, const QColor& c, bool open) {
    p.setPen(QPen(c.darker(170), 1));
    p.setBrush(c.darker(115));
    p.drawRect(QRectF(1.5, 3.5, 6, 3));
    p.setBrush(c);
    if (open) {
        QPolygonF poly({QPointF(1.5, 5.5), QPointF(14.5, 5.5), QPointF(12.5, 13.5), QPointF(1.5, 13.5)});
        p.drawPolygon(poly);
    } else {
        p.drawRect(QRectF(1.5, 5.5, 13, 8));
    }
}

void keyMark(QPainter& p) {
    p.setPen(QPen(QColor(0x80, 0x60, 0x00), 1.2));
    p.setBrush(QColor(0xF0, 0xC0, 0x20));
    p.drawEllipse(QRectF(5, 7, 4, 4));
    p.drawLine(QPointF(9, 9), QPointF(13, 9));
    p.drawLine(QPointF(12, 9), QPointF(12, 11));
}

void plus(QPainter& p) {
    p.setPen(QPen(QColor(0x10, 0x90, 0x10), 2.2));
    p.drawLine(QPointF(12, 8.5), QPointF(12, 15));
    p.drawLine(QPointF(8.5, 12), QPointF(15, 12));
}

void cross(QPainter& p) {
    p.setPen(QPen(QColor(0xD0, 0x10, 0x10), 2.2));
    p.drawLine(QPointF(9, 9), QPointF(15, 15));
    p.drawLine(QPointF(15, 9), QPointF(9, 15));
}

void pencil(QPainter& p) {
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
    p.setBrush(QColor(0xF0, 0xA0, 0x30));
    QPolygonF poly({QPointF(8, 15), QPointF(9, 12), QPointF(14, 7), QPointF(16, 9), QPointF(11, 14)});
    p.drawPolygon(poly);
}

const QColor kUser(0x30, 0x80, 0xE0);
const QColor kGroup(0x20, 0xA0, 0x60);
const QColor kFolder(0xF0, 0xD0, 0x60);

} // namespace

const QVector<QIcon>& listImages() {
    static const QVector<QIcon> images = [] {
        QVector<QIcon> v;
        v << drawn([](QPainter& p) { // 0 user group
            person(p, 5, 1, kGroup.lighter(130));
            person(p, 0, 4, kGroup);
        });
        // 1 user
        v << drawn([](QPainter& p) { person(p, 3, 2, kUser); });
        v << drawn([](QPainter& p) { // 2 permission group
            folder(p, kFolder, false);
            keyMark(p);
        });
        v << drawn([](QPainter& p) { // 3 permission group, selected
            folder(p, kFolder, true);
            keyMark(p);
        });
        v << drawn([](QPainter& p) { // 4 head item: a book
            p.setPen(QPen(QColor(0x20, 0x30, 0x80), 1));
            p.setBrush(QColor(0x40, 0x60, 0xC0));
            p.drawRect(QRectF(3.5, 1.5, 10, 13));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(5.5, 3.5, 6, 3));
        });
        v << drawn([](QPainter& p) { // 5 item: a page
            p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(3.5, 1.5, 9, 13));
            p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 5.5));
            p.drawLine(QPointF(5.5, 8.5), QPointF(10.5, 8.5));
            p.drawLine(QPointF(5.5, 11.5), QPointF(9.5, 11.5));
        });
        return v;
    }();
    return images;
}

QIcon buttonIcon(ButtonIcon which) {
    switch (which) {
    case ButtonIcon::AddUser:
        return drawn([](QPainter& p) {
            person(p, 0, 1, kUser);
            plus(p);
        });
    case ButtonIcon::DelUser:
        return drawn([](QPainter& p) {
            person(p, 0, 1, kUser);
            cross(p);
        });
    case ButtonIcon::EditUser:
        return drawn([](QPainter& p) {
            person(p, 0, 1, kUser);
            pencil(p);
        });
    case ButtonIcon::AddUserGroup:
        return drawn([](QPainter& p) {
            person(p, 4, 0, kGroup.lighter(130));
            person(p, 0, 3, kGroup);
            plus(p);
        });
    case ButtonIcon::AddZu:
        return drawn([](QPainter& p) {
            folder(p, kFolder, false);
            plus(p);
        });
    case ButtonIcon::DelZu:
        return drawn([](QPainter& p) {
            folder(p, kFolder, false);
            cross(p);
        });
    }
    return QIcon();
}

QString errorText(const std::exception& e) {
    if (const auto* err = dynamic_cast<const vardex::Error*>(&e))
        return err->message();
    return QString::fromLocal8Bit(e.what());
}

void reportError(const QString& text, QWidget* owner) {
    QString title = QGuiApplication::applicationDisplayName();
    if (title.isEmpty())
        title = QStringLiteral("Vardex");
    showMessage(text, title, mb::Ok | mb::IconError, owner);
}

void reportError(const std::exception& e, QWidget* owner) {
    reportError(errorText(e), owner);
}

} // namespace vardex::admin
