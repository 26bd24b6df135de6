// vardex-cli: the library and the administration of a store from a shell (see vardex-cli(1)).
// The verbs are in the command groups' tables (cli/commands.h); here they are found, their
// options parsed and checked, their help and the program's usage written, and the conventions
// their flags ask for (--json, --dry-run, --yes, -q, -v) kept, from those tables.
#include "capi/vardex.h"
#include "cli/commands.h"
#include "platform/msgbox_qt.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTranslator>

#include <cstdio>

namespace vardex::cli {

namespace {

const QList<CommandGroup>& groups() {
    static const QList<CommandGroup> all{
        installCommands(),   sessionCommands(),   doctorCommands(),   userCommands(),
        userGroupCommands(), permGroupCommands(), itemCommands(),     grantCommands(),
        listCommands(),      logCommands(),       transferCommands(), copyCommands(),
        upgradeCommands(),   passwordCommands(),  secureCommands(),   completionCommands()};
    return all;
}

QString usageText() {
    QString lines;
    for (const CommandGroup& g : groups())
        lines += (g.sameLine ? QStringLiteral(" | ") : QStringLiteral("\n  ")) + g.usage;
    return QStringLiteral("usage: vardex-cli VERB [ARGS] [--store CONNSTR]   (vardex-cli help VERB, or "
                          "vardex-cli VERB --help, for each)") +
           lines +
           QStringLiteral("\nCONNSTR e.g. \"Provider=SQLite;Data Source=store.db\", or set VARDEX_STORE.\n"
                          "Every verb takes -q (no remarks, no progress) and -v (the statements sent).\n"
                          "Exit codes: 0 done, 1 refused or failed (nothing changed), 2 bad arguments or no "
                          "store.\n");
}

// The verb the words name (the one whose words they begin with), or null; used tells how many
// words name it.
const Verb* findVerb(const QStringList& args, int& used) {
    const Verb* found = nullptr;
    for (const Verb* v : allVerbs()) {
        const QStringList words = v->name.split(QLatin1Char(' '));
        if (args.mid(0, words.size()) == words) {
            found = v;
            used = words.size();
        }
    }
    return found;
}

// The verbs named by a first word, in their tables' order.
QStringList verbsOf(const QString& word) {
    QStringList known;
    for (const Verb* v : allVerbs())
        if (v->name.startsWith(word + QLatin1Char(' ')) || v->name == word)
            known << v->name;
    return known;
}

// An argument of a synopsis: its name, and what it is ("NAME: what it is", else the meaning
// the name has everywhere).
struct Argument {
    QString name, help;
    bool number = false; // a whole number of 32 bits, checked before the verb runs
};

Argument argument(const QString& entry) {
    const qsizetype colon = entry.indexOf(QStringLiteral(": "));
    Argument a{colon < 0 ? entry : entry.left(colon), colon < 0 ? QString() : entry.mid(colon + 2)};
    a.number =
        a.name == QLatin1String("ITEM") || a.name == QLatin1String("NEW") || a.name == QLatin1String("N");
    static const QHash<QString, QString> common{
        {QStringLiteral("ID"), QStringLiteral("A user's ID.")},
        {QStringLiteral("USER"), QStringLiteral("The ID of a user or user group.")},
        {QStringLiteral("ITEM"), QStringLiteral("An item's number (a whole number of 32 bits).")},
        {QStringLiteral("NEW"), QStringLiteral("The item's new number (a whole number of 32 bits).")},
        {QStringLiteral("CONNSTR"), QStringLiteral("Connection string of the store.")},
    };
    if (a.help.isEmpty())
        a.help = common.value(a.name);
    return a;
}

// Adds the verb's options, in the order its --help lists them, and its arguments.
void addOptions(QCommandLineParser& p, const Verb& v) {
    const bool ownFirst = v.takes == Takes::OwnThenStore || v.takes == Takes::Own;
    if (ownFirst && v.options)
        v.options(p);
    // Qt's own help option would offer --help-all (Qt's options, which this program has none of).
    p.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")});
    p.addOption({{QStringLiteral("q"), QStringLiteral("quiet")}, QStringLiteral("No remarks, no progress.")});
    p.addOption({{QStringLiteral("v"), QStringLiteral("verbose")},
                 QStringLiteral("List the statements sent to the store (password values shown as '***'), "
                                "and let Qt's own messages through.")});
    if (v.flags & (Writes | GivesJson))
        p.addOption({QStringLiteral("json"), v.flags & Writes
                                                 ? QStringLiteral("Write the outcome as one JSON object.")
                                                 : QStringLiteral("Write JSON.")});
    if (v.flags & Writes)
        p.addOption(
            {QStringLiteral("dry-run"),
             QStringLiteral("Do it in a transaction, report it, and roll it back: nothing changes.")});
    if ((v.flags & Destructive) == Destructive)
        p.addOption({{QStringLiteral("y"), QStringLiteral("yes")},
                     QStringLiteral("Do it without asking (it is asked on a terminal).")});
    if (v.takes != Takes::Own)
        addStoreOptions(p, v.takes == Takes::Account);
    if (!ownFirst && v.options)
        v.options(p);
    const QStringList synopsis =
        v.takes == Takes::Account ? QStringList{QStringLiteral("CONNSTR")} : v.synopsis;
    for (const QString& entry : synopsis) {
        const Argument a = argument(entry);
        p.addPositionalArgument(a.name, a.help);
    }
}

// An option of a verb as its help lists it: its names and the name of its value.
struct OptionInfo {
    QStringList names;
    QString value;
};

// The options a parser holds, read from its help (the parser lists them nowhere else).
QList<OptionInfo> optionsOf(const QCommandLineParser& p) {
    QList<OptionInfo> out;
    static const QRegularExpression line(QStringLiteral("^  (-[^ ].*?)(?: <([^>]+)>)?(?:  |$)"));
    static const QRegularExpression name(QStringLiteral("--?([A-Za-z0-9-]+)"));
    bool inOptions = false;
    for (const QString& l : p.helpText().split(QLatin1Char('\n'))) {
        if (!l.startsWith(QLatin1Char(' ')))
            inOptions = l == QLatin1String("Options:");
        const QRegularExpressionMatch m = line.match(l);
        if (!inOptions || !m.hasMatch())
            continue;
        OptionInfo o{{}, m.captured(2)};
        for (auto it = name.globalMatch(m.captured(1)); it.hasNext();)
            o.names << it.next().captured(1);
        out << o;
    }
    return out;
}

// Usage unless every argument and option value is of its kind: ITEM and NEW and an option's N
// whole numbers of 32 bits, an option's T a time.
void checkKinds(const QCommandLineParser& p, const Verb& v) {
    const QStringList pos = p.positionalArguments();
    for (int i = 0; i < v.synopsis.size() && i < pos.size(); ++i) {
        int n = 0;
        if (argument(v.synopsis[i]).number && !parseInt32(pos[i], n))
            throw Usage(Cli::tr("item number \"%1\" is not a whole number of 32 bits").arg(pos[i]));
    }
    for (const OptionInfo& o : optionsOf(p)) {
        if (!p.isSet(o.names.last()))
            continue;
        const QString value = p.value(o.names.last());
        int n = 0;
        if (o.value == QLatin1String("N") && !parseInt32(value, n))
            throw Usage(Cli::tr("--%1 \"%2\" is not a whole number of 32 bits").arg(o.names.last(), value));
        if (o.value == QLatin1String("T") && !parseTime(value))
            throw Usage(Cli::tr("--%1 \"%2\" is not a time: yyyy-mm-dd or yyyy-mm-dd hh:mm:ss")
                            .arg(o.names.last(), value));
    }
}

// A verb on a database account: its store may be its argument, else given as for the others;
// what is wrong with them is said with the usage.
int runOnAccount(const Verb& v, const QCommandLineParser& p) {
    const QStringList pos = p.positionalArguments();
    if (pos.size() > 1) {
        printErr(Cli::tr("unexpected argument %1").arg(pos[1]));
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

qsizetype writesIn(const QStringList& statements) {
    qsizetype n = 0;
    for (const QString& s : statements)
        n += s.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive) ? 0 : 1;
    return n;
}

// After a verb: the statements it sent (-v), and a write verb's outcome: one JSON object with
// --json, a line for a dry run.
int report(const Verb& v, const QStringList& args, int rc) {
    Conventions& c = conventions();
    if (c.verbose)
        for (const QString& s : c.statements)
            if (!s.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive))
                printErr(Cli::tr("sent: ") + maskPasswords(s).trimmed());
    if (!(v.flags & Writes))
        return rc;
    const qsizetype writes = writesIn(c.statements);
    if (rc == kOk && c.dryRun && !c.committed) {
        // The verb ended no transaction through finishTransaction(): what it did cannot be said
        // to have been rolled back.
        rc = failed(Cli::tr("%1 ended its work outside a transaction of vardex-cli: --dry-run cannot "
                            "vouch that nothing changed")
                        .arg(v.name),
                    kFailed);
    }
    if (c.json) {
        QJsonObject o{{QStringLiteral("verb"), v.name},
                      {QStringLiteral("arguments"), QJsonArray::fromStringList(args)},
                      {QStringLiteral("ok"), rc == kOk},
                      {QStringLiteral("exitCode"), rc},
                      {QStringLiteral("dryRun"), c.dryRun},
                      {QStringLiteral("committed"), rc == kOk && !c.dryRun && c.committed},
                      {QStringLiteral("statements"), writes},
                      {QStringLiteral("results"), QJsonArray::fromStringList(c.results)}};
        if (rc != kOk)
            o.insert(QStringLiteral("error"), c.error);
        printOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)).trimmed());
    } else if (rc == kOk && c.dryRun) {
        printOut(
            QStringLiteral("dry run: %1 statement(s) sent and rolled back; nothing changed").arg(writes));
    }
    return rc;
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
    Conventions& c = conventions();
    c.verb = v.name;
    c.quiet = p.isSet(QStringLiteral("quiet"));
    c.verbose = p.isSet(QStringLiteral("verbose"));
    c.json = (v.flags & (Writes | GivesJson)) && p.isSet(QStringLiteral("json"));
    c.dryRun = (v.flags & Writes) && p.isSet(QStringLiteral("dry-run"));
    c.destructive = (v.flags & Destructive) == Destructive;
    c.yes = c.destructive && p.isSet(QStringLiteral("yes"));
    if (c.quiet && c.verbose) {
        printErr(Cli::tr("-q and -v exclude each other"));
        return kUsage;
    }
    const int checked = guarded([&] {
        checkKinds(p, v);
        return kOk;
    });
    if (checked != kOk)
        return checked;
    const QStringList pos = p.positionalArguments();
    if (v.takes == Takes::Account)
        return report(v, pos, runOnAccount(v, p));
    // An argument written "NAME..." takes one or more words.
    const bool more =
        !v.synopsis.isEmpty() && argument(v.synopsis.last()).name.endsWith(QLatin1String("..."));
    if (more ? pos.size() < v.synopsis.size() : pos.size() != v.synopsis.size()) {
        QStringList names;
        for (const QString& entry : v.synopsis)
            names << argument(entry).name;
        printErr(Cli::tr("%1 takes %2").arg(v.name, names.join(QLatin1Char(' '))));
        return kUsage;
    }
    const Invocation in{p, pos, QString(), QString(), QString()};
    return report(v, pos, guarded([&] { return v.run(in); }));
}

