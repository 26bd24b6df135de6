#pragma once
// What the verbs of vardex-cli share: the exit codes, the refusal that names what was wrong,
// the store options and where a password comes from, and the three output forms of a table.
#include "library/storeops.h"
#include "platform/adodb.h"
#include "platform/errors.h"
#include "platform/sqllexer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>
#include <stdexcept>

namespace vardex::cli {

// The program's own messages are written as Cli::tr("English"): shown as written, or in
// Chinese (translations/vardex-cli_zh.ts, compiled into the program) when the language is.
struct Cli {
    Q_DECLARE_TR_FUNCTIONS(Cli)
};

// The language of the messages: VARDEX_LANG ("zh" or "en"), else the locale's language for
// messages (LC_ALL, else LC_MESSAGES, else LANG): Chinese for a Chinese locale, English for
// any other and for none. Answers "zh" or "en"; a VARDEX_LANG of another value is named on
// standard error and the locale decides.
QString chooseLanguage();

// Exit codes (documented in vardex-cli(1)).
constexpr int kOk = 0;     // done
constexpr int kFailed = 1; // refused or failed; nothing was changed
constexpr int kUsage = 2;  // bad arguments, or the store could not be opened

// A refusal that names what was wrong; the verb's transaction is rolled back.
class Refused : public std::runtime_error {
  public:
    explicit Refused(const QString& message) : std::runtime_error("refused"), text(message) {}
    QString text;
};

// A usage error (exit 2).
class Usage : public std::runtime_error {
  public:
    explicit Usage(const QString& message) : std::runtime_error("usage"), text(message) {}
    QString text;
};

void printErr(const QString& text); // "vardex-cli: text" on standard error
void printOut(const QString& text); // text and a line end on standard output

// What the command line asked of the verb that runs, besides its own options: set by dispatch.cpp
// from the options every verb takes (-q, -v) and those its table entry's flags give it (--json,
// --dry-run, --yes).
struct Conventions {
    QString verb;             // its words: "user delete"
    bool quiet = false;       // -q: no notices, no progress
    bool verbose = false;     // -v: the statements sent, and Qt's own messages
    bool json = false;        // --json
    bool dryRun = false;      // --dry-run: the transaction is rolled back
    bool yes = false;         // --yes: a destructive verb does not ask
    bool destructive = false; // the verb deletes: it asks before its commit
    bool committed = false;   // a transaction of the verb reached its end (committed or rolled back)
    QStringList results;      // what a write verb said it did (the "results" of its JSON object)
    QStringList statements;   // what it sent to the store
    QString error;            // why it failed
};
Conventions& conventions();
// Keeps the statements a verb's connection sent (its log), for -v and the result object.
void noteStatements(const QStringList& log);
// A remark on standard error ("already; nothing to change"); none with -q.
void notice(const QString& text);
// What a write verb did, one line: on standard output, or into its JSON result object.
void say(const QString& text);
// The end of a verb's transaction, for every verb that changes a store: a destructive verb
// asks first (on a terminal; refused with Usage without one and without --yes, Refused when
// the answer is no); with --dry-run it is rolled back, else committed.
void finishTransaction(AdoTransaction& tx, const AdoConnection& cn);

// Progress of a verb that carries many rows (copy, import, export), on standard error when it
// is a terminal (and not -q): rows done of rows in all, the table at work and the rate, on one
// line redrawn. Silent otherwise.
class Progress {
  public:
    explicit Progress(qint64 total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void table(const QString& name); // the table now at work
    void advance(qint64 rows);

  private:
    void draw(bool last);
    bool m_on;
    qint64 m_total, m_done = 0, m_drawnAt = -1;
    QString m_table;
    qint64 m_started;
};

// A time as the audit log holds it: yyyy-MM-dd or yyyy-MM-dd hh:mm:ss, a real day and time.
bool parseTime(const QString& text);

// Says why a verb failed (standard error, and its result object) and answers rc.
int failed(const QString& why, int rc);
// Runs a verb's body and turns what it throws into a message and an exit code.
template <typename F> int guarded(F&& body) {
    try {
        return body();
    } catch (const Refused& r) {
        return failed(r.text, kFailed);
    } catch (const Usage& u) {
        return failed(u.text, kUsage);
    } catch (const Error& e) {
        return failed(e.message(), kFailed);
    } catch (const std::exception& e) {
        return failed(QString::fromLocal8Bit(e.what()), kFailed);
    }
}

// The connection string: the positional given, else --store, else VARDEX_STORE.
QString storeFrom(const QCommandLineParser& p, const QString& positional = QString());
// The database account password: --db-password, else --password-file, else VARDEX_PASSWORD,
// else, with --db-user given and standard input a terminal, a prompt. Raises Usage, also for
// --password on a verb whose options were added with userIsAccount false.
QString databasePassword(const QCommandLineParser& p, bool userIsAccount = false);
// Reads a secret from a file: its first line, without the line end, exactly as its bytes are
// (text that is not valid UTF-8, a line longer than 64 KiB and a file its group or others may
// read are refused). Raises Usage.
QString secretFromFile(const QString& path, const char* what);
// A secret from the environment, exactly as its bytes are; null when the variable is not set.
// Raises Usage when it is not valid text.
QString secretFromEnvironment(const char* name);
// Asks on the terminal without echo; false when standard input is no terminal. Raises Usage
// when what was typed is not valid text.
bool promptSecret(const QString& prompt, QString& out);

// The --trace file: opened when the verb starts, before the store (created readable by its
// owner only, never through a symbolic link; Usage when it cannot be), and given the statements
// the verb sent when it ends, with every password value shown as '***'.
class TraceFile {
  public:
    explicit TraceFile(const QCommandLineParser& p);
    bool active() const { return m_file.isOpen(); }
    // Writes the statements as a JSON array and closes the file; a failure is reported and makes
    // the program's exit code 2 (traceFailed()).
    void write(const QStringList& statements);

  private:
    QString m_path;
    QFile m_file;
};
bool traceFailed();
// Forgets what the verb run before left behind (its conventions, a failed trace): for a process
// that runs more than one.
void resetRunState();
// Statements shown or traced have their passwords masked (platform/sqllexer.h).
using vardex::maskPasswords;

// Parses a whole number that must fit in 32 bits: the whole text, decimal digits after an
// optional sign; no blanks, and digits beyond the range are refused, not wrapped.
bool parseInt32(const QString& text, int& out);

// A table for output: columns and rows of values (null, text or number).
struct Table {
    QStringList columns;
    QVector<QVector<QVariant>> rows;
};
enum class Format { Text, Json, Csv };
Format formatFrom(const QCommandLineParser& p);
QString render(const Table& t, Format f);

// Runs a select on a connection and returns its rows.
using storeops::selectRows;

// A connection of the verb's own (not the library's session) on the store cs, opened with the
// database account given; refused with Usage ("cannot open the <what>: <reason>") when it
// cannot be opened.
std::unique_ptr<AdoConnection> openAccount(const QString& cs, const QString& user, const QString& password,
                                           const QString& what = QStringLiteral("store"));

} // namespace vardex::cli
