// Random sequences of what the administration window and the item editor send to the store,
// checked against the doctor and against a model of what the store should hold.
//
// Environment:
//   VARDEX_PROPERTY_OPS   operations per backend (default: SQLite 3000, servers 1500)
//   VARDEX_PROPERTY_SEED  seed of the generator (default: a fixed seed per backend); a failure
//                         prints the seed and the operation index, so a run can be replayed.
//   VARDEX_PROPERTY_CHECK every how many operations the whole store is checked (default 50;
//                         1 finds the first operation that goes wrong when replaying)
#include "library/doctor.h"
#include "platform/sqldialect.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <map>
#include <random>
#include <set>

using namespace vardex;
using namespace vardex::test;

namespace {

QString lit(const QString& v) {
    return QLatin1Char('\'') + escapeQuotes(v) + QLatin1Char('\'');
}

bool holdsRights(int zuid) {
    return (zuid >= 1 && zuid <= 999) || zuid >= 10000;
}

QStringList pool(const QString& prefix, int n, QStringList extra) {
    for (int i = 1; i <= n; ++i)
        extra << prefix + QString::number(i);
    return extra;
}

// Value pools: IDs and names are reused once free again, which is how leftovers of a deleted
// user or group would come to light. Some need quoting, some are not ASCII.
const QStringList kUserIds = pool("u", 26, {"o'k", "用户甲", "用户'乙", "a''b"});
const QStringList kGroupIds = pool("G", 8, {"组'一", "用户组二"});
const QStringList kZuNames = pool("P", 6, {"权限组'甲", "管理"});
constexpr int kMaxItemNumber = 24;
constexpr int kMaxItems = 14;

struct Item {
    int identity; // survives renumbering and renaming; a deleted and re-added row gets a new one
    QString name; // unique among the current rows, never starting with a digit
};

class Sequence {
  public:
    Sequence(AdoConnection& cn, uint32_t seed) : m_cn(cn), m_rng(seed) {}

    // One random operation. Returns a problem found on the way ("" when none).
    QString step(int index) {
        m_current = QString("#%1 ").arg(index);
        QString problem;
        for (bool done = false; !done;) {
            switch (pick({6, 8, 8, 4, 5, 5, 3, 4, 2, 14, 14, 5, 9})) {
            case 0:
                done = addUserGroup();
                break;
            case 1:
                done = addUser(10000);
                break;
            case 2:
                done = addMember();
                break;
            case 3:
                done = deleteUser();
                break;
            case 4:
                done = moveIn();
                break;
            case 5:
                done = moveOut();
                break;
            case 6:
                done = moveBetween();
                break;
            case 7:
                done = addZu();
                break;
            case 8:
                done = deleteZu();
                break;
            case 9:
                done = toggleAssignment(problem);
                break;
            case 10:
                done = toggleGrant(problem);
                break;
            case 11:
                done = toggleEnabled(problem);
                break;
            case 12:
                done = editItems(problem);
                break;
            }
        }
        m_history.push_back(m_current);
        if (m_history.size() > 12)
            m_history.pop_front();
        m_current.clear();
        return problem;
    }

