#include "cli/commands.h"

#include "library/csv.h"
#include "platform/privatefile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStringDecoder>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <locale.h>
#include <termios.h>
#include <unistd.h>

namespace vardex::cli {

QString chooseLanguage() {
    QString asked = qEnvironmentVariable("VARDEX_LANG");
    if (asked == QLatin1String("zh") || asked == QLatin1String("en"))
        return asked;
    if (!asked.isEmpty())
        std::fprintf(
            stderr,
            "vardex-cli: VARDEX_LANG=%s is not a language of this program (zh, en); the locale's is used.\n",
            asked.left(40).toLocal8Bit().constData());
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString locale = qEnvironmentVariable(name);
        if (!locale.isEmpty())
            return locale.startsWith(QLatin1String("zh")) ? QStringLiteral("zh") : QStringLiteral("en");
    }
    return QStringLiteral("en");
}

void printErr(const QString& text) {
    const QByteArray b = (QStringLiteral("vardex-cli: ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, b.size(), stderr);
}

void printOut(const QString& text) {
    const QByteArray b = (text + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, b.size(), stdout);
}

Conventions& conventions() {
    static Conventions c;
    return c;
}

int failed(const QString& why, int rc) {
    conventions().error = why;
    printErr(why);
    return rc;
}

void noteStatements(const QStringList& log) {
    conventions().statements << log;
}

void notice(const QString& text) {
    if (!conventions().quiet)
        printErr(text);
}

void say(const QString& text) {
    Conventions& c = conventions();
    c.results << text;
    if (!c.json)
        printOut(text);
}

namespace {

// The answer typed to a question on the terminal: true for y or yes.
bool confirmed(const QString& question) {
    const QByteArray q = (QStringLiteral("vardex-cli: ") + question + QStringLiteral(" [y/N] ")).toUtf8();
    std::fwrite(q.constData(), 1, q.size(), stderr);
    std::fflush(stderr);
    QByteArray line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        line.append(static_cast<char>(c));
    const QByteArray a = line.trimmed().toLower();
    return a == "y" || a == "yes";
}

} // namespace

void finishTransaction(AdoTransaction& tx, const AdoConnection& cn) {
    Conventions& c = conventions();
    if (c.dryRun) {
        tx.rollback();
        c.committed = true;
        return;
    }
    if (c.destructive && !c.yes) {
        if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO))
            throw Usage(Cli::tr("%1 deletes and standard input is no terminal to ask on: pass --yes "
                                "to do it, or --dry-run to see what it would do")
                            .arg(c.verb));
        qsizetype writes = 0;
        for (const QString& s : cn.statementLog())
            writes += s.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive) ? 0 : 1;
        if (!confirmed(QStringLiteral("%1: %2 statement(s) to commit; commit them?").arg(c.verb).arg(writes)))
            throw Refused(Cli::tr("not done: the answer was no"));
    }
    tx.commit();
    c.committed = true;
}

Progress::Progress(qint64 total)
    : m_on(isatty(STDERR_FILENO) && !conventions().quiet), m_total(total),
      m_started(QDateTime::currentMSecsSinceEpoch()) {}

Progress::~Progress() {
    if (m_on && m_drawnAt >= 0)
        draw(true);
}

void Progress::table(const QString& name) {
    m_table = name;
    draw(false);
}

void Progress::advance(qint64 rows) {
    m_done += rows;
    draw(false);
}

void Progress::draw(bool last) {
    if (!m_on)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Redrawn at most ten times a second, and once at the end.
    if (!last && m_drawnAt >= 0 && now - m_drawnAt < 100)
        return;
    m_drawnAt = now;
    const double seconds = qMax<qint64>(1, now - m_started) / 1000.0;
    const QByteArray line = QStringLiteral("\r%1: %2 of %3 rows, %4 rows/s\x1b[K%5")
                                .arg(m_table)
                                .arg(m_done)
                                .arg(m_total)
                                .arg(qRound64(m_done / seconds))
                                .arg(last ? QStringLiteral("\n") : QString())
                                .toUtf8();
    std::fwrite(line.constData(), 1, line.size(), stderr);
    std::fflush(stderr);
}

bool parseTime(const QString& text) {
    if (text.size() == 10)
        return QDate::fromString(text, QStringLiteral("yyyy-MM-dd")).isValid();
    return text.size() == 19 && QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid();
}

