#include "library/exportfile.h"
#include "library/passwordpolicy.h"
#include "library/storerules.h"
#include "library/storeschema.h"
#include "library/uitext.h"
#include "platform/errors.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <cmath>

namespace vardex::exportfile {

const char* const kFormat = "vardex-permissions";

namespace {

[[noreturn]] void fault(const QString& path, const QString& what) {
    throw ConvertError(QStringLiteral("%1: %2").arg(path, what));
}

// One object of the file with its JSON path: every field it reads must be there with its type,
// and every field it holds must be one the format knows.
class Fields {
  public:
    Fields(const QJsonValue& v, QString path, const QStringList& known) : m_path(std::move(path)) {
        if (!v.isObject())
            fault(m_path, QStringLiteral("is not an object"));
        m_o = v.toObject();
        for (auto it = m_o.begin(); it != m_o.end(); ++it)
            if (!known.contains(it.key()))
                fault(at(it.key()), QStringLiteral("is not a field of this format"));
    }
    QString at(const QString& key) const { return m_path + QLatin1Char('.') + key; }
    QJsonValue need(const char* key) const {
        const QString k = QLatin1String(key);
        if (!m_o.contains(k))
            fault(at(k), QStringLiteral("is missing"));
        return m_o.value(k);
    }
    bool has(const char* key) const { return m_o.contains(QLatin1String(key)); }
    QString text(const char* key) const {
        const QJsonValue v = need(key);
        if (!v.isString())
            fault(at(QLatin1String(key)), QStringLiteral("is not a text"));
        if (!rules::isWholeText(v.toString()))
            fault(at(QLatin1String(key)), QStringLiteral("holds a lone surrogate, which is no character"));
        return v.toString();
    }
    QString name(const char* key, int maxLength) const {
        const QString v = text(key);
        check(key, rules::nameProblem(v, maxLength));
        return v;
    }
    // A name no earlier entry of its kind has taken.
    QString newName(const char* key, int maxLength, QSet<QString>& taken, const QString& message) const {
        const QString v = name(key, maxLength);
        if (taken.contains(v))
            fault(at(QLatin1String(key)), message.arg(v));
        taken.insert(v);
        return v;
    }
    bool flag(const char* key) const {
        const QJsonValue v = need(key);
        if (!v.isBool())
            fault(at(QLatin1String(key)), QStringLiteral("is not true or false"));
        return v.toBool();
    }
    int number(const char* key) const { return wholeNumber(need(key), at(QLatin1String(key))); }
    QJsonArray array(const char* key) const {
        const QJsonValue v = need(key);
        if (!v.isArray())
            fault(at(QLatin1String(key)), QStringLiteral("is not an array"));
        return v.toArray();
    }
    void check(const char* key, const QString& problem) const {
        if (!problem.isEmpty())
            fault(at(QLatin1String(key)), problem);
    }
    static int wholeNumber(const QJsonValue& v, const QString& path) {
        const double d = v.toDouble();
        if (!v.isDouble() || std::floor(d) != d || d < INT32_MIN || d > INT32_MAX)
            fault(path, QStringLiteral("is not a whole number of 32 bits"));
        return static_cast<int>(d);
    }

