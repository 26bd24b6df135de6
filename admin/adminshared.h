#pragma once
// What the administration window and its two dialogs share: the window font, the pictures of
// the lists and buttons, and the application's error report for a failing statement.
#include <QFont>
#include <QIcon>
#include <QString>
#include <QVector>
#include <exception>

class QWidget;

namespace vardex::admin {

// 宋体 9 pt (12 pixels), with the families that stand in for it on Linux.
QFont windowFont();

// The six images of the lists, by index: 0 user group, 1 user, 2 permission group,
// 3 permission group (selected), 4 head item, 5 item.
const QVector<QIcon>& listImages();

enum class ButtonIcon { AddUser, DelUser, EditUser, AddUserGroup, AddZu, DelZu };
QIcon buttonIcon(ButtonIcon which);

// The text of an error as the operator sees it.
QString errorText(const std::exception& e);
// The application's error report: the error's own text in an error box owned by `owner`,
// under the application's title.
void reportError(const std::exception& e, QWidget* owner);
void reportError(const QString& text, QWidget* owner);

// Formats of the dates the store keeps.
inline QString dateFormat() {
    return QStringLiteral("yyyy-MM-dd");
}

} // namespace vardex::admin
