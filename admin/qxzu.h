#pragma once
// The name dialog: asks for the name of a new permission group (mode 2) or user group (mode 3).
// The caller sets the mode as the tag before showing it; the dialog sets the tag to 1 when it
// closes confirmed, after making sure the name is not taken.
#include "library/dmain.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vardex {

class Tfrqxzu : public QDialog {
    Q_OBJECT
  public:
    explicit Tfrqxzu(QWidget* parent = nullptr, LibrarySession& session = processSession());

    int Tag = 0; // 2 = permission group, 3 = user group; 1 = confirmed

    QLabel* Label1;
    QLineEdit* Edit1;
    QPushButton* SpeedButton1;
    QPushButton* btnOK;

    // The trimmed name.
    QString name() const;

    // Confirm: refuses an empty name and a name in use, else sets the tag to 1 and closes.
    void btnOKClick();
    void SpeedButton1Click() { close(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    LibrarySession& m_session;
};

} // namespace vardex