  private:
    QString m_path;
    QJsonObject m_o;
};

QString element(const char* array, int i) {
    return QStringLiteral("%1[%2]").arg(QLatin1String(array)).arg(i);
}

// What the sections read so far tell the later ones: the IDs taken, the user groups, and who
// may hold a permission group (user groups and users in none).
struct Known {
    QSet<int> itemIds;
    QSet<QString> ids, groupIds, holdersAllowed; // user groups and users share one space of IDs
    QSet<QString> permNames;
};

void readHeader(const Fields& root) {
    if (root.text("format") != QLatin1String(kFormat))
        fault(root.at(QStringLiteral("format")),
              QStringLiteral("not an export of this program (format is not %1)").arg(QLatin1String(kFormat)));
    const QJsonValue version = root.need("version");
    if (version != QJsonValue(kVersion))
        fault(root.at(QStringLiteral("version")),
              QStringLiteral("export version %1 is not known (this program reads version %2)")
                  .arg(version.toVariant().toString())
                  .arg(kVersion));
    if (root.has("keyNote"))
        root.text("keyNote");
}

void readItems(const Fields& root, Known& k, Setup& s) {
    const QJsonArray items = root.array("items");
    for (int i = 0; i < items.size(); ++i) {
        const Fields o(items[i], element("items", i), {QStringLiteral("id"), QStringLiteral("name")});
        Item item;
        item.id = o.number("id");
        if (k.itemIds.contains(item.id))
            fault(o.at(QStringLiteral("id")), QStringLiteral("item %1 exists").arg(item.id));
        k.itemIds.insert(item.id);
        // The item list editor leaves a name out as NULL.
        if (!o.need("name").isNull())
            item.name = o.name("name", rules::kItemNameLength);
        s.items.append(item);
    }
}

void readUserGroups(const Fields& root, Known& k, Setup& s) {
    const QJsonArray groups = root.array("userGroups");
    if (groups.size() > schema::kMaxUserGroups)
        fault(element("userGroups", schema::kMaxUserGroups), Ui::tr("用户组已达999个, 不能再添加用户组."));
    for (int i = 0; i < groups.size(); ++i) {
        const Fields o(groups[i], element("userGroups", i),
                       {QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("enabled")});
        UserGroup g;
        g.id = o.newName("id", rules::kIdLength, k.ids, QStringLiteral("user or user group %1 exists"));
        // The name dialog makes a user group's name its ID; the name is checked, not read.
        o.name("name", rules::kIdLength);
        g.enabled = o.flag("enabled");
        k.groupIds.insert(g.id);
        k.holdersAllowed.insert(g.id);
        s.userGroups.append(g);
    }
}

User readUser(const Fields& o, Known& k) {
    User u;
    u.row.userId = o.newName("id", rules::kIdLength, k.ids, QStringLiteral("user %1 exists"));
    u.row.userName = o.name("name", rules::kIdLength);
    u.row.password = o.text("password");
    o.check("password", rules::cipherTextProblem(u.row.password));
    u.row.startDate = o.text("start");
    o.check("start", rules::dateProblem(u.row.startDate));
    u.row.endDate = o.text("end");
    o.check("end", rules::dateProblem(u.row.endDate));
    u.row.allow = schema::flagText(o.flag("enabled"));
    u.row.discount = o.number("discount");
    o.check("discount", rules::discountProblem(u.row.discount));
    if (!o.need("group").isNull()) {
        u.group = o.text("group");
        if (!k.groupIds.contains(u.group))
            fault(o.at(QStringLiteral("group")), QStringLiteral("no user group %1").arg(u.group));
    } else {
        k.holdersAllowed.insert(u.row.userId);
    }
    return u;
}

void readUsers(const Fields& root, Known& k, Setup& s) {
    const QJsonArray users = root.array("users");
    for (int i = 0; i < users.size(); ++i)
        s.users.append(
            readUser(Fields(users[i], element("users", i),
                            {QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("password"),
                             QStringLiteral("start"), QStringLiteral("end"), QStringLiteral("enabled"),
                             QStringLiteral("discount"), QStringLiteral("group")}),
                     k));
}

PermissionGroup readPermissionGroup(const Fields& o, Known& k) {
    PermissionGroup p;
    p.name = o.newName("name", rules::kIdLength, k.permNames, QStringLiteral("permission group %1 exists"));
    const QJsonArray granted = o.array("items");
    for (int j = 0; j < granted.size(); ++j) {
        const QString path = o.at(QStringLiteral("items[%1]").arg(j));
        const int id = Fields::wholeNumber(granted[j], path);
        if (!k.itemIds.contains(id))
            fault(path, QStringLiteral("no item %1").arg(id));
        if (p.items.contains(id))
            fault(path, QStringLiteral("item %1 is listed twice").arg(id));
        p.items.append(id);
    }
    const QJsonArray holders = o.array("assignedTo");
    for (int j = 0; j < holders.size(); ++j) {
        const QString path = o.at(QStringLiteral("assignedTo[%1]").arg(j));
        if (!holders[j].isString())
            fault(path, QStringLiteral("is not a text"));
        const QString h = holders[j].toString();
        if (!k.ids.contains(h))
            fault(path, QStringLiteral("no user %1").arg(h));
        if (!k.holdersAllowed.contains(h))
            fault(path,
                  QStringLiteral("%1 is a member of a user group and holds no permission group of its own")
                      .arg(h));
        if (p.assignedTo.contains(h))
            fault(path, QStringLiteral("%1 is listed twice").arg(h));
        p.assignedTo.append(h);
    }
    return p;
}

void readPermissionGroups(const Fields& root, Known& k, Setup& s) {
    const QJsonArray perms = root.array("permissionGroups");
    for (int i = 0; i < perms.size(); ++i)
        s.permissionGroups.append(readPermissionGroup(
            Fields(perms[i], element("permissionGroups", i),
                   {QStringLiteral("name"), QStringLiteral("items"), QStringLiteral("assignedTo")}),
            k));
}

// The grant counts are written for comparison and never read; their form is checked all the same.
void readGrants(const Fields& root) {
    if (!root.has("grants"))
        return;
    const QJsonArray grants = root.array("grants");
    for (int i = 0; i < grants.size(); ++i) {
        const Fields o(grants[i], element("grants", i),
                       {QStringLiteral("holder"), QStringLiteral("item"), QStringLiteral("count")});
        o.text("holder");
        o.number("item");
        o.number("count");
    }
}

void readSettings(const Fields& root, Setup& s) {
    if (!root.has("settings"))
        return;
    const QJsonValue v = root.need("settings");
    if (!v.isObject())
        fault(root.at(QStringLiteral("settings")), QStringLiteral("is not an object"));
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString path = root.at(QStringLiteral("settings.") + it.key());
        if (!it.value().isString())
            fault(path, QStringLiteral("is not a text"));
        const QString problem = policy::valueProblem(it.key(), it.value().toString());
        if (!problem.isEmpty())
            fault(path, problem);
        s.settings.append({it.key(), it.value().toString()});
    }
}

void readLockouts(const Fields& root, const Known& k, Setup& s) {
    if (!root.has("lockout"))
        return;
    static const QRegularExpression time(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    const QJsonArray rows = root.array("lockout");
    QSet<QString> seen;
    for (int i = 0; i < rows.size(); ++i) {
        const Fields o(rows[i], element("lockout", i),
                       {QStringLiteral("user"), QStringLiteral("failures"), QStringLiteral("lastFailure")});
        Lockout l;
        l.userId = o.text("user");
        if (!k.ids.contains(l.userId) || k.groupIds.contains(l.userId))
            fault(o.at(QStringLiteral("user")), QStringLiteral("no user %1").arg(l.userId));
        if (seen.contains(l.userId))
            fault(o.at(QStringLiteral("user")), QStringLiteral("%1 is listed twice").arg(l.userId));
        seen.insert(l.userId);
        l.failures = o.number("failures");
        if (l.failures < 1)
            fault(o.at(QStringLiteral("failures")), QStringLiteral("is not a count of 1 or more"));
        l.lastFailure = o.text("lastFailure");
        if (!time.match(l.lastFailure).hasMatch())
            fault(o.at(QStringLiteral("lastFailure")), QStringLiteral("is not a time yyyy-MM-dd hh:mm:ss"));
        s.lockouts.append(l);
    }
}

} // namespace

Setup read(const QByteArray& json) {
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    if (err.error != QJsonParseError::NoError)
        throw ConvertError(QStringLiteral("no JSON: %1 at %2").arg(err.errorString()).arg(err.offset));
    const Fields root(doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(), QStringLiteral("$"),
                      {QStringLiteral("format"), QStringLiteral("version"), QStringLiteral("keyNote"),
                       QStringLiteral("items"), QStringLiteral("userGroups"), QStringLiteral("users"),
                       QStringLiteral("permissionGroups"), QStringLiteral("grants"),
                       QStringLiteral("settings"), QStringLiteral("lockout")});
    readHeader(root);
    Setup s;
    Known known;
    readItems(root, known, s);
    readUserGroups(root, known, s);
    readUsers(root, known, s);
    readPermissionGroups(root, known, s);
    readGrants(root);
    readSettings(root, s);
    readLockouts(root, known, s);
    return s;
}

} // namespace vardex::exportfile
