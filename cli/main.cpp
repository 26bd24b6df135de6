// vardex-cli: the library and the administration of a store from a shell (see vardex-cli(1)).
// The verbs are in the command groups' tables (cli/commands.h); here they are found, their
// options parsed and their help and the program's usage written, from those tables.
#include "cli/commands.h"
#include "platform/msgbox_qt.h"

#include <QCoreApplication>

#include <cstdio>

namespace vardex::cli {

namespace {

const QList<CommandGroup>& groups() {
    static const QList<CommandGroup> all{
        installCommands(),   sessionCommands(), doctorCommands(),  userCommands(),     userGroupCommands(),
        permGroupCommands(), itemCommands(),    grantCommands(),   listCommands(),     logCommands(),
        transferCommands(),  copyCommands(),    upgradeCommands(), passwordCommands(), secureCommands()};
    return all;
}

QString usageText() {
    QString lines;
    for (const CommandGroup& g : groups())
        lines += (g.sameLine ? QStringLiteral(" | ") : QStringLiteral("\n  ")) + g.usage;
    return QStringLiteral(
               "usage: vardex-cli VERB [ARGS] [--store CONNSTR]   (vardex-cli VERB --help for each)") +
           lines +
           QStringLiteral("\nCONNSTR e.g. \"Provider=SQLite;Data Source=store.db\", or set VARDEX_STORE.\n"
                          "Exit codes: 0 done, 1 refused or failed (nothing changed), 2 bad arguments or no "
                          "store.\n");
}

// The verb the words name (the one whose words they begin with), or null; used tells how many
// words name it.
const Verb* findVerb(const QStringList& args, int& used) {
    const Verb* found = nullptr;
    for (const CommandGroup& g : groups())
        for (const Verb& v : g.verbs) {
            const QStringList words = v.name.split(QLatin1Char(' '));
            if (args.mid(0, words.size()) == words) {
                found = &v;
                used = words.size();
            }
        }
    return found;
}

// The verbs named by a first word, in their tables' order.
QStringList verbsOf(const QString& word) {
    QStringList known;
    for (const CommandGroup& g : groups())
        for (const Verb& v : g.verbs)
            if (v.name.startsWith(word + QLatin1Char(' ')) || v.name == word)
                known << v.name;
    return known;
}

// Adds the verb's options, in the order its --help lists them, and its arguments.
void addOptions(QCommandLineParser& p, const Verb& v) {
    const bool ownFirst = v.takes == Takes::OwnThenStore || v.takes == Takes::Own;
    if (ownFirst && v.options)
        v.options(p);
    p.addHelpOption();
    if (v.takes != Takes::Own)
        addStoreOptions(p, v.takes == Takes::Account);
    if (!ownFirst && v.options)
        v.options(p);
    if (v.takes == Takes::Account) {
        p.addPositionalArgument(QStringLiteral("CONNSTR"), QStringLiteral("Connection string of the store."));
        return;
    }
    for (const QString& name : v.synopsis)
        p.addPositionalArgument(name, QString());
}

// A verb on a database account: its store may be its argument, else given as for the others;
// what is wrong with them is said with the usage.
int runOnAccount(const Verb& v, const QCommandLineParser& p) {
    const QStringList pos = p.positionalArguments();
    if (pos.size() > 1) {
        printErr(QStringLiteral("unexpected argument %1").arg(pos[1]));
        printUsage();
        return kUsage;
    }
    Invocation in{p, pos, QString(), QString(), QString()};
    try {
        in.connectionString = storeFrom(p, pos.value(0));
        in.user = p.value(QStringLiteral("db-user"));
        in.password = databasePassword(p, true);
    } catch (const Usage& u) {
        printErr(u.text);
        printUsage();
        return kUsage;
    }
    return guarded([&] { return v.run(in); });
}

int runVerb(const Verb& v, const QStringList& words) {
    QCommandLineParser p;
    p.setApplicationDescription(v.summary);
    addOptions(p, v);
    if (!p.parse(QStringList{QStringLiteral("vardex-cli ") + v.name} + words)) {
        printErr(p.errorText());
        if (v.takes == Takes::Account)
            printUsage();
        return kUsage;
    }
    if (p.isSet(QStringLiteral("help"))) {
        printOut(helpText(p, v.name));
        return kOk;
    }
    if (v.takes == Takes::Account)
        return runOnAccount(v, p);
    const QStringList pos = p.positionalArguments();
    // An argument written "NAME..." takes one or more words.
    const bool more = !v.synopsis.isEmpty() && v.synopsis.last().endsWith(QLatin1String("..."));
    if (more ? pos.size() < v.synopsis.size() : pos.size() != v.synopsis.size()) {
        printErr(QStringLiteral("%1 takes %2").arg(v.name, v.synopsis.join(QLatin1Char(' '))));
        return kUsage;
    }
    const Invocation in{p, pos, QString(), QString(), QString()};
    return guarded([&] { return v.run(in); });
}

// Runs the verb the words name; 2, with the usage, for a first word that names none.
int dispatch(const QStringList& args) {
    int used = 0;
    if (const Verb* v = findVerb(args, used))
        return runVerb(*v, args.mid(used));
    const QStringList known = verbsOf(args.value(0));
    if (known.isEmpty()) {
        printUsage();
        return kUsage;
    }
    printErr(
        args.size() > 1 && !args[1].startsWith(QLatin1Char('-'))
            ? QStringLiteral("unknown verb %1 %2; one of: %3")
                  .arg(args[0], args[1], known.join(QStringLiteral(", ")))
            : QStringLiteral("%1 needs one of: %2").arg(args.value(0), known.join(QStringLiteral(", "))));
    return kUsage;
}

} // namespace

void printUsage() {
    const QByteArray b = usageText().toUtf8();
    std::fwrite(b.constData(), 1, b.size(), stderr);
}

} // namespace vardex::cli

int main(int argc, char** argv) {
    // The library makes the application object: a QApplication when a display is there (the
    // dialogs need one), otherwise a plain core application.
    vardex::gui::ensureApplication();
    // The application object is made without the command line: the words are taken here.
    // A word that is not valid text would be read with replacement characters, and two
    // different words could then name the same user: refused instead.
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        const QByteArray word(argv[i]);
        const QString text = QString::fromLocal8Bit(word);
        if (text.toLocal8Bit() != word) {
            std::fprintf(stderr, "vardex-cli: argument %d is not valid text in the locale's encoding\n", i);
            return 2;
        }
        args << text;
    }
    const QString verb = args.value(0);
    if (verb == QLatin1String("--version") || verb == QLatin1String("version")) {
        std::printf("vardex-cli %s\n", VARDEX_CLI_VERSION);
        return 0;
    }
    if (verb == QLatin1String("--help") || verb == QLatin1String("-h") || verb == QLatin1String("help")) {
        vardex::cli::printUsage();
        return 0;
    }
    const int rc = vardex::cli::dispatch(args);
    // The verb's work is done, but the trace it was asked for is not: not a success.
    return rc == 0 && vardex::cli::traceFailed() ? 2 : rc;
}
