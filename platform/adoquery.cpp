#include "platform/adodb.h"
#include "platform/sqldialect.h"
#include "platform/sqllexer.h"

#include <QRegularExpression>

namespace vardex {

QString AdoField::asString() const {
    if (isNull())
        return QString();
    return m_value.toString();
}

int AdoField::asInteger() const {
    if (isNull())
        return 0;
    bool ok = false;
    const qlonglong v = m_value.toLongLong(&ok);
    if (!ok) {
        const QString t = m_value.toString().trimmed();
        if (t.isEmpty())
            return 0;
        throw ConvertError(QStringLiteral("'%1' is not a valid integer value").arg(m_value.toString()));
    }
    return static_cast<int>(v);
}

AdoQuery::AdoQuery(AdoConnection* connection, const QString& initialSql) : m_connection(connection) {
    if (!initialSql.isEmpty())
        m_sql.append(initialSql);
}

void AdoQuery::clearSql() {
    close();
    m_sql.clear();
}

void AdoQuery::addSql(const QString& line) {
    close();
    m_sql.append(line);
}

void AdoQuery::setSql(const QString& oneLine) {
    close();
    m_sql = QStringList{oneLine};
}

void AdoQuery::setSqlLines(const QStringList& lines) {
    close();
    m_sql = lines;
}

QString AdoQuery::commandText() const {
    QString text;
    for (const QString& line : m_sql) {
        text += line;
        text += QLatin1String("\r\n");
    }
    return text;
}

void AdoQuery::open() {
    if (!m_connection)
        throw DbError(QStringLiteral("The query has no connection."));
    close();
    AdoConnection::Result r = m_connection->run(commandText(), true);
    m_fields = std::move(r.fields);
    m_types = std::move(r.types);
    m_rows = std::move(r.rows);
    m_current = 0;
    m_active = true;
}

void AdoQuery::close() {
    m_active = false;
    m_fields.clear();
    m_types.clear();
    m_editing = false;
    m_editBuffer.clear();
    m_insertPos = -1;
    m_rows.clear();
    m_current = 0;
    m_inserting = false;
    m_pending.clear();
}

int AdoQuery::execSql() {
    if (!m_connection)
        throw DbError(QStringLiteral("The query has no connection."));
    close();
    return m_connection->execute(commandText());
}

void AdoQuery::first() {
    m_current = 0;
}
void AdoQuery::next() {
    if (m_current < m_rows.size())
        ++m_current;
}
bool AdoQuery::eof() const {
    return !m_active || m_current >= m_rows.size();
}
void AdoQuery::moveTo(int index) {
    m_current = qBound(0, index, static_cast<int>(m_rows.size()));
}

int AdoQuery::fieldIndex(const QString& name) const {
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

AdoField AdoQuery::fieldByName(const QString& name) const {
    if (!m_active)
        throw DbError(QStringLiteral("The query is not open."));
    const int idx = fieldIndex(name);
    if (idx < 0)
        throw DbError(QStringLiteral("Field '%1' not found").arg(name));
    // With no current record (an empty result) a field reads as NULL, as data-aware fields do.
    if (m_current >= m_rows.size())
        return AdoField(m_fields[idx], QVariant());
    return AdoField(m_fields[idx], m_rows[m_current][idx]);
}

QVariant AdoQuery::value(int row, int column) const {
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_fields.size())
        return QVariant();
    return m_rows[row][column];
}

void AdoQuery::append() {
    if (!m_active)
        throw DbError(QStringLiteral("The query is not open."));
    if (m_editing)
        throw DbError(QStringLiteral("The record being edited must be posted or cancelled first."));
    m_inserting = true;
    m_insertPos = -1;
    m_pending.clear();
}

void AdoQuery::insertAt(int index) {
    append();
    m_insertPos = qBound(0, index, static_cast<int>(m_rows.size()));
}

void AdoQuery::setFieldValue(const QString& name, const QVariant& value) {
    if (m_editing) {
        const int idx = fieldIndex(name);
        if (idx < 0)
            throw DbError(QStringLiteral("Field '%1' not found").arg(name));
        m_editBuffer[idx] = value;
        return;
    }
    if (!m_inserting)
        throw DbError(QStringLiteral("The query is not in insert mode."));
    for (auto& p : m_pending)
        if (p.first.compare(name, Qt::CaseInsensitive) == 0) {
            p.second = value;
            return;
        }
    m_pending.append({name, value});
}

void AdoQuery::post() {
    if (m_editing) {
        postEdit();
        return;
    }
    if (!m_inserting)
        return;
    const QString table = tableName();
    if (table.isEmpty())
        throw DbError(QStringLiteral("The query names no table to insert into."));
    QStringList columns;
    QStringList values;
    for (const auto& p : m_pending) {
        // A field read under an alias is written to the column it stands for.
        const int idx = fieldIndex(p.first);
        const QString aliased = idx >= 0 ? listedColumn(idx) : QString();
        columns.append(aliased.isEmpty() ? p.first : aliased);
        const QVariant& v = p.second;
        if (v.isNull() || !v.isValid())
            values.append(QStringLiteral("NULL"));
        else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong ||
                 v.typeId() == QMetaType::UInt)
            values.append(QString::number(v.toLongLong()));
        else
            values.append(sqlLiteral(v.toString()));
    }
    // A new record that nothing was entered into is a row of NULLs (and column defaults).
    const QString sql = columns.isEmpty()
                            ? QStringLiteral("INSERT INTO ") + table + QStringLiteral(" DEFAULT VALUES")
                            : QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (") +
                                  columns.join(QLatin1Char(',')) + QStringLiteral(") VALUES (") +
                                  values.join(QLatin1Char(',')) + QLatin1Char(')');
    m_connection->execute(sql);
    QVector<QVariant> row(m_fields.size());
    for (const auto& p : m_pending) {
        const int idx = fieldIndex(p.first);
        if (idx >= 0)
            row[idx] = p.second;
    }
    if (m_insertPos < 0 || m_insertPos >= m_rows.size()) {
        m_rows.append(row);
        m_current = m_rows.size() - 1;
    } else {
        m_rows.insert(m_insertPos, row);
        m_current = m_insertPos;
    }
    m_inserting = false;
    m_insertPos = -1;
    m_pending.clear();
}

void AdoQuery::cancel() {
    m_inserting = false;
    m_insertPos = -1;
    m_pending.clear();
    m_editing = false;
    m_editBuffer.clear();
}

// ---------------------------------------------------------------------------------------------
// Editing fetched records

namespace {

bool isNumberType(int typeId) {
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

bool sameValue(const QVariant& a, const QVariant& b) {
    const bool an = a.isNull() || !a.isValid();
    const bool bn = b.isNull() || !b.isValid();
    if (an || bn)
        return an == bn;
    if (isNumberType(a.typeId()) && isNumberType(b.typeId()))
        return a.toDouble() == b.toDouble();
    return a.toString() == b.toString();
}

// One item of a select list: the expression and the name the field is read under.
struct ListItem {
    QString expression;
    QString name;
};

QString unquoteName(QString n) {
    if (n.size() >= 2 && ((n.startsWith(QLatin1Char('"')) && n.endsWith(QLatin1Char('"'))) ||
                          (n.startsWith(QLatin1Char('[')) && n.endsWith(QLatin1Char(']')))))
        n = n.mid(1, n.size() - 2);
    return n;
}

// The statement's tokens from its first to the FROM of its top level; empty when the text is
// no SELECT.
struct SelectText {
    QVector<SqlToken> tokens;
    qsizetype list = -1; // the first token of the select list
    qsizetype from = -1; // the FROM that ends it
};

SelectText selectText(const QString& text) {
    SelectText out;
    out.tokens = lexSql(text);
    const qsizetype first = nextSignificant(out.tokens, 0);
    if (first < 0 || !isWord(text, out.tokens[first], "select"))
        return out;
    int depth = 0;
    for (qsizetype i = first + 1; i < out.tokens.size(); ++i) {
        const SqlToken& t = out.tokens[i];
        if (isChar(text, t, '('))
            ++depth;
        else if (isChar(text, t, ')'))
            --depth;
        else if (depth == 0 && isWord(text, t, "from")) {
            out.list = first + 1;
            out.from = i;
            break;
        }
    }
    return out;
}

// One item of the list, tokens [b, e): "expr AS name", "expr name" (two pieces apart by one
// blank) or "expr" (named after its last dotted part).
ListItem listItem(const QString& text, const QVector<SqlToken>& t, qsizetype b, qsizetype e) {
    while (b < e && !t[b].significant())
        ++b;
    while (e > b && !t[e - 1].significant())
        --e;
    const auto span = [&](qsizetype from, qsizetype to) {
        return from < to ? text.mid(t[from].pos, t[to - 1].end() - t[from].pos) : QString();
    };
    const QString item = span(b, e);
    if (e - b >= 3 && (t[e - 1].kind == SqlToken::Word || t[e - 1].kind == SqlToken::Name) &&
        !t[e - 2].significant()) {
        const qsizetype before = [&] {
            qsizetype k = e - 2;
            while (k > b && !t[k].significant())
                --k;
            return k;
        }();
        if (before > b && isWord(text, t[before], "as"))
            return {span(b, before).trimmed(), unquoteName(span(e - 1, e))};
        qsizetype gaps = 0;
        for (qsizetype k = b; k < e; ++k)
            gaps += t[k].significant() ? 0 : 1;
        if (gaps == 1)
            return {span(b, e - 2), unquoteName(span(e - 1, e))};
    }
    return {item, unquoteName(item.mid(item.lastIndexOf(QLatin1Char('.')) + 1))};
}

// The items of "SELECT a AS x, b y, c FROM ..."; empty for "*" or a text that is no plain SELECT.
QVector<ListItem> selectList(const QString& text) {
    const SelectText st = selectText(text);
    if (st.from < 0)
        return {};
    QVector<ListItem> out;
    int depth = 0;
    qsizetype begin = st.list;
    for (qsizetype i = st.list; i <= st.from; ++i) {
        const SqlToken& t = st.tokens[i];
        if (isChar(text, t, '('))
            ++depth;
        else if (isChar(text, t, ')'))
            --depth;
        if (i < st.from && (depth != 0 || !isChar(text, t, ',')))
            continue;
        const ListItem item = listItem(text, st.tokens, begin, i);
        if (item.expression.isEmpty() || item.expression == QLatin1String("*") ||
            item.expression.endsWith(QLatin1String(".*")))
            return {};
        out.append(item);
        begin = i + 1;
    }
    return out;
}

bool isPlainColumn(const QString& e) {
    static const QRegularExpression plain(QStringLiteral("^[\\w.\"\\[\\]]+$"));
    return plain.match(e).hasMatch() && !e.front().isDigit();
}

} // namespace

QString AdoQuery::tableName() const {
    // The table of "select ... from <table> ...".
    const QString text = commandText();
    const SelectText st = selectText(text);
    const qsizetype table = st.from < 0 ? -1 : nextSignificant(st.tokens, st.from + 1);
    return table < 0 ? QString() : text.mid(st.tokens[table].pos, st.tokens[table].len);
}

bool AdoQuery::isNumericField(int i) const {
    return isNumberType(m_types.value(i).id());
}

QString AdoQuery::listedColumn(int field) const {
    const QString name = m_fields.value(field);
    for (const ListItem& item : selectList(commandText()))
        if (item.name.compare(name, Qt::CaseInsensitive) == 0)
            return isPlainColumn(item.expression) ? item.expression : QString();
    return QString();
}

QString AdoQuery::baseColumn(int field) const {
    if (field < 0 || field >= m_fields.size())
        return QString();
    const QVector<ListItem> items = selectList(commandText());
    if (items.isEmpty())
        return m_fields[field]; // select *: the fields are the table's columns
    return listedColumn(field);
}

QString AdoQuery::literal(const QVariant& v) const {
    if (v.isNull() || !v.isValid())
        return QStringLiteral("NULL");
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
        return QString::number(v.toDouble(), 'g', 17);
    if (isNumberType(v.typeId()))
        return v.toString();
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    return sqlLiteral(v.toString());
}

QString AdoQuery::locateCondition(const QVector<QVariant>& row) const {
    QStringList parts;
    for (int i = 0; i < m_fields.size(); ++i) {
        const QString column = baseColumn(i);
        if (column.isEmpty())
            continue;
        const QVariant& v = row.value(i);
        if (v.isNull() || !v.isValid())
            parts.append(column + QStringLiteral(" IS NULL"));
        else
            parts.append(column + QStringLiteral(" = ") + literal(v));
    }
    if (parts.isEmpty())
        throw DbError(QStringLiteral("The record has no column to locate its row by."));
    return parts.join(QStringLiteral(" AND "));
}

QString AdoQuery::oneRowStatement(bool update, const QString& setList, const QString& condition) const {
    const QString table = tableName();
    if (table.isEmpty())
        throw DbError(QStringLiteral("The query names no table to change."));
    const DialectSql& sql = m_connection ? m_connection->sql() : dialectSql(Dialect::SqlServer);
    return sql.oneRowStatement(update, table, setList, condition);
}

bool AdoQuery::modified() const {
    if (m_inserting)
        return !m_pending.isEmpty();
    if (!m_editing)
        return false;
    for (int i = 0; i < m_fields.size(); ++i)
        if (!sameValue(m_rows[m_current].value(i), m_editBuffer.value(i)))
            return true;
    return false;
}

void AdoQuery::edit() {
    if (!m_active)
        throw DbError(QStringLiteral("The query is not open."));
    if (m_inserting || m_editing)
        return;
    if (m_current < 0 || m_current >= m_rows.size())
        throw DbError(QStringLiteral("There is no current record to edit."));
    m_editBuffer = m_rows[m_current];
    m_editing = true;
}

QVariant AdoQuery::bufferValue(int column) const {
    if (m_editing)
        return m_editBuffer.value(column);
    if (m_inserting) {
        const QString name = m_fields.value(column);
        for (const auto& p : m_pending)
            if (p.first.compare(name, Qt::CaseInsensitive) == 0)
                return p.second;
        return QVariant();
    }
    return value(m_current, column);
}

void AdoQuery::postEdit() {
    const QVector<QVariant>& original = m_rows[m_current];
    QStringList sets;
    for (int i = 0; i < m_fields.size(); ++i) {
        if (sameValue(original.value(i), m_editBuffer.value(i)))
            continue;
        const QString column = baseColumn(i);
        if (column.isEmpty())
            throw DbError(QStringLiteral("Field '%1' cannot be modified").arg(m_fields[i]));
        sets.append(column + QStringLiteral(" = ") + literal(m_editBuffer.value(i)));
    }
    if (!sets.isEmpty()) {
        const QString sql = oneRowStatement(true, sets.join(QStringLiteral(", ")), locateCondition(original));
        if (m_connection->execute(sql) != 1)
            throw DbError(QStringLiteral("Row cannot be located for updating. Some values may have been "
                                         "changed since it was last read."));
    }
    m_rows[m_current] = m_editBuffer;
    m_editing = false;
    m_editBuffer.clear();
}

void AdoQuery::deleteRecord() {
    if (!m_active)
        throw DbError(QStringLiteral("The query is not open."));
    if (m_inserting) {
        cancel(); // a record not yet posted is only dropped
        return;
    }
    if (m_current < 0 || m_current >= m_rows.size())
        throw DbError(QStringLiteral("There is no current record to delete."));
    const QString sql = oneRowStatement(false, QString(), locateCondition(m_rows[m_current]));
    if (m_connection->execute(sql) != 1)
        throw DbError(QStringLiteral(
            "Row cannot be located for deleting. Some values may have been changed since it was last read."));
    m_editing = false;
    m_editBuffer.clear();
    m_rows.removeAt(m_current);
    if (m_current >= m_rows.size() && m_current > 0)
        m_current = m_rows.size() - 1;
}

} // namespace vardex