    // The doctor and the whole model against the store.
    QString verify() {
        const QString found = doctor();
        if (!found.isEmpty())
            return found;
        QStringList bad;
        std::map<QString, std::pair<int, QString>> users;
        for (const auto& row : rows("select userID, zuid, Allow from qx_user"))
            users[row[0]] = {row[1].toInt(), row[2]};
        std::map<QString, std::pair<int, QString>> want;
        for (const auto& [id, z] : m_zuid)
            want[id] = {z, m_allow.at(id)};
        if (users != want)
            bad << "qx_user differs from the model";
        std::map<int, QString> names;
        for (const auto& row : rows("select qxID, qxName from qx_Name"))
            names[row[0].toInt()] = row[1];
        std::map<int, QString> wantNames;
        for (const auto& [n, it] : m_items)
            wantNames[n] = it.name;
        if (names != wantNames)
            bad << "qx_Name differs from the model";
        std::set<QString> zus;
        for (const auto& row : rows("select distinct zuName from qx_zu"))
            zus.insert(row[0]);
        if (zus != m_zus)
            bad << "the permission groups differ from the model";
        for (const auto& row : rows("select zuName, qxID, Allow from qx_zu"))
            if (m_items.count(row[1].toInt()) && (row[2] == "T") != granted(row[0], row[1].toInt()))
                bad << QString("qx_zu %1/%2 is %3").arg(row[0], row[1], row[2]);
        for (const auto& row : rows("select userID, zuName, Allow from qx_user_zu"))
            if (isHolder(row[0]) && m_zus.count(row[1]) &&
                (row[2] == "T") != m_assigned.count({row[0], row[1]}))
                bad << QString("qx_user_zu %1/%2 is %3").arg(row[0], row[1], row[2]);
        for (const auto& row : rows("select userID, qxID, AllowCount from qx_user_qx"))
            if (isHolder(row[0]) && m_items.count(row[1].toInt()) &&
                row[2].toInt() != expectedCount(row[0], row[1].toInt()))
                bad << QString("count %1/%2 is %3, the model gives %4")
                           .arg(row[0], row[1], row[2])
                           .arg(expectedCount(row[0], row[1].toInt()));
        return bad.mid(0, 10).join("\n  ");
    }

    // The last operations, and the one that was running when a statement failed.
    QString trail() const {
        QString s;
        for (const QString& h : m_history)
            s += h + "\n";
        return s + m_current;
    }
    int editsWithSwap = 0, editsReusingNumber = 0, movedGrants = 0;
    QString summary() const {
        return QString("%1 users and groups, %2 items, %3 permission groups, %4 assignments, %5 grants")
            .arg(m_zuid.size())
            .arg(m_items.size())
            .arg(m_zus.size())
            .arg(m_assigned.size())
            .arg(m_granted.size());
    }