// The verbs a first word names, as the help of that word: `vardex-cli user --help`.
QString groupHelp(const QStringList& known) {
    QStringList lines{QStringLiteral("Verbs (vardex-cli help VERB for each):")};
    for (const QString& name : known) {
        int used = 0;
        const Verb* v = findVerb(name.split(QLatin1Char(' ')), used);
        QStringList names;
        for (const QString& entry : v->synopsis)
            names << argument(entry).name;
        lines << (QStringLiteral("  ") + name + QLatin1Char(' ') + names.join(QLatin1Char(' ')))
                     .trimmed()
                     .prepend(QStringLiteral("  "));
        lines << QStringLiteral("      ") + v->summary;
    }
    return lines.join(QLatin1Char('\n'));
}

// Every verb with its arguments, options and flags, as JSON: what tests and tools read the
// tables through.
QString verbsJson() {
    QJsonArray verbs;
    for (const Verb* v : allVerbs()) {
        QCommandLineParser p;
        addOptions(p, *v);
        QJsonArray args, options;
        const QStringList synopsis =
            v->takes == Takes::Account ? QStringList{QStringLiteral("CONNSTR")} : v->synopsis;
        for (const QString& entry : synopsis) {
            const Argument a = argument(entry);
            args.append(QJsonObject{{QStringLiteral("name"), a.name},
                                    {QStringLiteral("help"), a.help},
                                    {QStringLiteral("number"), a.number}});
        }
        for (const OptionInfo& o : optionsOf(p))
            options.append(QJsonObject{{QStringLiteral("names"), QJsonArray::fromStringList(o.names)},
                                       {QStringLiteral("value"), o.value}});
        verbs.append(QJsonObject{{QStringLiteral("verb"), v->name},
                                 {QStringLiteral("arguments"), args},
                                 {QStringLiteral("options"), options},
                                 {QStringLiteral("writes"), bool(v->flags & Writes)},
                                 {QStringLiteral("destructive"), (v->flags & Destructive) == Destructive},
                                 {QStringLiteral("json"), bool(v->flags & (Writes | GivesJson))}});
    }
    return QString::fromUtf8(QJsonDocument(verbs).toJson(QJsonDocument::Indented)).trimmed();
}

