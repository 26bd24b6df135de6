// The stored procedures on every database kind this run has, called as the clients call them.
// After each scenario the store doctor must find the tables consistent: one grant row per
// rights-holding user and item, one assignment row per user and permission group, one content
// row per permission group and item, and every count equal to what the assignments imply.
#include "library/doctor.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>
#include <map>

using namespace vardex;
using namespace vardex::test;

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

class Procedures : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        cn = openConnection(store->connectionString());
    }

    void exec(const QString& sql) { cn->execute(sql); }
    int count(const QString& sql) { return scalarInt(*cn, sql); }

    // Rows of a query as "a:b c:d", in the order asked for.
    QString rows(const QString& sql) {
        AdoQuery q(cn.get(), sql);
        q.open();
        QStringList out;
        for (q.first(); !q.eof(); q.next()) {
            QStringList fields;
            for (int i = 0; i < q.fieldCount(); ++i)
                fields << q.fieldByName(q.fieldName(i)).asString().trimmed();
            out << fields.join(':');
        }
        return out.join(' ');
    }
    QString grants(const QString& user) {
        return rows("select qxID, AllowCount from qx_user_qx where userID = '" + user + "' order by qxID");
    }
    QString contents(const QString& group) {
        return rows("select qxID, Allow from qx_zu where zuName = '" + group + "' order by qxID");
    }

    void addItems(std::initializer_list<int> ids) {
        for (int id : ids)
            exec(QString("Insert qx_Name (qxID, qxName) VALUES (%1, 'item%1')").arg(id));
    }
    void addUser(const QString& id, int zuid = 10000) {
        exec(QString("Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) "
                     "VALUES ('%1','%1','','2000-01-01','2099-12-31','T',0,%2)")
                 .arg(id)
                 .arg(zuid));
        if (zuid == 10000)
            exec("Exec qxAddUser '" + id + "'");
    }
    // As the administration window adds a user group: three fields appended, then qxAddUser.
    void addUserGroup(const QString& name, int n) {
        AdoQuery q(cn.get(), "select * from qx_user where zuid < 1000 order by zuid");
        q.open();
        q.append();
        q.setFieldValue("zuid", n);
        q.setFieldValue("userid", name);
        q.setFieldValue("username", name);
        q.post();
        exec("Exec qxAddUser '" + name + "'");
    }
    void assign(const QString& user, const QString& group, const char* flag = "T") {
        exec("Exec qx_user_zu_changed '" + user + "','" + group + "','" + flag + "'");
    }
    void grant(const QString& group, int item, const char* flag = "T") {
        exec(QString("Exec qxUpDateAllows '%1',%2,'%3'").arg(group).arg(item).arg(flag));
    }
    // One visit of the item list editor: snapshot, the edits, then the carry-over.
    void editItems(const QStringList& edits) {
        exec("Exec qxNameChanged_before");
        for (const QString& e : edits)
            exec(e);
        exec("Exec qxNameChanged");
    }

    // Items 1..6; u1 (no user group) in g and h; user group G (number 1) in h, with member m1;
    // g grants 1, 2 and 5, h grants 2 and 6.
    void buildShop() {
        addItems({1, 2, 3, 4, 5, 6});
        addUser("u1");
        addUserGroup("G", 1);
        addUser("m1", 1001);
        exec("Exec qxAddzuName 'g'");
        exec("Exec qxAddzuName 'h'");
        for (int item : {1, 2, 5})
            grant("g", item);
        assign("u1", "g");
        assign("u1", "h");
        assign("G", "h");
        grant("h", 2);
        grant("h", 6);
        ASSERT_EQ(grants("u1"), "1:1 2:2 3:0 4:0 5:1 6:1");
        ASSERT_EQ(grants("G"), "1:0 2:1 3:0 4:0 5:0 6:1");
    }

    // What every item (by name) holds: its grant counts and group contents.
    std::map<QString, QString> byName() {
        std::map<QString, QString> out;
        AdoQuery q(cn.get(), "select qxID, qxName from qx_Name");
        q.open();
        for (q.first(); !q.eof(); q.next()) {
            const int id = q.fieldByName("qxID").asInteger();
            out[q.fieldByName("qxName").asString()] =
                rows(QString("select userID, AllowCount from qx_user_qx where qxID = %1 order by userID")
                         .arg(id)) +
                " | " +
                rows(QString("select zuName, Allow from qx_zu where qxID = %1 order by zuName").arg(id));
        }
        return out;
    }
    const QString fresh = "G:0 m1:0 u1:0 | g:F h:F"; // a new item has rows for every qx_user row

    void expectConsistent() {
        QStringList found;
        for (const Violation& v : checkStore(*cn).violations)
            found << v.describe();
        EXPECT_TRUE(found.isEmpty()) << found.join('\n').toStdString();
    }

    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> cn;
};

} // namespace

