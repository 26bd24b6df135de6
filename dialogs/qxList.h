#pragma once
// The permission item list editor: the rows of qx_Name in a grid with a record navigator,
// bracketed by the two procedures that carry renumberings over to grants and groups.
#include "library/dmain.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <exception>
#include <functional>

class QTableView;
class QToolButton;

namespace vardex {

struct TDataSource;
class AdoQuery;

namespace dialogs {
class TDBGrid;
class TDBNavigator;
} // namespace dialogs

// The grid's view of a query published through a data source. The current record of the query
// is the grid's current row; a record being inserted shows as an extra row at its place.
// Every operation that reaches the store raises its errors to the caller.
class DataSourceModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit DataSourceModel(TDataSource& source, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Edits the record of that row (posting another pending record first). Errors go to the
    // error handler and the value is refused.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Called with the errors setData cannot raise.
    std::function<void(const std::exception&)> onError;
    // A record whose field in this column is empty is refused before it is posted (-1: none).
    // The model's input errors (that field empty, a number field given no number) are the item
    // list's own texts.
    int requiredColumn = -1;

    // The record operations of the navigator.
    int currentRow() const;
    bool pending() const; // a record is being edited or inserted
    // To another row of the grid: a record being edited or inserted is posted first (a new
    // record nothing was entered into is dropped); the same row keeps it in editing.
    void moveTo(int row);
    // The navigator's moves, which always end the editing.
    void navigate(int row);
    void first();
    void prior();
    void next();
    void last();
    void insert();
    void remove();
    void edit();
    void post();
    // The query was opened or closed behind the model's back.
    void reload();

  signals:
    void currentRowChanged(int row);

  private:
    AdoQuery* query() const;
    int recordOf(int row) const; // -1 for the row being inserted
    // Ends editing as leaving the record does; returns the record that row then shows.
    int leaveEditing(int row);
    void goTo(int row);
    void refuseIncomplete() const; // raises the input error for a record without its required field
    TDataSource& m_source;
};

class TfrqxList : public QDialog {
    Q_OBJECT
  public:
    explicit TfrqxList(QWidget* parent = nullptr, LibrarySession& session = processSession());
    ~TfrqxList() override;

    void FormCreate();
    void btnOKClick();
    void SpeedButton1Click();
    // The closing sequence: the pending record is posted (errors ignored), the list closed.
    void FormClose();
    // A navigator button (TDBNavigator::Button); errors go to the general error report.
    void DBNavigator1Click(int button);

    int tag = 0; // 1 when btnOK closed the window

    dialogs::TDBGrid* wwDBGrid1 = nullptr;
    dialogs::TDBNavigator* DBNavigator1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* btnOK = nullptr;
    DataSourceModel* model() const { return m_model; }

  protected:
    void done(int r) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // The grid's current cell follows the current record; column >= 0 also puts it in that column.
    void syncGridToRecord(int column = -1);
    void updateNavigator();
    // An input error as the window's own box (caption "错误"), any other error as the general report.
    void reportFailure(const std::exception& error);
    LibrarySession& m_session;
    DataSourceModel* m_model = nullptr;
    bool m_closing = false;
    bool m_syncing = false;
    bool m_acting = false; // a navigator action is changing the rows; the grid follows afterwards
};

// The list statement and the procedure calls the editor sends.
QString rightListSelect();

// Runs the editor on the session. useTransaction 1: the visit is one transaction, committed on OK.
void EditRightList(int useTransaction, LibrarySession& session = processSession());

} // namespace vardex
