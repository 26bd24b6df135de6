#pragma once
// The export file of a permission setup (format "vardex-permissions", version 1, described in
// docs/administrator.md): read and checked whole before an import writes anything. Every value must have the
// type the format gives it and pass the checks the administration verbs make of the same value
// (library/storerules.h); references must name what the file holds, and nothing may be listed
// twice. A file that fails raises ConvertError naming the JSON path of the first fault.
#include "library/adminops.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace vardex::exportfile {

extern const char* const kFormat;
constexpr int kVersion = 1;

struct Item {
    int id = 0;
    QString name; // null: the item has no name
};
struct UserGroup {
    QString id;
    bool enabled = true;
};
struct User {
    adminops::UserRow row; // group left 0: the import numbers the user groups
    QString group;         // the user group's ID, or null for none
};
struct PermissionGroup {
    QString name;
    QList<int> items;
    QStringList assignedTo;
};
struct Lockout {
    QString userId;
    int failures = 0;
    QString lastFailure; // yyyy-MM-dd hh:mm:ss, the store's clock in UTC
};
struct Setup {
    QList<Item> items;
    QList<UserGroup> userGroups;
    QList<User> users;
    QList<PermissionGroup> permissionGroups;
    // The store's password policy as its rows hold it, and its lockout counts; files written
    // before the policy existed have neither, and import as stores with the defaults.
    QList<QPair<QString, QString>> settings;
    QList<Lockout> lockouts;
};

// Parses and checks a file's bytes.
Setup read(const QByteArray& json);

} // namespace vardex::exportfile
