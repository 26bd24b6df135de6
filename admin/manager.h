#pragma once
// The user permission management window: the user list (dtl1), the permission-group list (dtl2)
// and the group-rights list (dtl3), kept in step, and the actions on users, user groups,
// permission groups and grants. Every change is sent to the store at once on the session
// connection; ShowRightManager may run the whole visit as one transaction.
#include "admin/treelist.h"
#include "library/dmain.h"

#include <QDialog>
#include <exception>
#include <functional>

class QLabel;
class QMenu;
class QAction;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QToolButton;

namespace vardex {

class TfrUser;

class Tfrmanager : public QDialog {
    Q_OBJECT
  public:
    // Loads the user list (FormCreate) from the session, the process's unless given.
    explicit Tfrmanager(QWidget* parent = nullptr, LibrarySession& session = processSession());
    ~Tfrmanager() override;

    // Controls -------------------------------------------------------------------------------
    QLabel* labUser;
    QLabel* labZu;
    QLabel* Label3;
    QStackedWidget* Nbook;
    QSplitter* Splitter1; // its two handles are the splitters between the lists
    TreeList* dtl1;
    TreeList* dtl2;
    TreeList* dtl3;
    TreeListColumn* dxTreeList1Column1; // name
    TreeListColumn* dxTreeList1Column2; // allow flag
    TreeListColumn* dxTreeList1Column3; // password (hidden)
    TreeListColumn* dxTreeList1Column4; // start date (hidden)
    TreeListColumn* dxTreeList1Column5; // end date (hidden)
    TreeListColumn* dxTreeList1Column6; // discount (hidden)
    TreeListColumn* dxTreeList1Column7; // user ID (hidden)
    TreeListColumn* dxTreeList2Column1;
    TreeListColumn* dxTreeList2Column2;
    TreeListColumn* TreeListColumn1;
    TreeListColumn* TreeListColumn2;
    QToolButton* btnAddUser;
    QToolButton* btnDelUser;
    QToolButton* btnEditUser;
    QToolButton* btnAddUserzu;
    QToolButton* btnAddZu;
    QToolButton* btnDelZu;
    QPushButton* btnCancel;
    QPushButton* btnHelp; // "保存(&S)"
    QPushButton* btnOK;
    QPushButton* btnLog; // the audit log window
    QMenu* pupmUser;
    QAction* mA1;
    QAction* mD1;
    QAction* mE1;
    QMenu* pupmZu;
    QAction* mA2;
    QAction* mD2;

    // Window state ---------------------------------------------------------------------------
    int Tag = 0;          // 1 closed with OK (or yes to the save question), 2 with Cancel
    int showDiscount = 0; // nonzero: the user dialog shows its discount field
    bool loading = false; // the user or permission-group list is being rebuilt
    QTreeWidgetItem* CurrentUserNode = nullptr;

    // Handlers. Each one that an operator starts catches a failing statement, shows its text and
    // stops there; what was done before stays.
    void FormCreate();
    void dtl1ChangeNode();
    void dtl2ChangeNode(QTreeWidgetItem* node, QWidget* origin);
    void dtl3ChangeNode(QTreeWidgetItem* node);
    void setListTitle(QLabel* title, const QString& text);
    void markChanged();
    void pupmUserPopup();
    void pupmZuPopup();
    void btnOKClick();
    void btnCancelClick();
    void btnHelpClick();
    bool FormCloseQuery();    // whether the window may close
    void mA1Click();          // add user
    void dtl1DblClick();      // edit user
    void mD1Click();          // delete user or user group
    void btnAddUserzuClick(); // add user group
    void mA2Click();          // add permission group
    void mD2Click();          // delete permission group
    void dxTreeList1Column2ToggleClick(TreeListColumn* column, const QString& flag);

    // Called with the dialog an action is about to show modally (after it is filled); tests use
    // it to see what the dialog was given.
    std::function<void(QDialog*)> onDialog;

  protected:
    void reject() override;

  private:
    template <typename F> void action(F&& body);
    void rethrowPending();
    void onChangeEvent(const std::function<void()>& body);

    void loadUsers();
    void doDtl1ChangeNode();
    void doDtl2ChangeNode(QTreeWidgetItem* node, QWidget* origin);
    void clearRights();
    void fillChoice(TfrUser& dlg);
    void copyNode(QTreeWidgetItem* from, QTreeWidgetItem* to);
    void deleteUserNode(QTreeWidgetItem* node);
    void setFlag(TreeList* list, QTreeWidgetItem* node, const QString& flag);
    void runDialog(QDialog& dlg);

    LibrarySession& m_session;
    int m_actionDepth = 0;
    std::exception_ptr m_pending; // a change handler's failure inside an action
};

// Steps of ShowRightManager a test can make fail: "prepare", "begin", "show", "commit",
// "rollback". The hook throws to fail the step; an empty hook removes it.
void setManagerFaultHook(std::function<void(const char* step)> hook);

// Opens the window modally on the session (see capi/vardex.h). Returns 0; the session must be open.
int ShowRightManager(int useTransaction, int showDiscount, LibrarySession& session = processSession());

} // namespace vardex
