#pragma once
// The verbs of vardex-cli as tables. Each command group's file (cmd_*.cpp) lists its verbs: the
// words that name one, its arguments, a line saying what it does, the options it declares and
// the function that runs it. dispatch.cpp reads the tables: it finds the verb a command line
// names, parses and checks its options against their declarations, and writes its --help, the
// JSON list of the verbs, the manual page's verb reference and the program's usage from them;
// the completion (cmd_completion.cpp) is written from the same declarations.
//
// The conventions every verb follows live in dispatch.cpp and common.cpp, not in the verbs:
// - Help: VERB --help and `help VERB` on standard output. Each argument is written "NAME: what
//   it is" (a name dispatch.cpp knows, ITEM, ID, ..., may go without).
// - Checks: a wrong count of arguments, an unknown option, and an argument or option value not
//   of its declared kind (a whole number of 32 bits, a time yyyy-MM-dd[ hh:mm:ss], a date of the
//   form yyyy-mm-dd) are exit 2 before the verb runs.
// - flags, the last field of a table entry:
//     Writes       the verb changes a store. It gets --json (one result object: verb, ok,
//                  dryRun, committed, statements, results, error) and --dry-run. It ends its
//                  transaction through StoreSession::transaction or finishTransaction(), which
//                  roll back under --dry-run (a verb that ends none fails a dry run, exit 1),
//                  says what it did with say(), and a verb on a connection of its own hands
//                  its statement log to noteStatements() (-v, the count).
//     Destructive  it deletes (implies Writes): --yes, and a question on a terminal before the
//                  commit; refused (exit 2) when no terminal is there and --yes is not given.
//     GivesJson    it writes JSON of its own with --json (conventions().json; tables through
//                  render()).
// - -q and -v are every verb's: notice() is silent with -q; -v lists the statements sent.
// A verb that deletes, for example, needs no more than its flag:
//   {QStringLiteral("item delete"), {int32Arg(QStringLiteral("ITEM"))}, QStringLiteral("Delete an item."),
//    Takes::Store, nullptr, onStore(remove), Destructive}
#include "cli/cli.h"

#include <functional>

