// The verbs of vardex-cli found and run: the command groups' tables (cli/commands.h) are read
// here; a verb's options and arguments are parsed and checked against what it declares, its help
// and the program's usage written, and the conventions its flags ask for (--json, --dry-run,
// --yes, -q, -v) kept.
#include "capi/vardex.h"
#include "cli/commands.h"

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

// What an argument is when its entry does not say: the meaning the name has everywhere.
QString commonHelp(const QString& name) {
    static const QHash<QString, QString> common{
        {QStringLiteral("ID"), QStringLiteral("A user's ID.")},
        {QStringLiteral("USER"), QStringLiteral("The ID of a user or user group.")},
        {QStringLiteral("ITEM"), QStringLiteral("An item's number (a whole number of 32 bits).")},
        {QStringLiteral("NEW"), QStringLiteral("The item's new number (a whole number of 32 bits).")},
        {QStringLiteral("CONNSTR"), QStringLiteral("Connection string of the store.")},
    };
    return common.value(name);
}

// The options every verb takes and those its flags give it, in the order its --help lists them.
void addConventionOptions(Options& o, const Verb& v) {
    // Qt's own help option would offer --help-all (Qt's options, which this program has none of).
    o << OptionDecl{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")};
    o << OptionDecl{{QStringLiteral("q"), QStringLiteral("quiet")},
                    QStringLiteral("No remarks, no progress.")};
    o << OptionDecl{{QStringLiteral("v"), QStringLiteral("verbose")},
                    QStringLiteral("List the statements sent to the store (password values shown as '***'), "
                                   "and let Qt's own messages through.")};
    if (v.flags & (Writes | GivesJson))
        o << OptionDecl{{QStringLiteral("json")},
                        v.flags & Writes ? QStringLiteral("Write the outcome as one JSON object.")
                                         : QStringLiteral("Write JSON.")};
    if (v.flags & Writes)
        o << OptionDecl{
            {QStringLiteral("dry-run")},
            QStringLiteral("Do it in a transaction, report it, and roll it back: nothing changes.")};
    if ((v.flags & Destructive) == Destructive)
        o << OptionDecl{{QStringLiteral("y"), QStringLiteral("yes")},
                        QStringLiteral("Do it without asking (it is asked on a terminal).")};
}

// A parser that takes exactly the options and arguments declared.
void declare(QCommandLineParser& p, const Options& options, const QList<ArgDecl>& arguments) {
    for (const OptionDecl& d : options) {
        QCommandLineOption o(d.names, d.help, d.value);
        if (d.hidden)
            o.setFlags(QCommandLineOption::HiddenFromHelp);
        p.addOption(o);
    }
    for (const ArgDecl& a : arguments)
        p.addPositionalArgument(a.name, a.help);
}

void addOptions(QCommandLineParser& p, const Verb& v) {
    declare(p, declaredOptions(v), declaredArguments(v));
}

// Why a value given for what (an option "--name" or an argument "ITEM") is not of its kind;
// empty when it is.
QString kindProblem(Kind k, const QString& what, const QString& value) {
    int n = 0;
    switch (k) {
    case Kind::Int32:
        if (!parseInt32(value, n))
            return Cli::tr("%1 \"%2\" is not a whole number of 32 bits").arg(what, value);
        break;
    case Kind::Time:
        if (!parseTime(value))
            return Cli::tr("%1 \"%2\" is not a time: yyyy-mm-dd or yyyy-mm-dd hh:mm:ss").arg(what, value);
        break;
    case Kind::Date: {
        // The form only: whether the day is real is the store's rule, which the verb applies.
        static const QRegularExpression form(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
        if (!value.isEmpty() && !form.match(value).hasMatch())
            return Cli::tr("%1 \"%2\" is not a date: yyyy-mm-dd").arg(what, value);
        break;
    }
    case Kind::Flag:
    case Kind::Text:
    case Kind::Secret:
    case Kind::File:
        break;
    }
    return QString();
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
        printOut(verbHelp(v));
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
        checkKinds(p, declaredOptions(v), declaredArguments(v));
        return kOk;
    });
    if (checked != kOk)
        return checked;
    const QStringList pos = p.positionalArguments();
    if (v.takes == Takes::Account)
        return report(v, pos, runOnAccount(v, p));
    // An argument written "NAME..." takes one or more words.
    const bool more = !v.synopsis.isEmpty() && v.synopsis.last().more();
    if (more ? pos.size() < v.synopsis.size() : pos.size() != v.synopsis.size()) {
        QStringList names;
        for (const ArgDecl& a : v.synopsis)
            names << a.name;
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
        for (const ArgDecl& a : v->synopsis)
            names << a.name;
        lines << (QStringLiteral("  ") + name + QLatin1Char(' ') + names.join(QLatin1Char(' ')))
                     .trimmed()
                     .prepend(QStringLiteral("  "));
        lines << QStringLiteral("      ") + v->summary;
    }
    return lines.join(QLatin1Char('\n'));
}