// help, help VERB, help --json.
int help(const QStringList& words) {
    if (words.isEmpty()) {
        printUsage(true);
        return kOk;
    }
    if (words == QStringList{QStringLiteral("--json")}) {
        printOut(verbsJson());
        return kOk;
    }
    int used = 0;
    if (const Verb* v = findVerb(words, used); v && used == words.size())
        return runVerb(*v, {QStringLiteral("--help")});
    const QStringList known = verbsOf(words.first());
    if (words.size() == 1 && !known.isEmpty()) {
        printOut(groupHelp(known));
        return kOk;
    }
    printErr(Cli::tr("help: unknown verb %1").arg(words.join(QLatin1Char(' '))));
    return kUsage;
}

} // namespace

QList<const Verb*> allVerbs() {
    QList<const Verb*> out;
    for (const CommandGroup& g : groups())
        for (const Verb& v : g.verbs)
            out << &v;
    return out;
}

// The options of a verb as its help lists them: for the completion.
QStringList optionNames(const Verb& v) {
    QCommandLineParser p;
    addOptions(p, v);
    QStringList out;
    for (const OptionInfo& o : optionsOf(p))
        for (const QString& n : o.names)
            out << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
    return out;
}

// Runs the verb the words name; 2 for words that name none, saying so.
int dispatch(const QStringList& args) {
    if (args.isEmpty()) {
        printUsage();
        return kUsage;
    }
    if (args.value(0) == QLatin1String("help"))
        return help(args.mid(1));
    int used = 0;
    if (const Verb* v = findVerb(args, used))
        return runVerb(*v, args.mid(used));
    const QStringList known = verbsOf(args.value(0));
    if (known.isEmpty()) {
        printErr(Cli::tr("unknown verb %1").arg(args.value(0)));
        printUsage();
        return kUsage;
    }
    if (args.size() == 2 && (args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h"))) {
        printOut(groupHelp(known));
        return kOk;
    }
    printErr(args.size() > 1 && !args[1].startsWith(QLatin1Char('-'))
                 ? Cli::tr("unknown verb %1 %2; one of: %3")
                       .arg(args[0], args[1], known.join(QStringLiteral(", ")))
                 : Cli::tr("%1 needs one of: %2").arg(args.value(0), known.join(QStringLiteral(", "))));
    return kUsage;
}

void printUsage(bool asked) {
    const QByteArray b = usageText().toUtf8();
    std::fwrite(b.constData(), 1, b.size(), asked ? stdout : stderr);
}

} // namespace vardex::cli