void addStoreOptions(Options& p, bool userIsAccount) {
    p << OptionDecl{{QStringLiteral("store")},
                    QStringLiteral("Connection string of the store (default: $VARDEX_STORE)."),
                    QStringLiteral("CONNSTR"),
                    Kind::Text};
    QStringList account{QStringLiteral("db-user")};
    QStringList accountPassword{QStringLiteral("db-password")};
    if (userIsAccount) {
        account << QStringLiteral("user");
        accountPassword << QStringLiteral("password");
    }
    p << OptionDecl{account, QStringLiteral("Database account to open the store with."), QStringLiteral("U"),
                    Kind::Text};
    p << OptionDecl{
        accountPassword,
        QStringLiteral("Its password (visible to other users of the machine; prefer the next two)."),
        QStringLiteral("P"), Kind::Secret};
    if (!userIsAccount) {
        // Taken only to be refused with a message that names the right option.
        p << OptionDecl{{QStringLiteral("password")}, QString(), QStringLiteral("P"), Kind::Secret, true};
    }
    p << OptionDecl{{QStringLiteral("password-file")},
                    QStringLiteral("Read the account's password from the file's first line (a file only its "
                                   "owner may read)."),
                    QStringLiteral("FILE"),
                    Kind::File};
    p << OptionDecl{{QStringLiteral("key")},
                    QStringLiteral("Cipher key of the passwords (default: the library's)."),
                    QStringLiteral("K"),
                    Kind::Secret};
    if (!userIsAccount)
        p << OptionDecl{
            {QStringLiteral("trace")},
            QStringLiteral("Write every statement sent to the store, in order, as a JSON array "
                           "(password values shown as '***'; the file is readable by its owner only)."),
            QStringLiteral("FILE"),
            Kind::File};
}

QString storeFrom(const QCommandLineParser& p, const QString& positional) {
    if (!positional.isEmpty())
        return positional;
    if (p.isSet(QStringLiteral("store")))
        return p.value(QStringLiteral("store"));
    const QString env = QProcessEnvironment::systemEnvironment().value(QStringLiteral("VARDEX_STORE"));
    if (env.isEmpty())
        throw Usage(Cli::tr("no store given: pass --store CONNSTR or set VARDEX_STORE"));
    return env;
}

namespace {

// Bytes as text, or a Usage naming what they are when they are not valid UTF-8: a byte read as
// a replacement character would make two different secrets one.
QString exactText(const QByteArray& bytes, const QString& what) {
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decode(bytes);
    if (decode.hasError())
        throw Usage(Cli::tr("%1 is not valid UTF-8 text").arg(what));
    return text;
}

} // namespace

QString secretFromFile(const QString& path, const char* what) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Usage(
            Cli::tr("cannot read the %1 file %2: %3").arg(QLatin1String(what), path, f.errorString()));
    if (openToOthers(f))
        throw Usage(Cli::tr("the %1 file %2 may be read by others: allow its owner only (chmod 600)")
                        .arg(QLatin1String(what), path));
    constexpr qint64 kLongest = 1 << 16;
    QByteArray line = f.readLine(kLongest + 2);
    if (line.size() > kLongest && !line.endsWith('\n'))
        throw Usage(Cli::tr("the first line of the %1 file %2 is longer than %3 bytes")
                        .arg(QLatin1String(what), path)
                        .arg(kLongest));
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.contains('\0'))
        throw Usage(Cli::tr("the %1 file %2 holds a NUL byte").arg(QLatin1String(what), path));
    return exactText(line, QStringLiteral("the %1 file %2").arg(QLatin1String(what), path));
}

QString secretFromEnvironment(const char* name) {
    if (!qEnvironmentVariableIsSet(name))
        return QString();
    const QString text = exactText(qgetenv(name), QLatin1String(name));
    return text.isNull() ? QString(QLatin1String("")) : text;
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
    if (line.contains('\0'))
        throw Usage(Cli::tr("what was typed holds a NUL byte"));
    out = exactText(line, QStringLiteral("what was typed"));
    return true;
}

