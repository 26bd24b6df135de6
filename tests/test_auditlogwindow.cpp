// The audit log window driven as a person drives it: typed filters, a date range, scrolling to
// the end of a log longer than a page, the event texts in English, and the CSV export through
// the file dialog. On every kind of store.
#include "admin/auditlogwindow.h"
#include "dialogs/language.h"
#include "tests/test_dialogs.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSet>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace vardex;
using namespace vardex::test;

namespace {

// 250 rows over ten days of March 2026 (more than two pages), and one whose every field holds
// what CSV and LIKE patterns treat specially.
class AuditLogWindow : public SessionStore {
  protected:
    void prepareStore() override {
        QStringList rows;
        for (int i = 0; i < 250; ++i)
            rows << QStringLiteral("('pc%1','%2','2026-03-%3 10:%4:%5','%6')")
                        .arg(i % 2 + 1)
                        .arg(i % 5 == 0 ? QStringLiteral("Other") : QStringLiteral("User a"))
                        .arg(1 + i % 10, 2, 10, QLatin1Char('0'))
                        .arg(i / 60, 2, 10, QLatin1Char('0'))
                        .arg(i % 60, 2, 10, QLatin1Char('0'))
                        .arg(i % 3 == 0 ? QStringLiteral("用户登录")
                                        : QStringLiteral("使用权限(item %1)").arg(i));
        for (const QString& r : rows)
            db->execute(QStringLiteral("INSERT INTO qx_Logs VALUES ") + r);
        db->execute(QStringLiteral("INSERT INTO qx_Logs VALUES ('pc,3','O''Neil \"Q\"','2026-02-27 08:00:00',"
                                   "'50%_off, \"quoted\"')"));
    }

