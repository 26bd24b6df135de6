// The permission item list editor: the grid's record editing in the data access layer, the
// window's handlers, and real modal runs of EditRightList with and without a transaction, on
// every database kind.
#include "capi/vardex.h"
#include "dialogs/qxList.h"
#include "dialogs/widgets.h"
#include "tests/test_dialogs.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace vardex;
using namespace vardex::test;

namespace {

// Rows of a query as "a:b c:d", in the order asked for.
QString rows(AdoConnection& cn, const QString& sql) {
    AdoQuery q(&cn, sql);
    q.open();
    QStringList out;
    for (q.first(); !q.eof(); q.next()) {
        QStringList fields;
        for (int i = 0; i < q.fieldCount(); ++i)
            fields << (q.fieldByName(q.fieldName(i)).isNull()
                           ? "-"
                           : q.fieldByName(q.fieldName(i)).asString().trimmed());
        out << fields.join(':');
    }
    return out.join(' ');
}

// ---------------------------------------------------------------------------------------------
// Editing fetched records in the data access layer

class RecordEditing : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        db = std::make_unique<TempDatabase>(GetParam());
        cn = openConnection(db->connectionString());
        cn->execute("CREATE TABLE t (id int NULL, name varchar(20) NULL)");
        for (const char* v : {"(1, 'a')", "(2, 'b')", "(2, 'b')", "(3, NULL)"})
            cn->execute(QString("INSERT INTO t (id, name) VALUES %1").arg(v));
    }
    QString table() { return rows(*cn, "select id, name from t order by id, name"); }
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<AdoConnection> cn;
};

TEST_P(RecordEditing, AnEditChangesExactlyTheRowItWasReadFrom) {
    AdoQuery q(cn.get(), "SELECT id AS 号, name AS 名称 FROM t Order By id");
    q.open();
    EXPECT_EQ(q.baseColumn(0), "id");
    EXPECT_EQ(q.baseColumn(1), "name");
    EXPECT_TRUE(q.isNumericField(0));
    EXPECT_FALSE(q.isNumericField(1));
    // Two identical rows: each record changes one of them.
    q.moveTo(1);
    q.edit();
    EXPECT_EQ(q.state(), AdoQuery::State::Edit);
    q.setFieldValue(QString::fromUtf8("名称"), "b1");
    EXPECT_TRUE(q.modified());
    q.post();
    EXPECT_EQ(q.state(), AdoQuery::State::Browse);
    EXPECT_EQ(table(), "1:a 2:b 2:b1 3:-");
    q.moveTo(2);
    q.edit();
    q.setFieldValue(QString::fromUtf8("号"), 5);
    q.post();
    EXPECT_EQ(table(), "1:a 2:b1 3:- 5:b");
    // A NULL is located with IS NULL.
    q.moveTo(3);
    q.edit();
    q.setFieldValue(QString::fromUtf8("名称"), "it's");
    q.post();
    EXPECT_EQ(table(), "1:a 2:b1 3:it's 5:b");
    // An edit that changes nothing sends nothing.
    cn->setLogging(true);
    q.moveTo(0);
    q.edit();
    q.setFieldValue(QString::fromUtf8("名称"), "a");
    EXPECT_FALSE(q.modified());
    q.post();
    EXPECT_TRUE(cn->statementLog().isEmpty());
}

TEST_P(RecordEditing, ARowChangedBehindTheRecordIsNotFound) {
    AdoQuery q(cn.get(), "select id, name from t order by id");
    q.open();
    cn->execute("UPDATE t SET name = 'z' WHERE id = 1");
    q.first();
    q.edit();
    q.setFieldValue("name", "y");
    EXPECT_THROW(q.post(), DbError);
    EXPECT_EQ(q.state(), AdoQuery::State::Edit); // the record stays in editing
    EXPECT_THROW(q.deleteRecord(), DbError);
    EXPECT_EQ(table(), "1:z 2:b 2:b 3:-");
}