namespace {

// Shows the program's messages in that language, and the texts it shares with the windows
// (install's, the store's rules) too, unless `libraryChooses`: session runs the library's calls
// as a client program does, and the library then speaks as in any client (VARDEX_LANG, else
// Chinese), whatever the locale.
void applyLanguage(const QString& code, bool libraryChooses) {
    if (code == QLatin1String("zh")) {
        auto* translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(QStringLiteral(":/i18n/vardex-cli_zh.qm")))
            QCoreApplication::installTranslator(translator);
    }
    if (!libraryChooses)
        VardexSetLanguage(code.toLatin1().constData());
}

// Qt's own remarks (a missing XDG_RUNTIME_DIR, a platform plugin's notes) are not the verb's
// output: they are kept off standard error unless -v asks for them. The library writes none.
void qtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtCriticalMsg && type != QtFatalMsg && !vardex::cli::conventions().verbose)
        return;
    const QByteArray b = (QStringLiteral("vardex-cli: ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, b.size(), stderr);
}

} // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(qtMessages);
    // The words are taken here, before the application object, which is made without them.
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
    // Only session runs calls that open windows: it gets the library's application object (a
    // QApplication when a display is there). Every other verb stays off the window system.
    static int appArgc = 1;
    static char appName[] = "vardex-cli";
    static char* appArgv[] = {appName, nullptr};
    if (args.value(0) == QLatin1String("session"))
        vardex::gui::ensureApplication();
    else
        new QCoreApplication(appArgc, appArgv);
    const QString verb = args.value(0);
    applyLanguage(vardex::cli::chooseLanguage(), verb == QLatin1String("session"));
    if (verb == QLatin1String("--version") || verb == QLatin1String("version")) {
        std::printf("vardex-cli %s\n", VARDEX_CLI_VERSION);
        return 0;
    }
    if (verb == QLatin1String("--help") || verb == QLatin1String("-h")) {
        vardex::cli::printUsage(true);
        return 0;
    }
    const int rc = vardex::cli::dispatch(args);
    // The verb's work is done, but the trace it was asked for is not: not a success.
    return rc == 0 && vardex::cli::traceFailed() ? 2 : rc;
}
