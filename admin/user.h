#pragma once
// The user dialog, shared by adding a user (tag 3 set by the caller) and editing one (tag 0).
// It sets the tag to 1 when it closes confirmed.
#include "dialogs/widgets.h"
#include "library/dmain.h"

#include <QDialog>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace vardex {

// The discount's up-down control is the one the standard dialogs use.
using dialogs::TUpDown;

class TfrUser : public QDialog {
    Q_OBJECT
  public:
    explicit TfrUser(QWidget* parent = nullptr, LibrarySession& session = processSession());

    int Tag = 0; // 3 = add mode; 1 = confirmed
    // The password the box opened with, and whether an empty box keeps the stored password (a
    // hash, which never shows): a password other than these is new, and the store's rule of a
    // least length applies to it.
    QString ShownPassword;
    bool EmptyKeepsPassword = false;

    QLabel* Label1;
    QLineEdit* Edit1; // user ID
    QLabel* Label2;
    QLineEdit* Edit2; // user name
    QLabel* Label3;
    QLineEdit* Edit3; // password in clear text
    QLabel* Label8;
    QComboBox* cbzu;  // user group, by name
    QComboBox* cbzu2; // hidden: the user-group number of each entry of cbzu
    QLabel* Label4;
    QDateEdit* dt1;
    QLabel* Label5;
    QDateEdit* dt2;
    QCheckBox* chkAllow;
    QFrame* Panel1; // the discount field
    QLabel* Label7;
    QLineEdit* Edit4;
    TUpDown* UpDown1;
    QLabel* Label6;
    QPushButton* SpeedButton1;
    QPushButton* btnOK;

    // Adds one entry to the user-group choice: its name and its number.
    void addChoice(const QString& name, int code);
    // Selects the first entry whose number is `code`; none when no entry has it. Returns whether
    // an entry was selected.
    bool selectCode(int code);
    // The number of the selected entry; `fallback` when none is selected.
    int selectedCode(int fallback) const;

    // Confirm: refuses an empty user ID or name and (adding) a user ID in use.
    void btnOKClick();
    void SpeedButton1Click() { close(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    LibrarySession& m_session;
    QList<QWidget*> m_chain; // the Enter chain of the boxes
};

} // namespace vardex