  private:
    // --- users and user groups -------------------------------------------------------------
    bool addUserGroup() {
        std::set<int> used;
        for (const auto& [id, z] : m_zuid)
            if (z < 1000)
                used.insert(z);
        if (used.size() >= 6)
            return false;
        const QString id = freeId(kGroupIds);
        if (id.isEmpty())
            return false;
        int n = 1;
        while (used.count(n))
            ++n;
        op("add user group");
        send(QString("Insert qx_user (zuid,userID,userName) values (%1,%2,%2)").arg(n).arg(lit(id)));
        send("Exec qxAddUser " + lit(id));
        m_zuid[id] = n;
        m_allow[id] = rows("select Allow from qx_user where userID = " + lit(id)).value(0).value(0);
        return true;
    }
    bool addUser(int zuid) {
        const QString id = freeId(kUserIds);
        if (id.isEmpty())
            return false;
        const QString allow = coin() ? "T" : "F";
        op(zuid == 10000 ? "add user" : "add member");
        send(QString("Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) "
                     "VALUES "
                     "(%1,%1,'','2024-01-01','2030-12-31','%2',0,%3)")
                 .arg(lit(id), allow)
                 .arg(zuid));
        if (zuid == 10000)
            send("Exec qxAddUser " + lit(id));
        m_zuid[id] = zuid;
        m_allow[id] = allow;
        return true;
    }
    bool addMember() {
        const QStringList groups = usersWhere([](int z) { return z < 1000; });
        return !groups.isEmpty() && addUser(1000 + m_zuid[any(groups)]);
    }
    bool deleteUser() {
        const QStringList all = usersWhere([](int) { return true; });
        if (all.isEmpty())
            return false;
        const QString id = any(all);
        const int z = m_zuid[id];
        op("delete");
        send("Exec qxDelUser " + lit(id));
        forget(id);
        if (z < 1000)
            for (const QString& m : usersWhere([z](int mz) { return mz == 1000 + z; }))
                forget(m);
        return true;
    }
    bool moveIn() {
        const QStringList users = usersWhere([](int z) { return z == 10000; });
        const QStringList groups = usersWhere([](int z) { return z < 1000; });
        if (users.isEmpty() || groups.isEmpty())
            return false;
        const QString id = any(users);
        const int n = m_zuid[any(groups)];
        op("move into group");
        send(QString("Update qx_user set zuid = %1 where userID = %2").arg(1000 + n).arg(lit(id)));
        send(QString("exec qxuserintozu %1,%2").arg(lit(id)).arg(n));
        m_zuid[id] = 1000 + n;
        dropAssignments(id);
        return true;
    }
    bool moveOut() {
        const QStringList members = usersWhere([](int z) { return z > 1000 && z < 10000; });
        if (members.isEmpty())
            return false;
        const QString id = any(members);
        op("move out of group");
        send(QString("Update qx_user set zuid = 10000 where userID = %1").arg(lit(id)));
        send(QString("exec qxuseroutzu %1,%2").arg(lit(id)).arg(m_zuid[id] - 1000));
        m_zuid[id] = 10000;
        // Whether the user starts afresh or takes its group's assignments over is the store's
        // choice: take what it holds now; the counts must then agree with it.
        for (const auto& row : rows("select zuName, Allow from qx_user_zu where userID = " + lit(id)))
            if (row[1] == "T" && m_zus.count(row[0]))
                m_assigned.insert({id, row[0]});
        return true;
    }
    bool moveBetween() {
        const QStringList members = usersWhere([](int z) { return z > 1000 && z < 10000; });
        const QStringList groups = usersWhere([](int z) { return z < 1000; });
        if (members.isEmpty() || groups.size() < 2)
            return false;
        const QString id = any(members);
        int n = m_zuid[any(groups)];
        if (1000 + n == m_zuid[id])
            return false;
        op("move to another group");
        send(QString("Update qx_user set zuid = %1 where userID = %2").arg(1000 + n).arg(lit(id)));
        m_zuid[id] = 1000 + n;
        return true;
    }

    // --- permission groups and toggles -----------------------------------------------------
    bool addZu() {
        QStringList free;
        for (const QString& z : kZuNames)
            if (!m_zus.count(z))
                free << z;
        if (free.isEmpty() || m_zus.size() >= 5)
            return false;
        const QString name = any(free);
        op("add permission group");
        send("Exec qxAddzuName " + lit(name));
        // A permission group exists as long as it has qx_zu rows: with no items it has none.
        if (!m_items.empty())
            m_zus.insert(name);
        return true;
    }
    bool deleteZu() {
        if (m_zus.empty())
            return false;
        const QString name = any(QStringList(m_zus.begin(), m_zus.end()));
        op("delete permission group");
        send("Exec qxDelzu " + lit(name));
        dropZu(name);
        return true;
    }
    // The windows read the shown flag and report only a real change, with the new flag.
    bool toggleAssignment(QString& problem) {
        const QStringList holders = usersWhere(holdsRights);
        if (holders.isEmpty() || m_zus.empty())
            return false;
        const QString id = any(holders);
        const QString zu = any(QStringList(m_zus.begin(), m_zus.end()));
        const bool now = m_assigned.count({id, zu});
        op("assignment");
        if (!readFlag("select Allow from qx_user_zu where userID = " + lit(id) + " and zuName = " + lit(zu),
                      now, problem))
            return true;
        const bool want = m_rng() % 5 < 3;
        if (want != now) {
            send(QString("Exec qx_user_zu_changed %1,%2,'%3'").arg(lit(id), lit(zu), want ? "T" : "F"));
            if (want)
                m_assigned.insert({id, zu});
            else
                m_assigned.erase({id, zu});
        }
        return true;
    }
    bool toggleGrant(QString& problem) {
        if (m_zus.empty() || m_items.empty())
            return false;
        const QString zu = any(QStringList(m_zus.begin(), m_zus.end()));
        auto it = m_items.begin();
        std::advance(it, m_rng() % m_items.size());
        const int number = it->first, identity = it->second.identity;
        const bool now = m_granted.count({zu, identity});
        op("grant");
        if (!readFlag(
                QString("select Allow from qx_zu where zuName = %1 and qxID = %2").arg(lit(zu)).arg(number),
                now, problem))
            return true;
        const bool want = m_rng() % 5 < 3;
        if (want != now) {
            send(QString("Exec qxUpDateAllows %1,%2,'%3'").arg(lit(zu)).arg(number).arg(want ? "T" : "F"));
            if (want)
                m_granted.insert({zu, identity});
            else
                m_granted.erase({zu, identity});
        }
        return true;
    }
    bool toggleEnabled(QString& problem) {
        const QStringList all = usersWhere([](int) { return true; });
        if (all.isEmpty())
            return false;
        const QString id = any(all);
        const bool now = m_allow[id] == "T";
        op("enabled flag");
        if (!readFlag("select Allow from qx_user where userID = " + lit(id), now, problem))
            return true;
        send(QString("Exec qxUpDateUserAllows %1,'%2'").arg(lit(id), now ? "F" : "T"));
        m_allow[id] = now ? "F" : "T";
        return true;
    }

