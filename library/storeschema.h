#pragma once
// The store's vocabulary: how qx_user.zuid numbers user groups and their members, the flag
// texts of the Allow columns, the column limits, the tables with their columns, and the one way
// a text becomes an SQL literal. Every part of the system that builds a statement or reads a row
// takes these from here.
#include "platform/sqldialect.h"

#include <QLatin1String>
#include <QString>
#include <QStringList>

namespace vardex::schema {

// qx_user.zuid: 1..999 is a user group (its number); a member of group n has 1000 + n; a user in
// no user group has 10000. An item (qx_Name.qxID) at a multiple of 1000 heads the items up to the
// next one.
constexpr int kMemberBase = 1000;
constexpr int kNoGroupZuid = 10000;
constexpr int kMaxUserGroups = 999;

// A user group's own row.
constexpr bool isUserGroup(int zuid) {
    return zuid >= 1 && zuid <= kMaxUserGroups;
}
// A user's row rather than a group's (member or in no group); everything below is a group's.
constexpr bool isUserRow(int zuid) {
    return zuid >= kMemberBase;
}
// A user who belongs to a user group.
constexpr bool isGroupMember(int zuid) {
    return zuid >= kMemberBase && zuid < kNoGroupZuid;
}
// The zuid of a member of group n, or of a user in no group for 0.
constexpr int memberZuid(int group) {
    return group != 0 ? kMemberBase + group : kNoGroupZuid;
}
// The group a member belongs to, 0 for a user in no group (or a group's own row).
constexpr int groupOfMember(int zuid) {
    return isGroupMember(zuid) ? zuid - kMemberBase : 0;
}
// A zuid the numbering knows for a user: a member of groups 1..999, or no group.
constexpr bool isKnownUserZuid(int zuid) {
    return (zuid > kMemberBase && zuid <= kMemberBase + kMaxUserGroups) || zuid == kNoGroupZuid;
}
// A row whose rights are its own (a user group or a user in no group), not its group's.
constexpr bool holdsOwnRights(int zuid) {
    return isUserGroup(zuid) || zuid >= kNoGroupZuid;
}
// An item that heads a section of the item list.
constexpr bool isHeadItem(int qxID) {
    return qxID % kMemberBase == 0;
}

// The boundaries, as the rows have always been read.
static_assert(isUserGroup(1) && isUserGroup(999) && !isUserGroup(0) && !isUserGroup(1000));
static_assert(!isUserRow(999) && isUserRow(1000) && isUserRow(kNoGroupZuid));
static_assert(isGroupMember(1000) && isGroupMember(9999) && !isGroupMember(999) && !isGroupMember(10000));
static_assert(memberZuid(1) == 1001 && memberZuid(999) == 1999 && memberZuid(0) == kNoGroupZuid);
static_assert(groupOfMember(1001) == 1 && groupOfMember(1000) == 0 && groupOfMember(10000) == 0);
static_assert(!isKnownUserZuid(1000) && isKnownUserZuid(1001) && isKnownUserZuid(1999) &&
              !isKnownUserZuid(2000) && isKnownUserZuid(10000) && !isKnownUserZuid(10001));
static_assert(holdsOwnRights(999) && !holdsOwnRights(1001) && holdsOwnRights(10000) && !holdsOwnRights(0));
static_assert(isHeadItem(0) && isHeadItem(2000) && !isHeadItem(2001));

// The Allow columns' texts: granted, refused, and (in the windows' trees) partly granted.
constexpr QLatin1String kGranted("T");
constexpr QLatin1String kRefused("F");
constexpr QLatin1String kPartly("O");
inline QString flagText(bool granted) {
    return granted ? QString(kGranted) : QString(kRefused);
}

// Column limits.
constexpr int kIdLength = 20;       // userID, userName, zuName
constexpr int kItemNameLength = 30; // qxName
constexpr int kPasswordLength = 100;

// The store's tables, in the order a copy fills them, each with its columns in order
// (comma-separated).
struct Table {
    const char* name;
    const char* columns;
    QStringList columnList() const { return QString::fromLatin1(columns).split(QLatin1Char(',')); }
};
inline constexpr Table kTables[] = {
    {"qx_Name", "qxID,qxName,qxNameEx"},
    {"qx_Name_Temp", "qxID,qxName,qxNameEx"},
    {"qx_user", "userID,userName,userPwd,startTime,endTime,Allow,AllowZekou,zuid"},
    {"qx_user_qx", "userID,qxID,AllowCount"},
    {"qx_user_zu", "userID,zuName,Allow"},
    {"qx_zu", "zuName,qxID,Allow"},
    {"qx_Logs", "CompName,userName,theTime,theLog"},
};

// A text as an SQL literal: between single quotes, each single quote in it doubled. (Defined in
// the data layer, which quotes the values of its own statements the same way.)
using vardex::sqlLiteral;

} // namespace vardex::schema
