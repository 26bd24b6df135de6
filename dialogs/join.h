#pragma once
// The login window: asks for a user ID and a password, verifies every attempt and limits the
// operator either to a number of attempts or to a number of seconds.
#include "library/answers.h"
#include "library/dmain.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;
class QToolButton;

namespace vardex {

namespace dialogs {
class TUpDown;
}

class TfrJoin : public QDialog {
    Q_OBJECT
  public:
    explicit TfrJoin(QWidget* parent = nullptr, LibrarySession& session = processSession());
    ~TfrJoin() override;

    // The caller's settings: title (empty keeps "系统登录"), working date, the limit (10 or
    // less attempts, more seconds), the shift selector (0 hides it) and its highest shift.
    void applySettings(const QString& caption, const QString& workDate, int count, int shift, int maxShift);

    // Handlers.
    void FormCreate();
    void Timer1Timer();
    void btnOKClick();
    void btnCancelClick();

    // The window's state.
    bool timedMode = false;
    int failCount = 0;
    int loginResult = loginDialog::Cancelled;
    QString workDate;
    int frameCounter = 0;
    // True once the window has been closed (by any of its four ways).
    bool closed() const { return m_closed; }

    // Controls.
    QLabel* Image[8] = {};
    QProgressBar* PBar = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLabel* Panel1 = nullptr;
    QLineEdit* Edit3 = nullptr;
    dialogs::TUpDown* UDbanci = nullptr;
    QToolButton* btnCancel = nullptr;
    QToolButton* btnOK = nullptr;
    QTimer* Timer1 = nullptr;

    // The clock's text for a moment: "yyyy/mm/dd hh:mm:ss" with the session's date separator.
    static QString clockText(const QDateTime& when, const LibrarySession& session = processSession());

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int r) override;

  private:
    LibrarySession& m_session;
    QLabel* m_frames[8] = {};
    bool m_closed = false;
    // A failure box of the OK handler is open; a time-out meanwhile waits for it to be dismissed.
    bool m_boxOpen = false;
    bool m_timedOut = false;
    void showFailure(const QString& text);
};

// The reason text of a verification code, as the login window shows it ("" outside 1 to 4).
QString loginReasonText(int code);

struct LoginDialogOutcome {
    int result = loginDialog::Cancelled; // a loginDialog:: code
    QString userId;                      // the trimmed user ID (result 0 only)
    int shift = 0;                       // the selector's position (result 0 only)
};

// Shows the login window modally on the session. A negative count, a session not open or no
// display raise an error before the window is shown.
LoginDialogOutcome ShowLoginDialog(const QString& caption, const QString& workDate, int count, int shift,
                                   int maxShift, LibrarySession& session = processSession());

} // namespace vardex