QString databasePassword(const QCommandLineParser& p, bool userIsAccount) {
    if (!userIsAccount && p.isSet(QStringLiteral("password")))
        throw Usage(Cli::tr("--password is not an option of this verb: the database account's password "
                            "is --db-password (or --password-file, VARDEX_PASSWORD); a user's own "
                            "comes from --new-password-file, VARDEX_NEW_PASSWORD or a prompt"));
    if (p.isSet(QStringLiteral("db-password")))
        return p.value(QStringLiteral("db-password"));
    if (p.isSet(QStringLiteral("password-file")))
        return secretFromFile(p.value(QStringLiteral("password-file")), "password");
    const QString env = secretFromEnvironment("VARDEX_PASSWORD");
    if (!env.isNull())
        return env;
    QString typed;
    if (p.isSet(QStringLiteral("db-user")) &&
        promptSecret(Cli::tr("Password for %1: ").arg(p.value(QStringLiteral("db-user"))), typed))
        return typed;
    return QString();
}

namespace {

bool g_traceFailed = false;

} // namespace

TraceFile::TraceFile(const QCommandLineParser& p) {
    if (!p.isSet(QStringLiteral("trace")))
        return;
    m_path = p.value(QStringLiteral("trace"));
    QString error;
    if (!openOwnerOnlyForWriting(m_file, m_path, error))
        throw Usage(Cli::tr("cannot write the trace file %1: %2").arg(m_path, error));
}

void TraceFile::write(const QStringList& statements) {
    if (!active())
        return;
    QJsonArray a;
    for (const QString& s : statements)
        a.append(maskPasswords(s));
    const QByteArray bytes = QJsonDocument(a).toJson();
    const bool ok = m_file.write(bytes) == bytes.size() && m_file.flush();
    const QString error = m_file.errorString();
    m_file.close();
    if (!ok) {
        printErr(Cli::tr("cannot write the trace file %1: %2").arg(m_path, error));
        g_traceFailed = true;
    }
}

bool traceFailed() {
    return g_traceFailed;
}

void resetRunState() {
    conventions() = Conventions{};
    g_traceFailed = false;
}

bool parseInt32(const QString& text, int& out) {
    const qsizetype first = text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (first >= text.size())
        return false;
    qlonglong v = 0;
    for (qsizetype i = first; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
        if (v > 2147483648LL)
            return false;
    }
    if (text[0] == QLatin1Char('-'))
        v = -v;
    if (v > INT32_MAX)
        return false;
    out = static_cast<int>(v);
    return true;
}

void addFormatOptions(Options& p) {
    // --json is added by dispatch.cpp for every verb whose table entry says GivesJson.
    p << OptionDecl{{QStringLiteral("csv")},
                    QStringLiteral("Write comma-separated values with a header line.")};
}

Format formatFrom(const QCommandLineParser& p) {
    if (p.isSet(QStringLiteral("json")) && p.isSet(QStringLiteral("csv")))
        throw Usage(Cli::tr("--json and --csv exclude each other"));
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

// The columns a text takes on a terminal, by the C library's character widths (East Asian wide
// characters take two, combining marks none). The widths are those of Unicode, whatever the
// user's language: the text is written as UTF-8 in any locale, so they are taken in C.UTF-8.
// A character the library calls unprintable (an unassigned one, a C1 control) takes none: the
// terminal draws nothing for it.
int widthOf(const QString& s) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    const locale_t before = utf8 ? uselocale(utf8) : static_cast<locale_t>(nullptr);
    int w = 0;
    for (const char32_t c : s.toUcs4())
        w += std::max(0, wcwidth(static_cast<wchar_t>(c)));
    if (utf8)
        uselocale(before);
    return w;
}

// A cell on one line of a text table: control characters are shown escaped.
QString cellText(const QVariant& v) {
    if (v.isNull() || !v.isValid())
        return QString();
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
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
    return csvQuoted(v.typeId() == QMetaType::Bool ? cellText(v) : v.toString());
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
                else if (v.typeId() == QMetaType::Bool)
                    o.insert(t.columns[c], v.toBool());
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

QVariant textCell(const QVariant& v) {
    return v.isNull() ? QVariant() : QVariant(v.toString());
}

QVariant numberCell(const QVariant& v) {
    return v.isNull() ? QVariant() : QVariant(v.toLongLong());
}

std::unique_ptr<AdoConnection> openAccount(const QString& cs, const QString& user, const QString& password,
                                           const QString& what) {
    auto cn = std::make_unique<AdoConnection>();
    cn->setConnectionString(cs);
    try {
        cn->open(user, password);
    } catch (const Error& e) {
        throw Usage(Cli::tr("cannot open the %1: %2").arg(what, e.message()));
    }
    return cn;
}

} // namespace vardex::cli
