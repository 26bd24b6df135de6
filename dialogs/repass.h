#pragma once
// The change-password window: the user ID read-only, the old password and the new one twice.
#include "library/answers.h"
#include "library/dmain.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QToolButton;

namespace vardex {

class TfrRepass : public QDialog {
    Q_OBJECT
  public:
    explicit TfrRepass(QWidget* parent = nullptr, LibrarySession& session = processSession());

    // Handlers.
    void SpeedButton2Click(); // OK: change the password
    void SpeedButton1Click(); // Cancel

    int repassResult = passwordDialog::NotChanged; // Changed once the password has been changed
    QString workDate;
    bool closed() const { return m_closed; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int r) override;

  private:
    LibrarySession& m_session;
    bool m_closed = false;
};

// The reason text of a verification code, as the change-password window shows it.
QString repassReasonText(int code);

// Shows the window for userId on the session. LoginUpdatesSession is false while it is open and
// true after. Returns 0 when the password was changed, 1 otherwise.
int ShowChangePasswordDialog(const QString& userId, const QString& workDate,
                             LibrarySession& session = processSession());

} // namespace vardex