TEST_P(RecordEditing, DeleteAndInsertAtAPlace) {
    AdoQuery q(cn.get(), "SELECT id AS 号, name AS 名称 FROM t Order By id");
    q.open();
    q.moveTo(2);
    q.deleteRecord(); // one of the two identical rows
    EXPECT_EQ(table(), "1:a 2:b 3:-");
    EXPECT_EQ(q.recordCount(), 3);
    q.moveTo(2);
    q.deleteRecord(); // the last record: the one before becomes current
    EXPECT_EQ(table(), "1:a 2:b");
    EXPECT_EQ(q.recNo(), 1);
    q.moveTo(2);
    EXPECT_THROW(q.deleteRecord(), DbError); // no current record
    q.insertAt(1);
    EXPECT_EQ(q.state(), AdoQuery::State::Insert);
    EXPECT_EQ(q.insertPosition(), 1);
    q.setFieldValue(QString::fromUtf8("号"), 9);
    q.setFieldValue(QString::fromUtf8("名称"), "n");
    q.post();
    EXPECT_EQ(q.recNo(), 1);
    EXPECT_EQ(q.value(1, 0).toInt(), 9);
    EXPECT_EQ(table(), "1:a 2:b 9:n");
    q.insertAt(0);
    q.post(); // nothing entered: a row of NULLs
    EXPECT_EQ(scalarInt(*cn, "select count(*) from t where id IS NULL and name IS NULL"), 1);
    q.insertAt(0);
    q.deleteRecord(); // a record not yet posted is only dropped
    EXPECT_EQ(q.state(), AdoQuery::State::Browse);
    EXPECT_EQ(scalarInt(*cn, "select count(*) from t"), 4);
}

INSTANTIATE_TEST_SUITE_P(Backends, RecordEditing, VARDEX_BACKEND_PARAMS);

// ---------------------------------------------------------------------------------------------
// The editor window

const QString kUnexpected = QString::fromUtf8("程序发生意外错误, 请关闭程序, 重量新运行.");

class ItemList : public SessionStore {
  protected:
    void prepareStore() override {
        for (const char* v : {"(3, 'print')", "(1, '查询')", "(2, 'edit')"})
            db->execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES %1").arg(v));
        db->execute("Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
                    "VALUES ('u1','u1','','2000-01-01','2099-12-31','T',0,10000)");
        db->execute("Exec qxAddUser 'u1'");
        db->execute("Exec qxAddzuName 'g'");
        db->execute("Exec qxUpDateAllows 'g',1,'T'");
        db->execute("Exec qxUpDateAllows 'g',3,'T'");
        db->execute("Exec qx_user_zu_changed 'u1','g','T'");
    }
    QString items() { return rows(*db, "select qxID, qxName from qx_Name order by qxID, qxName"); }
    QString grants() {
        return rows(*db, "select userID, qxID, AllowCount from qx_user_qx order by userID, qxID");
    }
    QString contents() { return rows(*db, "select zuName, qxID, Allow from qx_zu order by zuName, qxID"); }
    QString everything() { return items() + " | " + grants() + " | " + contents(); }

    // Runs EditRightList and acts on its window.
    int32_t run(int32_t useTransaction, std::function<void(TfrqxList*)> act) {
        ModalDriver driver([act](QWidget* w) {
            auto* list = qobject_cast<TfrqxList*>(w);
            ASSERT_NE(list, nullptr);
            act(list);
        });
        return ::EditRightList(useTransaction);
    }
    static QModelIndex cell(TfrqxList* w, int row, int column) { return w->model()->index(row, column); }
    static void set(TfrqxList* w, int row, int column, const QVariant& v) {
        EXPECT_TRUE(w->model()->setData(cell(w, row, column), v, Qt::EditRole));
    }
    static void press(TfrqxList* w, dialogs::TDBNavigator::Button b) { w->DBNavigator1->button(b)->click(); }
    // Renames, renumbers, adds and deletes, each posted.
    static void changeEverything(TfrqxList* w) {
        set(w, 0, 1, "renamed"); // item 1
        set(w, 1, 0, 7);         // item 2 becomes 7 (posted when leaving the row)
        w->model()->moveTo(2);
        press(w, dialogs::TDBNavigator::Delete); // item 3
        press(w, dialogs::TDBNavigator::Insert);
        set(w, w->model()->currentRow(), 0, 8);
        set(w, w->model()->currentRow(), 1, "new");
        press(w, dialogs::TDBNavigator::Post);
    }
};

