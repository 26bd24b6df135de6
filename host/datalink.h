#pragma once
// The connection dialog ("获取连接参数"): the operator picks the kind of database, fills in its
// fields, may try the connection, and gets back the connection string the host keeps in Memo1.
#include <QDialog>
#include <QList>
#include <QPair>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vardex::host {

// A connection string as it is shown: the value of every Password (PWD) key replaced by
// asterisks. Text without a password is given back unchanged.
QString displayedConnectionString(const QString& text);

class TfrDataLink : public QDialog {
    Q_OBJECT
  public:
    // The kinds offered, in the order of the drop-down list.
    enum Kind { KindSQLite = 0, KindPostgreSQL = 1, KindSqlServer = 2, KindOdbc = 3 };

    explicit TfrDataLink(QWidget* owner = nullptr);

    // Fills the fields from a connection string. Whatever cannot be understood is left out:
    // the dialog then opens with the fields it could fill (an empty SQLite file by default).
    void loadConnectionString(const QString& text);
    // The connection string the fields describe, password included.
    QString connectionString() const;
    Kind kind() const;

    // Shows the dialog modally, filled in from text. OK replaces text and returns true;
    // Cancel leaves it as it was and returns false.
    static bool execute(QWidget* owner, QString& text);

    // Handlers
    void cbKindChange();
    void btnBrowseClick();
    void btnTestClick();
    void btnOKClick();
    void btnCancelClick();

    QComboBox* cbKind = nullptr;
    QLineEdit* edFile = nullptr; // SQLite: the database file
    QPushButton* btnBrowse = nullptr;
    QLineEdit* edHost = nullptr; // servers: host name or address
    QLineEdit* edPort = nullptr;
    QLineEdit* edDatabase = nullptr;
    QLineEdit* edDriver = nullptr; // SQL Server: the ODBC driver
    QLineEdit* edOdbc = nullptr;   // ODBC: the driver's connection string
    QLineEdit* edUser = nullptr;
    QLineEdit* edPassword = nullptr;
    QComboBox* cbSslMode = nullptr;     // PostgreSQL: libpq's sslmode (empty: libpq's default)
    QComboBox* cbTargetAttrs = nullptr; // PostgreSQL: which of several hosts to take
    QPushButton* btnTest = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

  private:
    void showRow(QWidget* field, bool on);
    // The host and port lists of the PostgreSQL page agree: one port for every host, or a
    // single port for all, and no host:port together with a port list. Else a message names
    // the fault and false is returned.
    bool hostsAgree();

    // Keys of the loaded string that no field shows (Connect Timeout, SSL Mode, ...): they are
    // given back unchanged as long as the kind stays the one loaded.
    QList<QPair<QString, QString>> m_extra;
    int m_loadedKind = -1;
    // Each field with its label and the widget that holds it in the grid.
    QList<QPair<QWidget*, QPair<QLabel*, QWidget*>>> m_rows;
};

} // namespace vardex::host