    // --- the item editor ---------------------------------------------------------------------
    // Between the two procedures the editor writes qx_Name rows: new rows with qxNameEx NULL,
    // new numbers and names for existing rows (located here by their unique name), deletions.
    bool editItems(QString& problem) {
        op("item edit");
        const auto before = countsByIdentity();
        std::map<int, int> oldIdentities; // identity -> number before the edit
        for (const auto& i : m_items)
            oldIdentities[i.second.identity] = i.first;
        send("Exec qxNameChanged_before");
        std::map<int, Item> work = m_items;
        std::vector<std::pair<int, QString>> freed; // numbers and names deleted in this edit
        bool swapped = false, reused = false;
        if (m_rng() % 16 == 0) { // now and then the operator clears the list, maybe refilling it
            for (const auto& w : work) {
                send("Delete from qx_Name where qxName = " + lit(w.second.name));
                freed.push_back({w.first, w.second.name});
            }
            work.clear();
        }
        for (int edits = 1 + m_rng() % 4; edits > 0; --edits) {
            // Around ten items.
            const int size = static_cast<int>(work.size());
            const int kind = pick({3, 3, 2, 2, size < 10 ? 4 : 1, size > 4 ? 3 : size > 1 ? 1 : 0});
            if (kind == 0 && !work.empty()) { // renumber to a free number, sometimes renaming too
                const auto [from, item] = anyItem(work);
                const int to = freeNumber(work, freed, reused);
                if (to == 0)
                    continue;
                if (coin()) {
                    send(QString("Update qx_Name set qxID = %1 where qxName = %2")
                             .arg(to)
                             .arg(lit(item.name)));
                    work[to] = item;
                } else {
                    const QString name = newName();
                    send(QString("Update qx_Name set qxID = %1, qxName = %2 where qxName = %3")
                             .arg(to)
                             .arg(lit(name), lit(item.name)));
                    work[to] = {item.identity, name};
                }
                work.erase(from);
            } else if (kind == 1 && work.size() >= 2) { // two items exchange numbers
                const auto [a, ia] = anyItem(work);
                auto [b, ib] = anyItem(work);
                if (a == b)
                    continue;
                send(QString("Update qx_Name set qxID = %1 where qxName = %2").arg(b).arg(lit(ia.name)));
                send(QString("Update qx_Name set qxID = %1 where qxName = %2").arg(a).arg(lit(ib.name)));
                work[a] = ib;
                work[b] = ia;
                swapped = true;
            } else if (kind == 2 && work.size() >= 2) { // a chain shifts up: n1->n2->...->nk->free
                std::vector<int> numbers;
                for (const auto& w : work)
                    numbers.push_back(w.first);
                const size_t len = 2 + m_rng() % std::min<size_t>(3, numbers.size() - 1);
                const size_t start = m_rng() % (numbers.size() - len + 1);
                int last = numbers[start + len - 1] + 1;
                while (last <= kMaxItemNumber && work.count(last))
                    ++last;
                if (last > kMaxItemNumber)
                    continue;
                std::map<int, Item> moved;
                for (size_t i = 0; i < len; ++i) {
                    const int from = numbers[start + i];
                    const int to = i + 1 < len ? numbers[start + i + 1] : last;
                    send(QString("Update qx_Name set qxID = %1 where qxName = %2")
                             .arg(to)
                             .arg(lit(work[from].name)));
                    moved[to] = work[from];
                }
                for (size_t i = 0; i < len; ++i)
                    work.erase(numbers[start + i]);
                for (const auto& m : moved)
                    work[m.first] = m.second;
            } else if (kind == 3 && !work.empty()) { // rename
                const auto [n, item] = anyItem(work);
                const QString name = newName();
                send(QString("Update qx_Name set qxName = %1 where qxName = %2")
                         .arg(lit(name), lit(item.name)));
                work[n].name = name;
            } else if (kind == 4 && work.size() < kMaxItems) { // a new row, maybe where one was deleted
                QString name = newName();
                int number = 0;
                if (!freed.empty() && coin()) {
                    const auto& f = freed[m_rng() % freed.size()];
                    if (!work.count(f.first)) {
                        number = f.first;
                        reused = true;
                        bool nameFree = true;
                        for (const auto& w : work)
                            nameFree = nameFree && w.second.name != f.second;
                        if (nameFree && coin())
                            name = f.second; // the same number and name: still a new item
                    }
                }
                if (number == 0)
                    number = freeNumber(work, freed, reused);
                if (number == 0)
                    continue;
                send(QString("Insert qx_Name (qxID, qxName) values (%1,%2)").arg(number).arg(lit(name)));
                work[number] = {m_nextIdentity++, name};
            } else if (kind == 5 && !work.empty()) { // delete
                const auto [n, item] = anyItem(work);
                send("Delete from qx_Name where qxName = " + lit(item.name));
                freed.push_back({n, item.name});
                work.erase(n);
            }
        }
        send("Exec qxNameChanged");
        editsWithSwap += swapped;
        editsReusingNumber += reused;

        std::set<int> kept;
        for (const auto& w : work)
            kept.insert(w.second.identity);
        for (auto it = m_granted.begin(); it != m_granted.end();)
            it = kept.count(it->second) ? std::next(it) : m_granted.erase(it);
        bool anySurvivor = false;
        for (const auto& i : oldIdentities)
            anySurvivor = anySurvivor || kept.count(i.first);
        m_items = work;
        if (m_items.empty()) {
            for (const QString& z : std::set<QString>(m_zus))
                dropZu(z);
        } else if (!anySurvivor) {
            // Every old item went: whether the groups live on (through the new items' rows)
            // depends on when the store reads the group names. Either is consistent.
            std::set<QString> still;
            for (const auto& row : rows("select distinct zuName from qx_zu"))
                still.insert(row[0]);
            for (const QString& z : std::set<QString>(m_zus))
                if (!still.count(z))
                    dropZu(z);
        }

        // Grants follow the item's identity through any renumbering; a new item, even on a
        // deleted item's number, starts at 0 for every holder. (Lost or doubled rows first.)
        if (!(problem = doctor()).isEmpty())
            return true;
        const auto after = countsByIdentity();
        for (const auto& [key, count] : after) {
            if (!kept.count(key.second))
                continue;
            const auto b = before.find(key);
            const int want = !oldIdentities.count(key.second) || b == before.end() ? 0 : b->second;
            movedGrants += want > 0 && oldIdentities.at(key.second) != numberOf(key.second);
            if (count != want && problem.isEmpty())
                problem = QString("after the edit %1 holds %2 on the item now numbered %3, before it held %4")
                              .arg(key.first)
                              .arg(count)
                              .arg(numberOf(key.second))
                              .arg(want);
        }
        return true;
    }

