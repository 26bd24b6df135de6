#include "cli/cli.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace vardex::cli {

void printErr(const QString& text) {
    const QByteArray b = (QStringLiteral("vardex-cli: ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, b.size(), stderr);
}

void printOut(const QString& text) {
    const QByteArray b = (text + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, b.size(), stdout);
}

void addStoreOptions(QCommandLineParser& p, bool userIsAccount) {
    p.addOption({QStringLiteral("store"),
                 QStringLiteral("Connection string of the store (default: $VARDEX_STORE)."),
                 QStringLiteral("CONNSTR")});
    QStringList account{QStringLiteral("db-user")};
    if (userIsAccount)
        account << QStringLiteral("user");
    p.addOption({account, QStringLiteral("Database account to open the store with."), QStringLiteral("U")});
    p.addOption({QStringLiteral("password"),
                 QStringLiteral("Its password (visible to other users of the machine; prefer the next two)."),
                 QStringLiteral("P")});
    p.addOption({QStringLiteral("password-file"),
                 QStringLiteral("Read the account's password from the file's first line."),
                 QStringLiteral("FILE")});
    p.addOption({QStringLiteral("key"),
                 QStringLiteral("Cipher key of the passwords (default: the library's)."),
                 QStringLiteral("K")});
    p.addOption({QStringLiteral("trace"),
                 QStringLiteral("Write every statement sent to the store, in order, as a JSON array."),
                 QStringLiteral("FILE")});
}

QString storeFrom(const QCommandLineParser& p, const QString& positional) {
    if (!positional.isEmpty())
        return positional;
    if (p.isSet(QStringLiteral("store")))
        return p.value(QStringLiteral("store"));
    const QString env = QProcessEnvironment::systemEnvironment().value(QStringLiteral("VARDEX_STORE"));
    if (env.isEmpty())
        throw Usage(QStringLiteral("no store given: pass --store CONNSTR or set VARDEX_STORE"));
    return env;
}

QString secretFromFile(const QString& path, const char* what) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Usage(
            QStringLiteral("cannot read the %1 file %2: %3").arg(QLatin1String(what), path, f.errorString()));
    QByteArray line = f.readLine(1 << 16);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.contains('\0'))
        throw Usage(QStringLiteral("the %1 file %2 holds a NUL byte").arg(QLatin1String(what), path));
    return QString::fromUtf8(line);
}

bool promptSecret(const QString& prompt, QString& out) {
    if (!isatty(STDIN_FILENO))
        return false;
    const QByteArray pb = prompt.toUtf8();
    std::fwrite(pb.constData(), 1, pb.size(), stderr);
    std::fflush(stderr);
    termios old{};
    const bool haveTerm = tcgetattr(STDIN_FILENO, &old) == 0;
    if (haveTerm) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet); // what was typed ahead stays
    }
    QByteArray line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        line.append(static_cast<char>(c));
    if (haveTerm)
        tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fputc('\n', stderr);
    if (line.endsWith('\r'))
        line.chop(1);
    out = QString::fromUtf8(line);
    return true;
}

QString databasePassword(const QCommandLineParser& p) {
    if (p.isSet(QStringLiteral("password")))
        return p.value(QStringLiteral("password"));
    if (p.isSet(QStringLiteral("password-file")))
        return secretFromFile(p.value(QStringLiteral("password-file")), "password");
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (env.contains(QStringLiteral("VARDEX_PASSWORD")))
        return env.value(QStringLiteral("VARDEX_PASSWORD"));
    QString typed;
    if (p.isSet(QStringLiteral("db-user")) &&
        promptSecret(QStringLiteral("Password for %1: ").arg(p.value(QStringLiteral("db-user"))), typed))
        return typed;
    return QString();
}

QString helpText(const QCommandLineParser& p, const QString& verb) {
    QString text = p.helpText();
    const int end = text.indexOf(QLatin1Char('\n'));
    const QString first = text.left(end);
    const int options = first.indexOf(QStringLiteral(" [options]"));
    if (first.startsWith(QStringLiteral("Usage: ")) && options > 0)
        text = QStringLiteral("Usage: vardex-cli ") + verb + text.mid(options);
    return text;
}