namespace vardex::cli {

class StoreSession;

// What a verb runs with: its options and its arguments. For the verbs on a database account
// (install, session, doctor) also the store and the account, read once before it runs (the
// password may have been asked for at the terminal).
struct Invocation {
    const QCommandLineParser& options;
    QStringList args;
    QString connectionString, user, password;
};

// The kind of an option's value or of an argument: what is checked before the verb runs (a
// value not of its kind is exit 2, the error naming the option and its kind), and what the
// help, the JSON list of the verbs and the bash completion say of it.
enum class Kind {
    Flag,   // an option without a value
    Int32,  // a whole number of 32 bits
    Time,   // yyyy-mm-dd or yyyy-mm-dd hh:mm:ss, a real day and time
    Date,   // of the form yyyy-mm-dd (empty for none); whether the day is real is the verb's rule
    Text,   // any text
    Secret, // a password or key: never shown back
    File,   // a path
};
// The name of a kind as help --json writes it: "int32", "time", ...
QString kindName(Kind k);

// An option as a verb declares it: the parser, the checks, the help, help --json and the
// completion are all made from this.
struct OptionDecl {
    OptionDecl(QStringList names_, QString help_, QString value_ = QString(), Kind kind_ = Kind::Flag,
               bool hidden_ = false)
        : names(std::move(names_)), help(std::move(help_)), value(std::move(value_)), kind(kind_),
          hidden(hidden_) {}
    QStringList names; // the long name last; a one-letter name is the short form
    QString help;
    QString value; // the name of its value in the help ("FILE"); empty for a flag
    Kind kind;
    bool hidden; // taken, but not listed (only to be refused with a better message)
};
using Options = QList<OptionDecl>;

// An argument as a verb declares it: "NAME" or "NAME: what it is" (a name the program knows,
// ID, ITEM, CONNSTR, ..., may go without), and its kind.
struct ArgDecl {
    ArgDecl(const QString& entry, Kind kind_ = Kind::Text); // NOLINT(google-explicit-constructor)
    QString name, help;
    Kind kind;
    bool more() const { return name.endsWith(QLatin1String("...")); } // one word or more
};
// An argument that is a whole number of 32 bits.
inline ArgDecl int32Arg(const QString& entry) {
    return {entry, Kind::Int32};
}

// The options a verb takes besides its own, in the order its --help lists them.
enum class Takes {
    Store,        // --help, the store options, then its own
    OwnThenStore, // its own, --help, then the store options
    Own,          // its own and --help: its arguments name the stores
    Account,      // --help, the store options naming a database account, then its own; the store
                  // may be given as its argument CONNSTR
};

enum VerbFlags : unsigned {
    Writes = 1,
    Destructive = 2 | Writes,
    GivesJson = 4,
};

struct Verb {
    QString name;               // the words that name it: "user add"
    QList<ArgDecl> synopsis;    // its arguments, in order
    QString summary;            // what it does: the head of its --help
    Takes takes = Takes::Store; // the options it takes besides its own
    void (*options)(Options&);  // adds its own options; null for none
    std::function<int(const Invocation&)> run;
    unsigned flags = 0; // VerbFlags
};

struct CommandGroup {
    QString usage;         // the group's line in the program's usage
    bool sameLine = false; // written on the line of the group before, after " | "
    QList<Verb> verbs;
};

// A verb's run that opens the session on the store of its options, runs body and answers kOk.
using StoreBody = std::function<void(StoreSession&, const QCommandLineParser&, const QStringList&)>;
std::function<int(const Invocation&)> onStore(StoreBody body);

// The command groups, in the order of the usage.
CommandGroup installCommands();
CommandGroup upgradeCommands();
CommandGroup passwordCommands(); // policy, passwords upgrade, user unlock
CommandGroup sessionCommands();
CommandGroup doctorCommands();
CommandGroup userCommands();
CommandGroup userGroupCommands();
CommandGroup permGroupCommands();
CommandGroup itemCommands();
CommandGroup grantCommands();
CommandGroup listCommands();
CommandGroup logCommands();
CommandGroup transferCommands(); // export, import
CommandGroup copyCommands();
CommandGroup completionCommands(); // completion bash
CommandGroup secureCommands();     // secure, on PostgreSQL

// The options every verb on a store takes, as declared. The database account is
// --db-user and its password --db-password; install, session and doctor also take them as
// --user and --password and write no trace. On the other verbs --user names a user of the
// store, and --password is refused (it would be taken for a user's password).
void addStoreOptions(Options& p, bool userIsAccount = false);
// --csv, of the verbs that write tables (--json comes with the GivesJson flag).
void addFormatOptions(Options& p);

// Every verb of the tables, in the order of the usage.
QList<const Verb*> allVerbs();
// Every option a verb takes, in the order of its --help: its own and those of every verb.
Options declaredOptions(const Verb& v);
// Its arguments: those of its table entry (CONNSTR for a verb on a database account).
QList<ArgDecl> declaredArguments(const Verb& v);
// The options of one as typed (-q, --store, ...), hidden ones left out: for the completion.
QStringList optionNames(const Verb& v);
// A verb's --help; every verb with its arguments, options (names, value, kind, help) and flags
// as JSON, what tests and tools read the tables through; the manual page's verb reference.
QString verbHelp(const Verb& v);
QString verbsJson();
QString verbsRoff();
// Exit 2 (Usage naming the option or argument and its kind) unless every option value and
// argument the parser holds is of its declared kind.
void checkKinds(const QCommandLineParser& p, const Options& options, const QList<ArgDecl>& arguments);
// Runs a verb on the words after its name, as dispatch() runs the verbs of the tables.
int runDeclared(const Verb& v, const QStringList& words);
// Runs the verb the words name; answers the exit code (2 for words that name none).
int dispatch(const QStringList& args);
// Runs the program's arguments as vardex-cli does: --version, --help, a verb; a trace that could
// not be written makes a success exit 2.
int run(const QStringList& args);
// Makes the messages speak the language code names ("zh" or "en"); the library's texts as well
// unless libraryChooses.
void applyLanguage(const QString& code, bool libraryChooses);

// The usage of the program, on standard error (on standard output when asked for).
void printUsage(bool asked = false);

// What a table cell shows of a value read from the store: null stays null, else its text or
// its number.
QVariant textCell(const QVariant& v);
QVariant numberCell(const QVariant& v);

} // namespace vardex::cli
