#pragma once
// Shared by the dialog tests: a driver for modal windows and a store with a session on it.
#include "library/dmain.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace vardex::test {

// While alive, waits for a modal window to become active and runs `act` on it once. A window
// still open long after that (or a window that never came while one was expected) is closed
// and reported, so a test never hangs.
class ModalDriver {
  public:
    explicit ModalDriver(std::function<void(QWidget*)> act, int giveUpMs = 20000)
        : m_act(std::move(act)), m_giveUpMs(giveUpMs) {
        m_clock.start();
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }
    ~ModalDriver() { m_timer.stop(); }
    bool acted() const { return m_acted; }

  private:
    void poll() {
        QWidget* w = QApplication::activeModalWidget();
        if (w && !m_acted) {
            m_acted = true;
            m_act(w);
            return;
        }
        if (w && m_clock.elapsed() > m_giveUpMs) {
            ADD_FAILURE() << "a modal window stayed open: " << w->windowTitle().toStdString();
            w->close();
        }
    }
    std::function<void(QWidget*)> m_act;
    int m_giveUpMs;
    bool m_acted = false;
    QElapsedTimer m_clock;
    QTimer m_timer;
};

// A fresh store of the backend with the library session open on it.
class SessionStore : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        db = openConnection(store->connectionString());
        session() = SessionValues();
        prepareStore();
        ASSERT_EQ(vardex::ConnectDatabase(store->connectionString(), "", "", "2026-06-15", ""), 0);
        log().setLogging(true);
    }
    void TearDown() override {
        if (hasDataModule()) {
            dataModule().ADOcn.setStatementHook({});
            session().CurrentUserName.clear();
            vardex::DisconnectDatabase();
        }
        session() = SessionValues();
    }
    virtual void prepareStore() {}
    AdoConnection& log() { return dataModule().ADOcn; }
    QStringList statements() const { return dataModule().ADOcn.statementLog(); }

    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> db; // a connection of the test's own
};

// A point of a line edit where a click puts the cursor at position (yyyy-MM-dd in a date box:
// 2 is inside the year's digits, 6 the month's, 9 the day's).
inline QPoint pointAtCursor(QLineEdit* line, int position) {
    for (int x = 0; x < line->width(); ++x)
        if (line->cursorPositionAt(QPoint(x, line->height() / 2)) == position)
            return QPoint(x, line->height() / 2);
    ADD_FAILURE() << "no point of the box puts the cursor at " << position;
    return QPoint();
}

} // namespace vardex::test