    // (holder, item identity) -> count, for the holders' rows of current items
    std::map<std::pair<QString, int>, int> countsByIdentity() {
        std::map<int, int> identityOf;
        for (const auto& [n, it] : m_items)
            identityOf[n] = it.identity;
        std::map<std::pair<QString, int>, int> counts;
        for (const auto& row : rows("select userID, qxID, AllowCount from qx_user_qx")) {
            auto id = identityOf.find(row[1].toInt());
            if (isHolder(row[0]) && id != identityOf.end())
                counts[{row[0], id->second}] = row[2].toInt();
        }
        return counts;
    }

    // --- helpers -----------------------------------------------------------------------------
    QString doctor() {
        const DoctorReport r = checkStore(m_cn);
        QString s = r.clean() ? QString() : QString("doctor:");
        for (const Violation& v : r.violations.mid(0, 10))
            s += "\n  " + v.describe();
        return s;
    }
    void op(const QString& name) { m_current += name + ":"; }
    void send(const QString& tsql) {
        m_current += "\n    " + tsql;
        m_cn.execute(tsql);
    }
    QList<QStringList> rows(const QString& sql) {
        AdoQuery q(&m_cn, sql);
        q.open();
        QList<QStringList> out;
        for (int r = 0; r < q.recordCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < q.fieldCount(); ++c)
                cells << q.value(r, c).toString().trimmed();
            out << cells;
        }
        return out;
    }
    bool readFlag(const QString& sql, bool model, QString& problem) {
        const auto r = rows(sql);
        if (r.size() != 1 || (r[0][0] == "T") != model) {
            problem = QString("%1\n    gave %2 row(s), first '%3'; the model says %4")
                          .arg(sql)
                          .arg(r.size())
                          .arg(r.isEmpty() ? QString() : r[0][0], model ? "T" : "F");
            return false;
        }
        return true;
    }
    size_t pick(std::initializer_list<int> weights) {
        std::discrete_distribution<size_t> d(weights.begin(), weights.end());
        return d(m_rng);
    }
    bool coin() { return m_rng() % 2 == 0; }
    QString any(const QStringList& list) { return list[m_rng() % list.size()]; }
    std::pair<int, Item> anyItem(const std::map<int, Item>& work) {
        auto it = work.begin();
        std::advance(it, m_rng() % work.size());
        return *it;
    }
    QString freeId(const QStringList& from) {
        QStringList free;
        for (const QString& id : from)
            if (!m_zuid.count(id))
                free << id;
        return free.isEmpty() ? QString() : any(free);
    }
    // A number no row has; now and then one deleted in this very edit.
    int freeNumber(const std::map<int, Item>& work, const std::vector<std::pair<int, QString>>& freed,
                   bool& reused) {
        if (!freed.empty() && coin()) {
            const int n = freed[m_rng() % freed.size()].first;
            if (!work.count(n)) {
                reused = true;
                return n;
            }
        }
        std::vector<int> free;
        for (int n = 1; n <= kMaxItemNumber; ++n)
            if (!work.count(n))
                free.push_back(n);
        return free.empty() ? 0 : free[m_rng() % free.size()];
    }
    QString newName() { return (coin() ? "k" : "项") + QString::number(m_nextName++); }
    template <typename F> QStringList usersWhere(F f) const {
        QStringList out;
        for (const auto& [id, z] : m_zuid)
            if (f(z))
                out << id;
        return out;
    }
    bool isHolder(const QString& id) const {
        auto it = m_zuid.find(id);
        return it != m_zuid.end() && holdsRights(it->second);
    }
    bool granted(const QString& zu, int number) const {
        auto it = m_items.find(number);
        return it != m_items.end() && m_granted.count({zu, it->second.identity});
    }
    int expectedCount(const QString& holder, int number) const {
        int n = 0;
        for (const QString& zu : m_zus)
            n += m_assigned.count({holder, zu}) && granted(zu, number);
        return n;
    }
    int numberOf(int identity) const {
        for (const auto& [n, it] : m_items)
            if (it.identity == identity)
                return n;
        return 0;
    }
    void dropAssignments(const QString& id) {
        for (auto it = m_assigned.begin(); it != m_assigned.end();)
            it = it->first == id ? m_assigned.erase(it) : std::next(it);
    }
    void forget(const QString& id) {
        m_zuid.erase(id);
        m_allow.erase(id);
        dropAssignments(id);
    }
    void dropZu(const QString& zu) {
        m_zus.erase(zu);
        for (auto it = m_assigned.begin(); it != m_assigned.end();)
            it = it->second == zu ? m_assigned.erase(it) : std::next(it);
        for (auto it = m_granted.begin(); it != m_granted.end();)
            it = it->first == zu ? m_granted.erase(it) : std::next(it);
    }

