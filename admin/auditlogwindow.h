#pragma once
// The audit log window: a chart of logins, failures and rights used per day, filters by user,
// computer, time range and text applied as they are typed, the rows newest first (read a page at
// a time as the grid scrolls, so a log of millions of rows opens at once), how many rows the
// filters leave, and those rows exported as CSV. The rows' texts are shown in the window's
// language; the store keeps them as they were written.
#include "library/auditlog.h"
#include "library/dmain.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

class QChartView;
class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace vardex {

// The rows of the filter, newest first, fetched from the session's store a page at a time.
class AuditLogModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Time, User, Computer, Event, ColumnCount };
    static constexpr int kPageRows = 100;

    explicit AuditLogModel(LibrarySession& session, QObject* parent = nullptr);
    ~AuditLogModel() override;

    // Starts again from the newest row of the filter with its first page.
    void setFilter(const audit::Filter& filter);
    const audit::Filter& filter() const { return m_filter; }
    const audit::Row& row(int i) const { return m_rows.at(i); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

  private:
    struct Reader; // the filter's cursor in the store
    LibrarySession& m_session;
    audit::Filter m_filter;
    QVector<audit::Row> m_rows;
    std::unique_ptr<Reader> m_reader;
};

class TfrAuditLog : public QDialog {
    Q_OBJECT
  public:
    // Shows the newest rows of the whole log of session's store.
    explicit TfrAuditLog(QWidget* parent = nullptr, LibrarySession& session = processSession());
    ~TfrAuditLog() override;

    // Controls -------------------------------------------------------------------------------
    QChartView* chartView;
    QLineEdit* edUser;
    QLineEdit* edComputer;
    QLineEdit* edText;
    QCheckBox* chkRange; // the two dates filter only while it is ticked
    QDateEdit* dtFrom;
    QDateEdit* dtTo;
    QTableView* grid;
    QLabel* labCount; // how many rows the filters leave
    QPushButton* btnExport;
    QPushButton* btnClose;
    AuditLogModel* model;

    // The filters as the controls show them now: the texts trimmed, the dates while ticked.
    audit::Filter currentFilter() const;

    // Handlers
    // Reads the first page of the filter at once; the count and the chart follow, read a
    // slice of days at a time between events so that the window never stops answering.
    void applyFilter();
    // Whether the count and the chart of the last filter are still being read.
    bool tallying() const;
    void btnExportClick();
    // Writes every row of the filter to path as CSV; false (after saying why) when it cannot.
    bool exportTo(const QString& path);

    // Called when a filter's count and chart are complete; the benchmark and the tests wait for
    // it. longestStepMs: the longest the window was busy reading in one go for it.
    std::function<void()> onApplied;
    qint64 longestStepMs() const { return m_longestStepMs; }

  private:
    void filterEdited();
    void tallyStep();
    void finishTally();
    void drawChart(const QVector<audit::Day>& days, QDate first, QDate last);
    LibrarySession& m_session;
    QTimer* m_filterTimer;
    QTimer* m_tallyTimer;
    struct Tally;
    std::unique_ptr<Tally> m_tally;
    qint64 m_longestStepMs = 0;
};

// Opens the window modally over owner (see capi/vardex.h, VardexShowAuditLog). A session must be
// open, with an administrator's account.
int ShowAuditLog(QWidget* owner = nullptr, LibrarySession& session = processSession());

} // namespace vardex