TEST_P(ItemList, WindowShowsTheListOrderedWithItsTitles) {
    TfrqxList w;
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("权限列表编辑"));
    EXPECT_EQ(w.size(), QSize(516, 348));
    DataSourceModel* m = w.model();
    ASSERT_EQ(m->columnCount(), 2);
    EXPECT_EQ(m->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8("权限ID"));
    EXPECT_EQ(m->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8("权限名称"));
    ASSERT_EQ(m->rowCount(), 3);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(m->data(m->index(r, 0), Qt::DisplayRole).toInt(), r + 1);
    EXPECT_EQ(m->data(m->index(0, 1), Qt::DisplayRole).toString(), QString::fromUtf8("查询"));
    EXPECT_EQ(w.wwDBGrid1->model(), m);
    EXPECT_FALSE(w.wwDBGrid1->horizontalHeader()->sectionsClickable());
    // Shown, the two columns fill the grid's width: no empty band right of the names.
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.wwDBGrid1->horizontalHeader()->length(), w.wwDBGrid1->viewport()->width());
    EXPECT_EQ(w.wwDBGrid1->columnWidth(0), 64);
    const QStringList hints{"首记", "上一", "下一", "尾记", "插入", "册除", "编辑", "更新"};
    for (int b = 0; b < dialogs::TDBNavigator::Count; ++b)
        EXPECT_EQ(w.DBNavigator1->button(dialogs::TDBNavigator::Button(b))->toolTip(), hints[b]);
    EXPECT_EQ(statements().value(0),
              QString::fromUtf8("SELECT qxID AS 权限ID, qxName AS 权限名称 FROM qx_Name Order By qxID\r\n"));
    EXPECT_EQ(dataModule().ADOqrList.sql(), QStringList{rightListSelect()});
}

TEST_P(ItemList, NavigatorMovesAndDeletesWithoutAsking) {
    MessageRecorder rec;
    TfrqxList w;
    using N = dialogs::TDBNavigator;
    DataSourceModel* m = w.model();
    EXPECT_EQ(m->currentRow(), 0);
    press(&w, N::Last);
    EXPECT_EQ(m->currentRow(), 2);
    press(&w, N::Prior);
    EXPECT_EQ(m->currentRow(), 1);
    EXPECT_EQ(w.wwDBGrid1->currentIndex().row(), 1);
    press(&w, N::First);
    press(&w, N::Next);
    EXPECT_EQ(m->currentRow(), 1);
    press(&w, N::Delete);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_EQ(items(), QString::fromUtf8("1:查询 3:print"));
    // A value that is no number is refused with the window's input error; the record stays as read.
    EXPECT_FALSE(m->setData(m->index(0, 0), "abc", Qt::EditRole));
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].type, 0x10u);
    EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("权限ID必须为整数型值!请重新输入."));
    EXPECT_EQ(rec.boxes[0].caption, QString::fromUtf8("错误"));
}

TEST_P(ItemList, ARecordIsPostedWhenItsRowIsLeft) {
    using N = dialogs::TDBNavigator;
    TfrqxList w;
    DataSourceModel* m = w.model();
    log().clearLog();
    set(&w, 1, 0, 20);
    w.wwDBGrid1->setCurrentIndex(cell(&w, 1, 1)); // another cell of the same record
    set(&w, 1, 1, "both");
    EXPECT_TRUE(m->pending());
    EXPECT_TRUE(statements().isEmpty());
    w.wwDBGrid1->setCurrentIndex(cell(&w, 0, 0)); // another row
    EXPECT_FALSE(m->pending());
    ASSERT_EQ(statements().size(), 1);
    EXPECT_TRUE(statements()[0].contains("SET qxID = 20, qxName = 'both'")) << statements()[0].toStdString();
    EXPECT_EQ(items(), QString::fromUtf8("1:查询 3:print 20:both"));
    // The navigator ends the editing even without leaving the record.
    set(&w, 0, 1, "x");
    press(&w, N::First);
    EXPECT_FALSE(m->pending());
    EXPECT_EQ(statements().size(), 2);
    // A new record that nothing was entered into is dropped when it is left.
    press(&w, N::Insert);
    EXPECT_EQ(m->rowCount(), 4);
    press(&w, N::Next);
    EXPECT_EQ(m->rowCount(), 3);
    EXPECT_EQ(statements().size(), 2);
}

TEST_P(ItemList, WithoutTransactionChangesStayAndTheStatementsAreInOrder) {
    log().clearLog();
    const int32_t rc = run(0, [](TfrqxList* w) {
        EXPECT_TRUE(w->SpeedButton1->isHidden());
        EXPECT_EQ(w->btnOK->text(), QString::fromUtf8("关闭(&C)"));
        set(w, 2, 1, "printing");
        press(w, dialogs::TDBNavigator::Post);
        w->btnOK->click();
    });
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(log().inTransaction());
    EXPECT_EQ(items(), QString::fromUtf8("1:查询 2:edit 3:printing"));
    const QStringList s = statements();
    ASSERT_EQ(s.size(), 4);
    EXPECT_TRUE(s[0].startsWith("SELECT qxID AS"));
    EXPECT_EQ(s[1], "Exec qxNameChanged_before");
    EXPECT_TRUE(s[2].contains("SET qxName = 'printing'")) << s[2].toStdString();
    EXPECT_TRUE(s[2].contains("qxID = 3 AND qxName = 'print'")) << s[2].toStdString();
    EXPECT_EQ(s[3], "Exec qxNameChanged");
    EXPECT_FALSE(dataModule().ADOqrList.active()); // closed with the window
}

