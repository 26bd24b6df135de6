#pragma once
// The verbs of vardex-cli as tables. Each command group's file (cmd_*.cpp) lists its verbs: the
// words that name one, its arguments, a line saying what it does, the options it takes and the
// function that runs it. main.cpp reads the tables: it finds the verb a command line names,
// parses its options, writes its --help, and writes the program's usage from the groups' lines.
//
// The conventions every verb follows live in main.cpp and common.cpp, not in the verbs:
// - Help: VERB --help and `help VERB` on standard output. Each name in synopsis is an
//   argument; write it "NAME: what it is" (a name main.cpp knows, ITEM, ID, ..., may go without).
// - Checks: a wrong count of arguments, an unknown option, an argument ITEM, NEW or N or an option
//   value N that is no whole number of 32 bits and an option value T that is no time
//   (yyyy-MM-dd[ hh:mm:ss]) are exit 2 before the verb runs.
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
//   {QStringLiteral("item delete"), {QStringLiteral("ITEM")}, QStringLiteral("Delete an item."),
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
    QString name;                         // the words that name it: "user add"
    QStringList synopsis;                 // its arguments, in order ("NAME" or "NAME: what it is")
    QString summary;                      // what it does: the head of its --help
    Takes takes = Takes::Store;           // the options it takes besides its own
    void (*options)(QCommandLineParser&); // adds its own options; null for none
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

// Every verb of the tables, in the order of the usage, and the options of one (-q, --store, ...).
QList<const Verb*> allVerbs();
QStringList optionNames(const Verb& v);

// The usage of the program, on standard error (on standard output when asked for).
void printUsage(bool asked = false);

// What a table cell shows of a value read from the store: null stays null, else its text or
// its number.
QVariant textCell(const QVariant& v);
QVariant numberCell(const QVariant& v);
// The grant rows that hold a right (count above 0), of one owner, or of all for a null owner:
// holder, item, item name, count.
QString grantsSelect(const QString& owner);

} // namespace vardex::cli