TEST_P(Procedures, AddingWorksWithoutCounterparts) {
    addItems({1, 2});
    exec("Exec qxAddzuName 'g'"); // no users yet: the group's contents are made all the same
    EXPECT_EQ(contents("g"), "1:F 2:F");
    EXPECT_EQ(count("select count(*) from qx_user_zu"), 0);
    exec("Exec qxDelzu 'g'");
    addUser("u1"); // no permission groups: grant rows all the same
    EXPECT_EQ(grants("u1"), "1:0 2:0");
    EXPECT_EQ(count("select count(*) from qx_user_zu"), 0);
    exec("Exec qxAddzuName 'h'");
    EXPECT_EQ(rows("select userID, zuName, Allow from qx_user_zu"), "u1:h:F");
    expectConsistent();
}

TEST_P(Procedures, GroupMadeWhileThereAreNoItemsCanBeMadeAgain) {
    addUser("u1");
    exec("Exec qxAddzuName 'g'"); // no contents, so no group yet: the window may add it again
    editItems({"Insert qx_Name (qxID, qxName) VALUES (1, 'a')"});
    exec("Exec qxAddzuName 'g'");
    exec("Exec qxAddUser 'u1'"); // called twice for one user: nothing doubled either
    EXPECT_EQ(rows("select userID, zuName, Allow from qx_user_zu"), "u1:g:F");
    EXPECT_EQ(contents("g"), "1:F");
    EXPECT_EQ(grants("u1"), "1:0");
    expectConsistent();
}

TEST_P(Procedures, UserGroupRowNeedsOnlyThreeColumnsAndIDsAreLimitedTo20Characters) {
    addItems({1});
    addUserGroup("G", 1);
    EXPECT_EQ(rows("select zuid, userID, userName, Allow, AllowZekou from qx_user"), "1:G:G:T:0");
    EXPECT_EQ(grants("G"), "1:0");
    const QString id20(20, 'x');
    const QString insert =
        "Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) "
        "VALUES ('%1','n','','2000-01-01','2099-12-31','T',0,10000)";
    exec(insert.arg(id20));
    EXPECT_THROW(exec(insert.arg(id20 + "y")), DbError);
    exec("Exec qxAddUser '" + id20 + "'");
    EXPECT_THROW(exec("Exec qxAddzuName '" + id20 + "y'"), DbError);
    EXPECT_EQ(count("select count(*) from qx_user"), 2);
    EXPECT_EQ(count("select count(*) from qx_zu"), 0);
    expectConsistent();
}

TEST_P(Procedures, CountsMoveByOnePerReportedChange) {
    buildShop();
    grant("g", 3);
    EXPECT_EQ(grants("u1"), "1:1 2:2 3:1 4:0 5:1 6:1");
    EXPECT_EQ(grants("G"), "1:0 2:1 3:0 4:0 5:0 6:1"); // G is not in g
    assign("u1", "h", "F");
    EXPECT_EQ(grants("u1"), "1:1 2:1 3:1 4:0 5:1 6:0");
    grant("h", 2, "F");
    EXPECT_EQ(grants("G"), "1:0 2:0 3:0 4:0 5:0 6:1");
    EXPECT_EQ(contents("h"), "1:F 2:F 3:F 4:F 5:F 6:T");
    expectConsistent();
    exec("Exec qxUpDateUserAllows 'u1','F'");
    EXPECT_EQ(rows("select userID, Allow from qx_user order by zuid"), "G:T m1:T u1:F");
}

TEST_P(Procedures, DeletingAPermissionGroupTakesBackOnlyWhatItGave) {
    buildShop();
    exec("Exec qxDelzu 'g'"); // u1 is in g; G is not
    EXPECT_EQ(grants("u1"), "1:0 2:1 3:0 4:0 5:0 6:1");
    EXPECT_EQ(grants("G"), "1:0 2:1 3:0 4:0 5:0 6:1");
    EXPECT_EQ(count("select count(*) from qx_zu where zuName = 'g'"), 0);
    EXPECT_EQ(count("select count(*) from qx_user_zu where zuName = 'g'"), 0);
    expectConsistent();
}

TEST_P(Procedures, DeletingAUserGroupDeletesItsMembersOnly) {
    buildShop();
    addUserGroup("H", 2);
    addUser("m2", 1001);
    addUser("m3", 1002);
    exec("Exec qxDelUser 'G'");
    EXPECT_EQ(rows("select userID from qx_user order by userID"), "H m3 u1");
    EXPECT_EQ(rows("select distinct userID from qx_user_qx order by userID"), "H u1");
    EXPECT_EQ(rows("select distinct userID from qx_user_zu order by userID"), "H u1");
    exec("Exec qxDelUser 'u1'");
    EXPECT_EQ(rows("select userID from qx_user order by userID"), "H m3");
    EXPECT_EQ(count("select count(*) from qx_user_qx where userID = 'u1'"), 0);
    expectConsistent();
}