TEST_P(ItemList, CancelInTransactionLeavesEverythingAsBefore) {
    const QString before = everything();
    MessageRecorder rec;
    const int32_t rc = run(1, [](TfrqxList* w) {
        EXPECT_FALSE(w->SpeedButton1->isHidden());
        EXPECT_EQ(w->btnOK->text(), QString::fromUtf8("确定(&O)"));
        EXPECT_TRUE(dataModule().ADOcn.inTransaction());
        changeEverything(w);
        w->SpeedButton1->click();
    });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_FALSE(log().inTransaction());
    EXPECT_EQ(everything(), before);
    EXPECT_TRUE(statements().contains("Exec qxNameChanged")); // the carry-over ran, and was undone
}

TEST_P(ItemList, CloseBoxInTransactionRollsBack) {
    const QString before = everything();
    run(1, [](TfrqxList* w) {
        set(w, 0, 1, "renamed");
        press(w, dialogs::TDBNavigator::Post);
        w->close();
    });
    EXPECT_EQ(everything(), before);
}

TEST_P(ItemList, OkMovesGrantsAndGroupEntriesToTheNewNumbers) {
    ASSERT_EQ(grants(), "u1:1:1 u1:2:0 u1:3:1");
    ASSERT_EQ(contents(), "g:1:T g:2:F g:3:T");
    run(1, [](TfrqxList* w) {
        changeEverything(w);
        w->btnOK->click();
    });
    EXPECT_FALSE(log().inTransaction());
    EXPECT_EQ(items(), "1:renamed 7:edit 8:new");
    EXPECT_EQ(rows(*db, "select userID, qxID, AllowCount from qx_user_qx where userID = 'u1' order by qxID"),
              "u1:1:1 u1:7:0 u1:8:0");
    EXPECT_EQ(rows(*db, "select zuName, qxID, Allow from qx_zu order by zuName, qxID"), "g:1:T g:7:F g:8:F");
}

TEST_P(ItemList, ARecordStillInEditingIsPostedBeforeTheCarryOver) {
    log().clearLog();
    run(1, [](TfrqxList* w) {
        set(w, 1, 0, 9); // item 2 renumbered, not posted
        EXPECT_TRUE(w->model()->pending());
        w->btnOK->click();
    });
    const QStringList s = statements();
    const int update = s.indexOf(QRegularExpression("^UPDATE.*"));
    ASSERT_GE(update, 0);
    EXPECT_EQ(s.indexOf("Exec qxNameChanged"), update + 1);
    EXPECT_EQ(items(), QString::fromUtf8("1:查询 3:print 9:edit"));
    EXPECT_EQ(rows(*db, "select qxID from qx_user_qx where userID = 'u1' order by qxID"), "1 3 9");
}

TEST_P(ItemList, TextLeftInTheGridsEditorIsPostedOnClose) {
    run(1, [](TfrqxList* w) {
        const QModelIndex c = cell(w, 0, 1);
        w->wwDBGrid1->setCurrentIndex(c);
        w->wwDBGrid1->edit(c);
        auto* editor = w->wwDBGrid1->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        editor->setText("typed");
        w->btnOK->click();
    });
    EXPECT_EQ(items(), "1:typed 2:edit 3:print");
}

TEST_P(ItemList, ARefusedChangeIsReportedAndDroppedAtClose) {
    MessageRecorder rec;
    run(0, [](TfrqxList* w) {
        set(w, 0, 1, QString(40, QChar('x'))); // longer than the column
        press(w, dialogs::TDBNavigator::Post);
        EXPECT_TRUE(w->model()->pending()); // stays in editing
        w->btnOK->click();
    });
    ASSERT_EQ(rec.boxes.size(), 1u); // the general error report of the post; the close is silent
    EXPECT_EQ(rec.boxes[0].type, 0x10u);
    EXPECT_EQ(items(), QString::fromUtf8("1:查询 2:edit 3:print"));
}