// help, help VERB, help --json, help --man.
int help(const QStringList& words) {
    if (words.isEmpty()) {
        printUsage(true);
        return kOk;
    }
    if (words == QStringList{QStringLiteral("--json")}) {
        printOut(verbsJson());
        return kOk;
    }
    if (words == QStringList{QStringLiteral("--man")}) {
        printOut(verbsRoff());
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

ArgDecl::ArgDecl(const QString& entry, Kind k) : kind(k) {
    const qsizetype colon = entry.indexOf(QStringLiteral(": "));
    name = colon < 0 ? entry : entry.left(colon);
    help = colon < 0 ? commonHelp(name) : entry.mid(colon + 2);
}

Options declaredOptions(const Verb& v) {
    Options o;
    const bool ownFirst = v.takes == Takes::OwnThenStore || v.takes == Takes::Own;
    if (ownFirst && v.options)
        v.options(o);
    addConventionOptions(o, v);
    if (v.takes != Takes::Own)
        addStoreOptions(o, v.takes == Takes::Account);
    if (!ownFirst && v.options)
        v.options(o);
    return o;
}

QList<ArgDecl> declaredArguments(const Verb& v) {
    return v.takes == Takes::Account ? QList<ArgDecl>{QStringLiteral("CONNSTR")} : v.synopsis;
}

QStringList optionNames(const Verb& v) {
    QStringList out;
    for (const OptionDecl& o : declaredOptions(v))
        if (!o.hidden)
            for (const QString& n : o.names)
                out << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
    return out;
}

void checkKinds(const QCommandLineParser& p, const Options& options, const QList<ArgDecl>& arguments) {
    const QStringList pos = p.positionalArguments();
    for (int i = 0; i < arguments.size() && i < pos.size(); ++i) {
        const QString problem = kindProblem(arguments[i].kind, arguments[i].name, pos[i]);
        if (!problem.isEmpty())
            throw Usage(problem);
    }
    for (const OptionDecl& o : options) {
        const QString& name = o.names.last();
        if (o.kind == Kind::Flag || !p.isSet(name))
            continue;
        for (const QString& value : p.values(name)) {
            const QString problem = kindProblem(o.kind, QStringLiteral("--") + name, value);
            if (!problem.isEmpty())
                throw Usage(problem);
        }
    }
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

int runDeclared(const Verb& v, const QStringList& words) {
    return runVerb(v, words);
}

int run(const QStringList& args) {
    const QString first = args.value(0);
    if (first == QLatin1String("--version") || first == QLatin1String("version")) {
        printOut(QStringLiteral("vardex-cli " VARDEX_CLI_VERSION));
        return kOk;
    }
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        printUsage(true);
        return kOk;
    }
    const int rc = dispatch(args);
    // The verb's work is done, but the trace it was asked for is not: not a success.
    return rc == kOk && traceFailed() ? kUsage : rc;
}

void printUsage(bool asked) {
    const QByteArray b = usageText().toUtf8();
    std::fwrite(b.constData(), 1, b.size(), asked ? stdout : stderr);
}

// Shows the program's messages in that language, and the texts it shares with the windows
// (install's, the store's rules) too, unless `libraryChooses`: session runs the library's calls
// as a client program does, and the library then speaks as in any client (VARDEX_LANG, else
// Chinese), whatever the locale. A run in a process that ran verbs before drops the language
// those were given.
void applyLanguage(const QString& code, bool libraryChooses) {
    static QTranslator* chinese = nullptr;
    if (chinese) {
        QCoreApplication::removeTranslator(chinese);
        delete chinese;
        chinese = nullptr;
    }
    if (code == QLatin1String("zh")) {
        auto* translator = new QTranslator();
        if (translator->load(QStringLiteral(":/i18n/vardex-cli_zh.qm")) &&
            QCoreApplication::installTranslator(translator))
            chinese = translator;
        else
            delete translator;
    }
    if (!libraryChooses)
        VardexSetLanguage(code.toLatin1().constData());
}

} // namespace vardex::cli
