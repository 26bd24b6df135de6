#pragma once
// The query a data-aware grid works on: a statement whose rows are all fetched into memory,
// fields by name, and the records appended, edited and deleted as the grid does it. Included by
// adodb.h; the connection it runs on is an AdoConnection.
#include "platform/errors.h"

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace vardex {

class AdoConnection;

// One field of the current record of an open query.
class AdoField {
  public:
    AdoField() = default;
    AdoField(QString name, QVariant value) : m_name(std::move(name)), m_value(std::move(value)) {}
    bool isNull() const { return m_value.isNull() || !m_value.isValid(); }
    QString asString() const;
    int asInteger() const; // NULL reads as 0; a text that is no number raises ConvertError
    QVariant value() const { return m_value; }
    QString name() const { return m_name; }

  private:
    QString m_name;
    QVariant m_value;
};

class AdoQuery {
  public:
    explicit AdoQuery(AdoConnection* connection = nullptr, const QString& initialSql = QString());

    void setConnection(AdoConnection* connection) { m_connection = connection; }
    AdoConnection* connection() const { return m_connection; }

    // The SQL is a list of lines; the text sent is every line followed by CR LF.
    // Changing the SQL closes the query.
    const QStringList& sql() const { return m_sql; }
    void clearSql();
    void addSql(const QString& line);
    void setSql(const QString& oneLine); // replaces the whole text with one line
    void setSqlLines(const QStringList& lines);
    QString commandText() const;

    // Runs the statement and fetches every row. Raises DbError.
    void open();
    void close();
    bool active() const { return m_active; }
    // Executes the text as a command; returns the rows affected. Raises DbError.
    int execSql();

    int recordCount() const { return m_active ? m_rows.size() : 0; }
    bool isEmpty() const { return recordCount() == 0; }
    void first();
    void next();
    bool eof() const;
    int recNo() const { return m_current; } // 0-based index of the current record
    void moveTo(int index);

    int fieldCount() const { return m_fields.size(); }
    QString fieldName(int i) const { return m_fields.value(i); }
    int fieldIndex(const QString& name) const;       // case-insensitive, -1 when absent
    AdoField fieldByName(const QString& name) const; // raises DbError for an unknown field
    QVariant value(int row, int column) const;

    // The declared type of a field (integer fields take numbers only); invalid when unknown.
    QMetaType fieldType(int i) const { return m_types.value(i); }
    bool isNumericField(int i) const;

    // Appending a record: append(), setFieldValue() for the fields given, post() sends one
    // INSERT with exactly those columns into the table the query selects from.
    void append();
    void setFieldValue(const QString& name, const QVariant& value);
    void post();
    void cancel();
    bool inInsert() const { return m_inserting; }

    // Editing as a data-aware grid does it. The table the query reads may have no key, so a
    // record is located by the values it was read with: every column of the select list equal
    // to its value as read (IS NULL for a NULL), and exactly one such row is changed even when
    // two rows are identical (they are indistinguishable in what was read).
    //   insertAt(i): like append(), the posted record then takes place i in the result.
    //   edit(): the current record goes into editing; setFieldValue() changes its buffer;
    //           post() sends one UPDATE of the changed columns (nothing when none changed).
    //   deleteRecord(): deletes the row of the current record and removes the record.
    // A row that can no longer be found raises DbError and leaves the record as it was.
    enum class State { Browse, Edit, Insert };
    State state() const { return m_inserting ? State::Insert : (m_editing ? State::Edit : State::Browse); }
    void insertAt(int index);
    // True when the record being edited or inserted holds a value that was set or changed.
    bool modified() const;
    int insertPosition() const { return m_insertPos < 0 ? static_cast<int>(m_rows.size()) : m_insertPos; }
    void edit();
    void deleteRecord();
    // The value a field of the record being edited or inserted holds now (edit buffer).
    QVariant bufferValue(int column) const;
    // The column of the table behind a field ("qxID AS 权限ID" -> qxID); empty when the field is
    // computed.
    QString baseColumn(int field) const;

  private:
    QString tableName() const;
    QString literal(const QVariant& v) const;
    QString locateCondition(const QVector<QVariant>& row) const;
    QString oneRowStatement(bool update, const QString& setList, const QString& condition) const;
    QString listedColumn(int field) const;
    void postEdit();

    AdoConnection* m_connection = nullptr;
    QStringList m_sql;
    bool m_active = false;
    QStringList m_fields;
    QVector<QVector<QVariant>> m_rows;
    int m_current = 0;
    bool m_inserting = false;
    QList<QPair<QString, QVariant>> m_pending;
    QVector<QMetaType> m_types;
    int m_insertPos = -1; // -1: the posted insert goes to the end
    bool m_editing = false;
    QVector<QVariant> m_editBuffer; // the current record's values while it is edited
};

} // namespace vardex