bool parseInt32(const QString& text, int& out) {
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok || text.trimmed().isEmpty() || v < INT32_MIN || v > INT32_MAX)
        return false;
    out = static_cast<int>(v);
    return true;
}

void addFormatOptions(QCommandLineParser& p) {
    p.addOption({QStringLiteral("json"), QStringLiteral("Write a JSON array of objects.")});
    p.addOption({QStringLiteral("csv"), QStringLiteral("Write comma-separated values with a header line.")});
}

Format formatFrom(const QCommandLineParser& p) {
    if (p.isSet(QStringLiteral("json")) && p.isSet(QStringLiteral("csv")))
        throw Usage(QStringLiteral("--json and --csv exclude each other"));
    return p.isSet(QStringLiteral("json"))  ? Format::Json
           : p.isSet(QStringLiteral("csv")) ? Format::Csv
                                            : Format::Text;
}

namespace {

bool isNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

// Columns a character takes on a terminal: East Asian wide characters take two.
int widthOf(const QString& s) {
    int w = 0;
    for (const QChar c : s) {
        const ushort u = c.unicode();
        if (c.isLowSurrogate())
            continue;
        w += (u >= 0x1100 && (u <= 0x115F || (u >= 0x2E80 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3) ||
                              (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F) ||
                              (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6)))
                 ? 2
                 : 1;
    }
    return w;
}

// A cell on one line of a text table: control characters are shown escaped.
QString cellText(const QVariant& v) {
    if (v.isNull() || !v.isValid())
        return QString();
    QString out;
    for (const QChar c : v.toString()) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString csvField(const QVariant& v) {
    if (v.isNull() || !v.isValid())
        return QString();
    const QString s = v.toString();
    if (s.contains(QLatin1Char(',')) || s.contains(QLatin1Char('"')) || s.contains(QLatin1Char('\n')) ||
        s.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + QString(s).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
               QLatin1Char('"');
    return s;
}

} // namespace

QString render(const Table& t, Format f) {
    if (f == Format::Json) {
        QJsonArray a;
        for (const auto& row : t.rows) {
            QJsonObject o;
            for (int c = 0; c < t.columns.size(); ++c) {
                const QVariant v = row.value(c);
                if (v.isNull() || !v.isValid())
                    o.insert(t.columns[c], QJsonValue::Null);
                else if (isNumber(v))
                    o.insert(t.columns[c], v.toLongLong());
                else
                    o.insert(t.columns[c], v.toString());
            }
            a.append(o);
        }
        return QString::fromUtf8(QJsonDocument(a).toJson(QJsonDocument::Indented)).trimmed();
    }
    if (f == Format::Csv) {
        QStringList lines{t.columns.join(QLatin1Char(','))};
        for (const auto& row : t.rows) {
            QStringList cells;
            for (int c = 0; c < t.columns.size(); ++c)
                cells << csvField(row.value(c));
            lines << cells.join(QLatin1Char(','));
        }
        return lines.join(QStringLiteral("\r\n"));
    }
    QVector<int> widths;
    for (const QString& c : t.columns)
        widths << widthOf(c);
    for (const auto& row : t.rows)
        for (int c = 0; c < t.columns.size(); ++c)
            widths[c] = qMax(widths[c], widthOf(cellText(row.value(c))));
    auto line = [&](const QStringList& cells) {
        QString out;
        for (int c = 0; c < cells.size(); ++c) {
            out += cells[c];
            if (c + 1 < cells.size())
                out += QString(widths[c] - widthOf(cells[c]) + 2, QLatin1Char(' '));
        }
        return out;
    };
    QStringList out{line(t.columns)};
    QStringList rule;
    for (int w : widths)
        rule << QString(w, QLatin1Char('-'));
    out << line(rule);
    for (const auto& row : t.rows) {
        QStringList cells;
        for (int c = 0; c < t.columns.size(); ++c)
            cells << cellText(row.value(c));
        out << line(cells);
    }
    return out.join(QLatin1Char('\n'));
}

QVector<QVector<QVariant>> selectRows(AdoConnection& cn, const QString& sql) {
    return cn.run(sql, true).rows;
}

} // namespace vardex::cli