    // Waits until the window has read the store anew after what a test just typed.
    void waitApplied(TfrAuditLog& w) {
        const int before = applied;
        ASSERT_TRUE(QTest::qWaitFor([&] { return applied > before; }, 5000));
        QCoreApplication::processEvents();
        (void)w;
    }
    void open(TfrAuditLog& w) {
        w.onApplied = [this] { ++applied; };
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        if (w.tallying())
            waitApplied(w);
    }
    static QStringList column(const TfrAuditLog& w, int c) {
        QStringList out;
        for (int r = 0; r < w.model->rowCount(); ++r)
            out << w.model->index(r, c).data().toString();
        return out;
    }
    int applied = 0;
};

// Replaces the text of a filter box as a person does: select all, type.
void retype(QLineEdit* box, const QString& text) {
    QTest::mouseClick(box, Qt::LeftButton);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(box, Qt::Key_Delete);
    else
        QTest::keyClicks(box, text);
}

// Types a date into a date box as a person does: a click on each part of yyyy-MM-dd selects
// it, and what is typed replaces it.
void typeDate(QDateEdit* box, const QDate& date) {
    auto* line = box->findChild<QLineEdit*>();
    ASSERT_NE(line, nullptr);
    const auto at = [&](int position) { return pointAtCursor(line, position); };
    QTest::mouseClick(line, Qt::LeftButton, Qt::NoModifier, at(2));
    QTest::keyClicks(line, date.toString(QStringLiteral("yyyy")));
    QTest::mouseClick(line, Qt::LeftButton, Qt::NoModifier, at(6));
    QTest::keyClicks(line, date.toString(QStringLiteral("MM")));
    QTest::mouseClick(line, Qt::LeftButton, Qt::NoModifier, at(9));
    QTest::keyClicks(line, date.toString(QStringLiteral("dd")));
}

TEST_P(AuditLogWindow, RowsNewestFirstPageByPageFilteredAsTypedAndExported) {
    MessageRecorder rec;
    TfrAuditLog w;
    open(w);
    // The first page only, the newest row first; the count is of the whole log.
    EXPECT_EQ(w.model->rowCount(), AuditLogModel::kPageRows);
    EXPECT_EQ(w.model->row(0).time, QStringLiteral("2026-03-10 10:04:09"));
    EXPECT_EQ(w.labCount->text(), QStringLiteral("251 条记录"));
    // With VARDEX_SCREENSHOT_DIR set (under Xvfb): the window as it opens.
    if (const QString shots = qEnvironmentVariable("VARDEX_SCREENSHOT_DIR"); !shots.isEmpty()) {
        EXPECT_TRUE(w.grab().save(shots + "/auditlog-zh.png"));
    }

    // Ctrl+End in the grid reads on until the last row: every row once, newest first.
    w.grid->setFocus();
    for (int i = 0; i < 10 && w.model->canFetchMore(QModelIndex()); ++i) {
        QTest::keyClick(w.grid, Qt::Key_End, Qt::ControlModifier);
        QCoreApplication::processEvents();
    }
    const QStringList times = column(w, AuditLogModel::Time);
    ASSERT_EQ(times.size(), 251);
    QStringList sorted = times;
    std::sort(sorted.begin(), sorted.end(), std::greater<QString>());
    EXPECT_EQ(times, sorted);
    EXPECT_EQ(QSet<QString>(times.begin(), times.end()).size(), 251);
    EXPECT_EQ(times.last(), QStringLiteral("2026-02-27 08:00:00"));

    // Three letters typed in the user box: the store is read once, for the whole word.
    const int appliedBefore = applied;
    retype(w.edUser, QStringLiteral("Oth"));
    waitApplied(w);
    QTest::qWait(0);
    EXPECT_EQ(applied, appliedBefore + 1);
    EXPECT_EQ(w.labCount->text(), QStringLiteral("50 条记录"));
    const QStringList users = column(w, AuditLogModel::User);
    EXPECT_EQ(QSet<QString>(users.begin(), users.end()), QSet<QString>{QStringLiteral("Other")});

    // Pattern characters in the text box match themselves only.
    retype(w.edUser, QString());
    retype(w.edText, QStringLiteral("%_"));
    waitApplied(w);
    EXPECT_EQ(w.labCount->text(), QStringLiteral("1 条记录"));
    retype(w.edText, QStringLiteral("item 1"));
    waitApplied(w);
    int item1 = 0;
    for (int i = 0; i < 250; ++i)
        item1 += i % 3 != 0 && QString::number(i).startsWith(QLatin1Char('1'));
    EXPECT_EQ(w.labCount->text(), QStringLiteral("%1 条记录").arg(item1));

    // A date range typed into the date boxes: both ends take their whole day.
    retype(w.edText, QString());
    QTest::mouseClick(w.chkRange, Qt::LeftButton, Qt::NoModifier, QPoint(6, w.chkRange->height() / 2));
    ASSERT_TRUE(w.dtFrom->isEnabled());
    typeDate(w.dtFrom, QDate(2026, 3, 2));
    typeDate(w.dtTo, QDate(2026, 3, 3));
    waitApplied(w);
    EXPECT_EQ(w.dtFrom->date(), QDate(2026, 3, 2));
    EXPECT_EQ(w.dtTo->date(), QDate(2026, 3, 3));
    EXPECT_EQ(w.labCount->text(), QStringLiteral("50 条记录"));
    const QStringList days = column(w, AuditLogModel::Time);
    ASSERT_FALSE(days.isEmpty());
    EXPECT_TRUE(days.first().startsWith(QLatin1String("2026-03-03")));
    EXPECT_TRUE(days.last().startsWith(QLatin1String("2026-03-02")));

    // Export of what the filters keep (all of the range, not only the rows read so far).
    retype(w.edComputer, QStringLiteral("pc1"));
    waitApplied(w);
    EXPECT_EQ(w.labCount->text(), QStringLiteral("25 条记录"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    {
        ModalDriver driver([&](QWidget* m) {
            auto* dlg = qobject_cast<QFileDialog*>(m);
            ASSERT_NE(dlg, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg));
            auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            retype(name, path);
            auto* buttons = dlg->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
            ASSERT_NE(buttons, nullptr);
            // The completion list that typing a path opens closes first, as a person closes it.
            if (QCompleter* c = name->completer(); c && c->popup()->isVisible())
                QTest::keyClick(c->popup(), Qt::Key_Escape);
            QTest::mouseClick(buttons->button(QDialogButtonBox::Save), Qt::LeftButton);
        });
        QTest::mouseClick(w.btnExport, Qt::LeftButton);
        EXPECT_TRUE(driver.acted());
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 26);
    EXPECT_EQ(lines[0], "computer,user,time,text\r");
    EXPECT_EQ(lines[1], "pc1,User a,2026-03-03 10:04:02,使用权限(item 242)\r");
    EXPECT_EQ(lines[25], "pc1,User a,2026-03-03 10:00:02,使用权限(item 2)");
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, QStringLiteral("已导出 25 条记录到 %1.").arg(path));

    // The row every CSV rule applies to.
    QTest::mouseClick(w.chkRange, Qt::LeftButton, Qt::NoModifier, QPoint(6, w.chkRange->height() / 2));
    retype(w.edComputer, QStringLiteral("pc,"));
    waitApplied(w);
    ASSERT_EQ(w.model->rowCount(), 1);
    ASSERT_TRUE(w.exportTo(path));
    QFile g(path);
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    EXPECT_EQ(g.readAll(),
              QByteArray("computer,user,time,text\r\n"
                         "\"pc,3\",\"O'Neil \"\"Q\"\"\",2026-02-27 08:00:00,\"50%_off, \"\"quoted\"\"\""));
}

TEST_P(AuditLogWindow, EventTextsFollowTheWindowsLanguageAndTheStoredOnesStay) {
    ASSERT_TRUE(gui::setLanguage(QStringLiteral("en")));
    const auto chinese = qScopeGuard([] { gui::setLanguage(QStringLiteral("zh")); });
    TfrAuditLog w;
    open(w);
    const QModelIndex login = w.model->index(0, AuditLogModel::Event); // 2026-03-10 10:04:09, i = 249
    const QModelIndex right = w.model->index(1, AuditLogModel::Event); // 2026-03-10 10:03:59, i = 239
    EXPECT_NE(login.data().toString(), QStringLiteral("用户登录"));
    EXPECT_EQ(login.data(Qt::ToolTipRole).toString(), QStringLiteral("用户登录"));
    EXPECT_EQ(right.data().toString(), QStringLiteral("Right used (item 239)"));
    EXPECT_EQ(w.model->row(1).text, QStringLiteral("使用权限(item 239)"));
    EXPECT_EQ(w.labCount->text(), QStringLiteral("251 rows"));
    if (const QString shots = qEnvironmentVariable("VARDEX_SCREENSHOT_DIR"); !shots.isEmpty()) {
        EXPECT_TRUE(w.grab().save(shots + "/auditlog-en.png"));
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, AuditLogWindow, VARDEX_BACKEND_PARAMS);

} // namespace