TEST_P(ItemList, AFailingProcedureRollsBackWhatTheEditorBegan) {
    // The snapshot fails: the window is never shown and no transaction is left open.
    MessageRecorder rec;
    log().setStatementHook([](const QString& sql) {
        if (sql == "Exec qxNameChanged_before")
            throw DbError("refused");
    });
    ModalDriver never([](QWidget* w) {
        ADD_FAILURE() << "the window was shown";
        w->close();
    });
    EXPECT_EQ(::EditRightList(1), 0);
    EXPECT_FALSE(never.acted());
    EXPECT_FALSE(log().inTransaction());
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, kUnexpected);
    EXPECT_EQ(rec.boxes[0].caption, QString::fromUtf8("出错"));
    EXPECT_EQ(rec.boxes[0].type, 0u); // OK only, no icon
    // Later writes of the session are not lost.
    log().setStatementHook({});
    ExecSql("INSERT INTO qx_Name (qxID, qxName) VALUES (50, 'later')");
    vardex::DisconnectDatabase();
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_Name where qxID = 50"), 1);
}

TEST_P(ItemList, AFailingCarryOverUndoesTheVisit) {
    const QString before = everything();
    MessageRecorder rec;
    log().setStatementHook([](const QString& sql) {
        if (sql == "Exec qxNameChanged")
            throw DbError("refused");
    });
    run(1, [](TfrqxList* w) {
        changeEverything(w);
        w->btnOK->click();
    });
    EXPECT_FALSE(log().inTransaction());
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, kUnexpected);
    log().setStatementHook({});
    EXPECT_EQ(everything(), before);
}

TEST_P(ItemList, AFailingRollbackAtCancelClosesTheConnection) {
    const QString before = everything();
    MessageRecorder rec;
    log().setStatementHook([](const QString& sql) {
        if (sql == "ROLLBACK")
            throw DbError("rollback refused");
    });
    run(1, [](TfrqxList* w) {
        changeEverything(w);
        w->SpeedButton1->click();
    });
    log().setStatementHook({});
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, kUnexpected);
    EXPECT_FALSE(log().inTransaction());
    EXPECT_FALSE(log().connected()); // the server discarded the visit with the connection
    // A later write of the session is not swallowed by the transaction the rollback left.
    ExecSql("INSERT INTO qx_Name (qxID, qxName) VALUES (50, 'later')");
    vardex::DisconnectDatabase();
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_Name where qxID = 50"), 1);
    db->execute("DELETE FROM qx_Name WHERE qxID = 50");
    EXPECT_EQ(everything(), before);
}

TEST_P(ItemList, AFailedCommitIsRolledBackAndReported) {
    if (GetParam() == Backend::SQLite)
        GTEST_SKIP() << "SQLite has no check deferred to the commit";
    // A check the server makes only at commit refuses every new item.
    db->execute("CREATE FUNCTION refuse_at_commit() RETURNS trigger LANGUAGE plpgsql AS "
                "$$ BEGIN RAISE EXCEPTION 'refused at commit'; END $$");
    db->execute(
        "CREATE CONSTRAINT TRIGGER refuse_new_items AFTER INSERT ON qx_Name DEFERRABLE INITIALLY DEFERRED "
        "FOR EACH ROW EXECUTE FUNCTION refuse_at_commit()");
    const QString before = everything();
    MessageRecorder rec;
    run(1, [](TfrqxList* w) {
        set(w, 0, 1, "renamed");
        press(w, dialogs::TDBNavigator::Insert);
        set(w, w->model()->currentRow(), 0, 8);
        w->btnOK->click();
    });
    EXPECT_FALSE(log().inTransaction());
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("数据更新不成功! 请再试."));
    EXPECT_EQ(rec.boxes[0].caption, QString::fromUtf8("出错"));
    EXPECT_EQ(rec.boxes[0].type, 0u);
    EXPECT_EQ(everything(), before);
}

TEST_P(ItemList, ABeginThatFailsLeavesTheCallersTransactionAlone) {
    log().beginTrans(); // the caller's own transaction makes the editor's begin fail
    ExecSql("INSERT INTO qx_Name (qxID, qxName) VALUES (60, 'mine')");
    MessageRecorder rec;
    EXPECT_EQ(::EditRightList(1), 0);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, kUnexpected);
    EXPECT_TRUE(log().inTransaction());
    log().commitTrans();
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_Name where qxID = 60"), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, ItemList, VARDEX_BACKEND_PARAMS);

} // namespace