    AdoConnection& m_cn;
    std::mt19937 m_rng;
    std::map<QString, int> m_zuid;                    // every qx_user row: userID -> zuid
    std::map<QString, QString> m_allow;               // userID -> "T" / "F"
    std::set<QString> m_zus;                          // permission groups that exist
    std::map<int, Item> m_items;                      // item number -> item
    std::set<std::pair<QString, QString>> m_assigned; // (holder, group) assigned
    std::set<std::pair<QString, int>> m_granted;      // (group, item identity) granted
    int m_nextIdentity = 1, m_nextName = 1;
    QString m_current;
    std::deque<QString> m_history;
};

} // namespace

class Property : public ::testing::TestWithParam<Backend> {};

TEST_P(Property, RandomSequencesKeepTheInvariantsAndTheModel) {
    const int index = static_cast<int>(GetParam());
    bool fromEnv = false;
    int ops = qEnvironmentVariableIntValue("VARDEX_PROPERTY_OPS", &fromEnv);
    if (!fromEnv)
        ops = GetParam() == Backend::SQLite ? 3000 : 1500;
    const uint32_t seed = qEnvironmentVariableIsSet("VARDEX_PROPERTY_SEED")
                              ? qEnvironmentVariable("VARDEX_PROPERTY_SEED").toUInt()
                              : 20240601u + 7919u * index;
    bool checkFromEnv = false;
    int checkEvery = qEnvironmentVariableIntValue("VARDEX_PROPERTY_CHECK", &checkFromEnv);
    checkEvery = checkFromEnv ? std::max(1, checkEvery) : 50;
    TempStore store(GetParam());
    auto cn = openConnection(store.connectionString());
    Sequence run(*cn, seed);
    for (int i = 0; i < ops; ++i) {
        QString problem;
        try {
            problem = run.step(i);
            if (problem.isEmpty() && ((i + 1) % checkEvery == 0 || i + 1 == ops))
                problem = run.verify();
        } catch (const Error& e) {
            problem = "statement failed: " + e.message();
        }
        if (!problem.isEmpty()) {
            FAIL() << "VARDEX_PROPERTY_SEED=" << seed << " (" << backendName(GetParam()) << "), operation #"
                   << i << "\n"
                   << problem.toStdString() << "\nlast operations:\n"
                   << run.trail().toStdString();
        }
    }
    std::printf("seed %u, %d operations; at the end %s; %d edits with a swap, %d reusing a number, "
                "%d non-zero counts carried to a new number\n",
                seed, ops, qPrintable(run.summary()), run.editsWithSwap, run.editsReusingNumber,
                run.movedGrants);
    // The generator reached the item edits the model cares about most.
    if (ops >= 500) {
        EXPECT_GT(run.editsWithSwap, 0);
        EXPECT_GT(run.editsReusingNumber, 0);
        EXPECT_GT(run.movedGrants, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, Property, VARDEX_BACKEND_PARAMS);