TEST_P(Procedures, JoiningAUserGroupDropsOwnRowsAndLeavingStartsEmpty) {
    buildShop();
    exec("Update qx_user Set zuid = 1001 where userID = 'u1'");
    exec("exec qxuserintozu 'u1',1");
    EXPECT_EQ(count("select count(*) from qx_user_qx where userID = 'u1'"), 0);
    EXPECT_EQ(count("select count(*) from qx_user_zu where userID = 'u1'"), 0);
    exec("Exec qxAddzuName 'k'"); // made while u1 is a member
    exec("Update qx_user Set zuid = 10000 where userID = 'u1'");
    exec("exec qxuseroutzu 'u1',1");
    EXPECT_EQ(grants("u1"), "1:0 2:0 3:0 4:0 5:0 6:0");
    EXPECT_EQ(rows("select zuName, Allow from qx_user_zu where userID = 'u1' order by zuName"),
              "g:F h:F k:F");
    expectConsistent();
}

TEST_P(Procedures, ItemEditWithoutUsersInsertsOnlyMissingRows) {
    addItems({1});
    editItems({"Insert qx_Name (qxID, qxName) VALUES (2, 'b')"});
    EXPECT_EQ(count("select count(*) from qx_user_qx") + count("select count(*) from qx_zu"), 0);
    exec("Exec qxAddzuName 'g'"); // a permission group, still no user
    editItems({"Insert qx_Name (qxID, qxName) VALUES (3, 'c')"});
    editItems({});
    EXPECT_EQ(contents("g"), "1:F 2:F 3:F");
    expectConsistent();
}

TEST_P(Procedures, RenumberingMovesEveryRowOnceByTheNumbersBeforeTheEdit) {
    buildShop();
    auto expected = byName();
    // Two items exchange numbers.
    editItems({"Update qx_Name Set qxID = 99 where qxID = 1", "Update qx_Name Set qxID = 1 where qxID = 2",
               "Update qx_Name Set qxID = 2 where qxID = 99"});
    EXPECT_EQ(byName(), expected);
    EXPECT_EQ(grants("u1"), "1:2 2:1 3:0 4:0 5:1 6:1");
    // A chain: 4 -> 7, 3 -> 4, 2 -> 3, 1 -> 2, renamed on the way.
    editItems({"Update qx_Name Set qxID = 7 where qxID = 4", "Update qx_Name Set qxID = 4 where qxID = 3",
               "Update qx_Name Set qxID = 3 where qxID = 2", "Update qx_Name Set qxID = 2 where qxID = 1",
               "Update qx_Name Set qxName = 'renamed' where qxName = 'item5'"});
    expected["renamed"] = expected["item5"];
    expected.erase("item5");
    EXPECT_EQ(byName(), expected);
    EXPECT_EQ(grants("u1"), "2:2 3:1 4:0 5:1 6:1 7:0");
    expectConsistent();
}

TEST_P(Procedures, DeletedItemsRowsNeverPassToTheItemTakingItsNumber) {
    buildShop();
    auto expected = byName();
    // Item 6 (granted by h) deleted and item 5 (granted by g) renumbered to 6.
    editItems({"DELETE qx_Name where qxID = 6", "Update qx_Name Set qxID = 6 where qxID = 5"});
    expected.erase("item6");
    EXPECT_EQ(byName(), expected);
    // Item 6 deleted and a new item added as 6: it starts with nothing.
    editItems({"DELETE qx_Name where qxID = 6", "Insert qx_Name (qxID, qxName) VALUES (6, 'new6')"});
    expected.erase("item5");
    expected["new6"] = fresh;
    EXPECT_EQ(byName(), expected);
    // Deleted and added anew under the same number and name: a new item as well.
    editItems({"DELETE qx_Name where qxID = 2", "Insert qx_Name (qxID, qxName) VALUES (2, 'item2')"});
    expected["item2"] = fresh;
    EXPECT_EQ(byName(), expected);
    expectConsistent();
}

TEST_P(Procedures, EditIsUndoneByRollbackAndNeedsItsSnapshot) {
    buildShop();
    const auto expected = byName();
    cn->beginTrans();
    editItems({"DELETE qx_Name where qxID = 1", "Update qx_Name Set qxID = 1 where qxID = 2"});
    cn->rollbackTrans();
    EXPECT_EQ(byName(), expected);
    editItems({"Update qx_Name Set qxID = 8 where qxID = 1"});
    // Without a new snapshot the carry-over would move the rows a second time: it is refused.
    EXPECT_THROW(exec("Exec qxNameChanged"), DbError);
    editItems({});
    EXPECT_EQ(grants("u1"), "2:2 3:0 4:0 5:1 6:1 8:1");
    expectConsistent();
}

INSTANTIATE_TEST_SUITE_P(Store, Procedures, VARDEX_BACKEND_PARAMS);
