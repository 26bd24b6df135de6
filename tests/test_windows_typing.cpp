// Windows driven with the mouse and the keyboard as a person drives them: text typed into the
// item list's cell editor and then a navigator button clicked, the up-down boxes, and a timed
// login whose time runs out while its own message box is open.
#include "admin/manager.h"
#include "admin/treelist.h"
#include "admin/user.h"
#include "capi/vardex.h"
#include "dialogs/join.h"
#include "dialogs/qxList.h"
#include "dialogs/widgets.h"
#include "library/cipher.h"
#include "platform/msgservice.h"
#include "tests/test_dialogs.h"

#include <QDateEdit>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QToolButton>

using namespace vardex;
using namespace vardex::test;
using N = vardex::dialogs::TDBNavigator;

namespace {

// Types the text key by key; characters without a key of their own come as key text, as an input
// method delivers them.
void type(QWidget* w, const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClicks(w, QString(c));
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

class TypedList : public SessionStore {
  protected:
    void prepareStore() override {
        for (const char* v : {"(1, '查询')", "(2, 'edit')", "(3, 'print')"})
            db->execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES %1").arg(v));
    }
    // The store's items and the grid's rows, both as "id:name" ordered by id.
    QString items() {
        AdoQuery q(db.get(), "select qxID, qxName from qx_Name order by qxID");
        q.open();
        QStringList out;
        for (q.first(); !q.eof(); q.next())
            out << q.fieldByName("qxID").asString() + ":" + q.fieldByName("qxName").asString();
        return out.join(' ');
    }
    static QString shown(TfrqxList* w) {
        QMap<int, QString> byId;
        DataSourceModel* m = w->model();
        for (int r = 0; r < m->rowCount(); ++r)
            byId.insert(m->index(r, 0).data().toInt(),
                        m->index(r, 0).data().toString() + ":" + m->index(r, 1).data().toString());
        return QStringList(byId.values()).join(' ');
    }
    int32_t run(int32_t useTransaction, std::function<void(TfrqxList*)> act) {
        ModalDriver driver([act](QWidget* w) {
            auto* list = qobject_cast<TfrqxList*>(w);
            ASSERT_NE(list, nullptr);
            act(list);
        });
        return ::EditRightList(useTransaction);
    }
    static void press(TfrqxList* w, N::Button b) {
        QTest::mouseClick(w->DBNavigator1->button(b), Qt::LeftButton);
    }
    static QLineEdit* editor(TfrqxList* w) { return qobject_cast<QLineEdit*>(w->wwDBGrid1->openEditor()); }
    // Clicks the cell, double-clicks it to open its editor and types over its text; the editor
    // stays open.
    static QLineEdit* typeInto(TfrqxList* w, int row, int column, const QString& text) {
        QTableView* g = w->wwDBGrid1;
        const QPoint at = g->visualRect(g->model()->index(row, column)).center();
        QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(g->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QLineEdit* e = editor(w);
        if (!e) {
            ADD_FAILURE() << "no cell editor opened";
            return nullptr;
        }
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        type(e, text);
        return e;
    }
    // Types the number, Tab to the name, types the name.
    static void typeRecord(TfrqxList* w, const QString& id, const QString& name) {
        QLineEdit* e = typeInto(w, w->model()->currentRow(), 0, id);
        ASSERT_NE(e, nullptr);
        QTest::keyClick(e, Qt::Key_Tab);
        ASSERT_NE(editor(w), nullptr);
        type(editor(w), name);
    }
};

TEST_P(TypedList, WhatTheCellEditorHoldsIsWhatTheNavigatorWrites) {
    log().clearLog();
    run(0, [this](TfrqxList* w) {
        // A new record typed in full and posted with the check button.
        press(w, N::Insert);
        typeRecord(w, "1000", "系统");
        press(w, N::Post);
        EXPECT_EQ(statements().value(2), "INSERT INTO qx_Name (qxID,qxName) VALUES (1000,'系统')");
        EXPECT_EQ(items(), "1:查询 2:edit 3:print 1000:系统");

        // An existing name typed over: the check button is offered at once, and + posts the text
        // before it adds the row.
        const int row = w->model()->currentRow() + 2; // item 2
        ASSERT_EQ(w->model()->index(row, 1).data().toString(), "edit");
        typeInto(w, row, 1, "edited");
        EXPECT_TRUE(w->DBNavigator1->button(N::Post)->isEnabled());
        const int rows = w->model()->rowCount();
        press(w, N::Insert);
        EXPECT_EQ(w->model()->rowCount(), rows + 1);
        EXPECT_EQ(items(), "1:查询 2:edited 3:print 1000:系统");

        // A move posts the record typed into the new row.
        typeRecord(w, "7", "七");
        press(w, N::Last);
        EXPECT_EQ(items(), "1:查询 2:edited 3:print 7:七 1000:系统");

        // Escape in the editor drops what was typed; the check button then sends nothing.
        const int before = statements().size();
        typeInto(w, 0, 1, "dropped");
        QTest::keyClick(editor(w), Qt::Key_Escape);
        press(w, N::Post);
        EXPECT_EQ(statements().size(), before);
        EXPECT_EQ(shown(w), items());
        QTest::mouseClick(w->btnOK, Qt::LeftButton);
    });
    EXPECT_EQ(statements().last(), "Exec qxNameChanged");
    EXPECT_EQ(items(), "1:查询 2:edited 3:print 7:七 1000:系统");
}

TEST_P(TypedList, DeletingARecordNeverPostedSendsNothing) {
    const QString before = items();
    for (int32_t useTransaction : {0, 1}) {
        SCOPED_TRACE(useTransaction);
        log().clearLog();
        MessageRecorder rec;
        run(useTransaction, [this](TfrqxList* w) {
            const int rows = w->model()->rowCount();
            press(w, N::Last);
            press(w, N::Insert);
            typeRecord(w, "5000", "临时");
            press(w, N::Delete);
            EXPECT_EQ(w->model()->rowCount(), rows);
            EXPECT_EQ(shown(w), items());
            // One the store would refuse (a name longer than its column) goes the same way.
            press(w, N::Insert);
            typeRecord(w, "5001", QString(36, QChar('x')));
            press(w, N::Delete);
            EXPECT_EQ(w->model()->rowCount(), rows);
            EXPECT_EQ(shown(w), items());
            EXPECT_EQ(statements().size(), 2); // the list and the snapshot only
            QTest::mouseClick(w->btnOK, Qt::LeftButton);
        });
        EXPECT_TRUE(rec.boxes.empty());
        ASSERT_EQ(statements().size(), 3);
        EXPECT_EQ(statements()[2], "Exec qxNameChanged");
        EXPECT_EQ(items(), before);
    }
}

// Keys typed where a person's keys go: the open cell editor, else the grid, whose first key
// opens the editor of its current cell.
void typeAtCursor(TfrqxList* w, const QString& text) {
    for (const QChar c : text) {
        QWidget* editor = w->wwDBGrid1->openEditor();
        type(editor ? editor : w->wwDBGrid1, QString(c));
    }
}

void tabAtCursor(TfrqxList* w) {
    QWidget* editor = w->wwDBGrid1->openEditor();
    QTest::keyClick(editor ? editor : static_cast<QWidget*>(w->wwDBGrid1), Qt::Key_Tab);
}

// "+" begins every new record in its number column, so number, Tab, name typed after it fill
// the record whichever cell was current. A record without a number, or with a number that is no
// number, is refused with the window's own input error before anything is sent.
TEST_P(TypedList, PlusBeginsAtTheNumberAndARecordNeedsOne) {
    MessageRecorder rec;
    run(0, [&](TfrqxList* w) {
        for (const auto& [id, name] : {std::pair{"1004", "调拨"}, std::pair{"1005", "盘点"}}) {
            press(w, N::Insert);
            typeAtCursor(w, id);
            tabAtCursor(w);
            typeAtCursor(w, name);
        }
        press(w, N::Post);
        EXPECT_TRUE(rec.boxes.empty());
        EXPECT_EQ(items(), "1:查询 2:edit 3:print 1004:调拨 1005:盘点");

        const int sent = statements().size();
        press(w, N::Insert);
        tabAtCursor(w);
        typeAtCursor(w, "无号");
        press(w, N::Post);
        typeInto(w, w->model()->currentRow(), 0, "调拨");
        press(w, N::Post);
        ASSERT_EQ(rec.boxes.size(), 2u);
        EXPECT_EQ(rec.boxes[0].text, "权限ID不能为空!请重新输入.");
        EXPECT_EQ(rec.boxes[1].text, "权限ID必须为整数型值!请重新输入.");
        for (const auto& box : rec.boxes) {
            EXPECT_EQ(box.caption, "错误");
            EXPECT_TRUE(box.hasOwner);
        }
        EXPECT_EQ(statements().size(), sent);
        // Given its number the record goes in.
        typeInto(w, w->model()->currentRow(), 0, "1006");
        press(w, N::Post);
        QTest::mouseClick(w->btnOK, Qt::LeftButton);
    });
    EXPECT_EQ(items(), "1:查询 2:edit 3:print 1004:调拨 1005:盘点 1006:无号");
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_Name where qxID IS NULL"), 0);
}

// A client's calls while a window runs with its transaction: a second window, a password change
// and the clearing of the log are refused with VARDEX_ERROR and a reason; a login and a right
// check answer as always and their audit rows outlast the window's Cancel.
class WindowTransactions : public TypedList {
  protected:
    void prepareStore() override {
        TypedList::prepareStore();
        db->execute("Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
                    "VALUES ('u1','u1','" +
                    EncryptPassword("old", "kmpq") + "','2000-01-01','2099-12-31','T',0,10000)");
        db->execute("Exec qxAddUser 'u1'");
        db->execute("Exec qxAddzuName 'g'");
        db->execute("Exec qxUpDateAllows 'g',1,'T'");
        db->execute("Exec qx_user_zu_changed 'u1','g','T'");
    }
    int logs(const QString& text) {
        return scalarInt(*db, "select count(*) from qx_Logs where theLog = '" + text + "'");
    }
    // Runs `inside` at the first message box, answering every box with `answer`.
    void atFirstBox(std::function<void()> inside, int answer) {
        setMessageHandler([inside, answer, first = true](const MessageBoxRequest&) mutable {
            if (std::exchange(first, false))
                inside();
            return answer;
        });
    }
};

TEST_P(WindowTransactions, ASecondWindowIsRefusedAndTheFirstKeepsItsTransaction) {
    const QString before = items();
    int32_t inner = 0;
    std::string why;
    // The editor: a box, under which the client opens the manager, then an item deleted.
    atFirstBox(
        [&] {
            inner = ::ShowRightManager(1, 0);
            why = VardexLastError();
        },
        mb::IdOk);
    run(1, [&](TfrqxList* w) {
        typeInto(w, 0, 0, "x");
        press(w, N::Post);
        press(w, N::Last);
        press(w, N::Delete);
        QTest::mouseClick(w->SpeedButton1, Qt::LeftButton);
    });
    setMessageHandler({});
    EXPECT_EQ(inner, VARDEX_ERROR);
    EXPECT_NE(why.find("ShowRightManager was refused"), std::string::npos) << why;
    EXPECT_FALSE(log().inTransaction());
    EXPECT_EQ(items(), before); // the deletion went with the Cancel

    // The manager: a grant flag clicked off, then the save question of Escape, under which the
    // client opens the editor; No leaves without saving.
    inner = 0;
    atFirstBox(
        [&] {
            inner = ::EditRightList(1);
            why = VardexLastError();
        },
        mb::IdNo);
    ModalDriver driver([](QWidget* w) {
        auto* m = qobject_cast<Tfrmanager*>(w);
        ASSERT_NE(m, nullptr);
        QTreeWidgetItem* u1 = m->dtl1->topNode(0);
        ASSERT_EQ(m->dtl1->text(u1, "userID"), "u1");
        QTest::mouseClick(m->dtl1->viewport(), Qt::LeftButton, Qt::NoModifier,
                          m->dtl1->cellRect(u1, 1).center());
        QTest::keyClick(m, Qt::Key_Escape);
    });
    EXPECT_EQ(::ShowRightManager(1, 0), 0);
    setMessageHandler({});
    EXPECT_EQ(inner, VARDEX_ERROR);
    EXPECT_NE(why.find("EditRightList was refused"), std::string::npos) << why;
    EXPECT_FALSE(log().inTransaction());
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_user where userID = 'u1' and Allow = 'T'"), 1);
}

TEST_P(WindowTransactions, CallsThatCancelWouldUndoAreRefusedAndAuditRowsStay) {
    const QString before = items();
    run(1, [&](TfrqxList* w) {
        press(w, N::Last);
        press(w, N::Delete);
        const int32_t changed = ::ChangeUserPassword("u1", "old", "new", "");
        EXPECT_EQ(changed, VARDEX_ERROR);
        EXPECT_NE(std::string(VardexLastError()).find("ChangeUserPassword was refused"), std::string::npos);
        if (changed == VARDEX_ERROR) { // else the dialog would open and wait for a person
            EXPECT_EQ(::ShowChangePasswordDialog("u1", ""), VARDEX_ERROR);
        }
        EXPECT_EQ(::ClearLogs(""), VARDEX_ERROR);
        EXPECT_NE(std::string(VardexLastError()).find("ClearLogs was refused"), std::string::npos);
        EXPECT_EQ(::CheckUserLogin("u1", "old", "", nullptr, VARDEX_SHOW_NOTHING), 0);
        EXPECT_EQ(::CheckUserRight("u1", 1, nullptr, VARDEX_SHOW_NOTHING), 0);
        QTest::mouseClick(w->SpeedButton1, Qt::LeftButton);
    });
    EXPECT_EQ(items(), before);
    EXPECT_EQ(logs("用户登录"), 1);
    EXPECT_EQ(logs("使用权限(查询)"), 1);
    EXPECT_EQ(::CheckUserLogin("u1", "old", "", nullptr, VARDEX_SHOW_NOTHING), 0);
    // After the window the same calls are made.
    EXPECT_EQ(::ChangeUserPassword("u1", "old", "new", ""), 0);
    EXPECT_EQ(::ClearLogs(""), 0);
    EXPECT_EQ(logs("用户登录"), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, WindowTransactions, VARDEX_BACKEND_PARAMS);

// The time runs out while the failure box of a wrong password is open: the window waits for the
// box and then closes with 2.
TEST_P(TypedList, TimedLoginClosesWithTwoOnlyAfterItsMessageBox) {
    int boxes = 0;
    bool visibleUnderBox = false;
    setMessageHandler([&](const MessageBoxRequest& r) {
        ++boxes;
        QTest::qWait(1600); // longer than the last second of the bar
        visibleUnderBox = r.owner && r.owner->isVisible();
        return mb::IdOk;
    });
    ModalDriver driver([](QWidget* w) {
        auto* j = qobject_cast<TfrJoin*>(w);
        ASSERT_NE(j, nullptr);
        j->PBar->setValue(j->PBar->maximum() - 1); // the last second of the time
        QTest::keyClicks(j->Edit1, "nobody");
        QTest::keyClick(j->Edit2, Qt::Key_Return);
    });
    const LoginDialogOutcome out = ShowLoginDialog("", "", 11, 0, 0);
    setMessageHandler({});
    EXPECT_EQ(boxes, 1);
    EXPECT_TRUE(visibleUnderBox);
    EXPECT_EQ(out.result, 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, TypedList, VARDEX_BACKEND_PARAMS);

// A click in a date box selects the section under it, so typing replaces that section.
TEST(DateBox, AClickedSectionIsReplacedByWhatIsTyped) {
    TfrUser user;
    user.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&user));
    QDateEdit* box = user.dt2;
    box->setDate(QDate(2026, 6, 15));
    auto* line = box->findChild<QLineEdit*>();
    ASSERT_NE(line, nullptr);
    const auto at = [&](int position) { return pointAtCursor(line, position); };
    QTest::mouseClick(line, Qt::LeftButton, Qt::NoModifier, at(2));
    // With VARDEX_SCREENSHOT_DIR set (under Xvfb): the dialog with the clicked year selected.
    if (const QString shots = qEnvironmentVariable("VARDEX_SCREENSHOT_DIR"); !shots.isEmpty()) {
        EXPECT_TRUE(user.grab().save(shots + "/user-date-year-selected.png"));
    }
    QTest::keyClicks(line, "2099");
    QTest::mouseClick(line, Qt::LeftButton, Qt::NoModifier, at(9));
    QTest::keyClicks(line, "03");
    EXPECT_EQ(box->date(), QDate(2099, 6, 3)) << line->text().toStdString();
}

// The number box of an up-down control never shows another value than the one used.
TEST(UpDownBox, ShowsTheValueItUses) {
    TfrUser user;
    user.Panel1->show();
    QLineEdit* discount = user.Edit4;
    QTest::keyClick(discount, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(discount, "150"); // 0 to 100: the third digit is refused
    EXPECT_EQ(discount->text(), "15");
    EXPECT_EQ(user.UpDown1->position(), 15);
    QTest::keyClicks(discount, "x'\\");
    EXPECT_EQ(discount->text(), "15");

    TfrJoin join;
    join.applySettings("", "", 3, 2, 3);
    QLineEdit* shift = join.Edit3;
    QTest::keyClick(shift, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(shift, "5"); // above the highest shift: refused
    EXPECT_EQ(shift->text(), "2");
    QTest::keyClick(shift, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(shift, "0"); // below the lowest: taken as 1 and shown so when read
    EXPECT_EQ(join.UDbanci->position(), 1);
    EXPECT_EQ(shift->text(), "1");
    QTest::keyClick(shift, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(shift, Qt::Key_Backspace); // emptied: the last value stays in use
    EXPECT_EQ(join.UDbanci->position(), 1);
    EXPECT_EQ(shift->text(), "1");
}

} // namespace
