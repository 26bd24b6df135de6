// vardex-cli: the library and the administration of a store from a shell (see vardex-cli(1)).
#include "cli/cli.h"
#include "library/doctor.h"
#include "library/installer.h"
#include "capi/vardex.h"
#include "platform/msgbox_qt.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Options {
    QString command;
    QString connectionString;
    QString user, password, workDate, key;
    bool repair = false;
};

void usage() {
    std::fprintf(stderr,
                 "usage: vardex-cli VERB [ARGS] [--store CONNSTR]   (vardex-cli VERB --help for each)\n"
                 "  install CONNSTR | session CONNSTR | doctor CONNSTR [--repair]\n"
                 "  user add|edit|delete|enable|disable|passwd|move ID ...\n"
                 "  usergroup add|delete NAME\n"
                 "  permgroup add|delete NAME | assign|unassign NAME USER | set NAME ITEM on|off\n"
                 "  item add|rename ITEM NAME | renumber ITEM NEW | delete ITEM\n"
                 "  grant|revoke USER ITEM\n"
                 "  list users|usergroups|permgroups|items|grants [--user U] [--json|--csv]\n"
                 "  log [--user U] [--since T] [--until T] [--text S] [--json|--csv]\n"
                 "  export FILE | import FILE | copy SRC DST\n"
                 "CONNSTR e.g. \"Provider=SQLite;Data Source=store.db\", or set VARDEX_STORE.\n"
                 "Exit codes: 0 done, 1 refused or failed (nothing changed), 2 bad arguments or no store.\n");
}

// install, session and doctor: the connection string first, then the options.
std::optional<Options> parseArgs(const QStringList& args) {
    QCommandLineParser p;
    p.addHelpOption();
    vardex::cli::addStoreOptions(p, true);
    p.addPositionalArgument(QStringLiteral("CONNSTR"), QStringLiteral("Connection string of the store."));
    Options o;
    o.command = args.value(0);
    if (o.command == QLatin1String("session")) {
        p.setApplicationDescription(QStringLiteral(
            "Opens a session and runs the library calls read from standard input, one a line: a call's name, "
            "then "
            "its arguments, \"quoted\" text or a bare word (NULL: a null pointer); prints each result."));
        p.addOption({QStringLiteral("work-date"), QStringLiteral("Working date of the session."),
                     QStringLiteral("D")});
    } else if (o.command == QLatin1String("doctor")) {
        p.setApplicationDescription(QStringLiteral("Checks that the store's tables agree with each other."));
        p.addOption({QStringLiteral("repair"), QStringLiteral("Mend what is found, in one transaction.")});
    } else {
        p.setApplicationDescription(
            QStringLiteral("Creates the tables and procedures of a store in an empty database."));
    }
    if (!p.parse(QStringList{QStringLiteral("vardex-cli ") + o.command} + args.mid(1))) {
        vardex::cli::printErr(p.errorText());
        return std::nullopt;
    }
    if (p.isSet(QStringLiteral("help"))) {
        vardex::cli::printOut(vardex::cli::helpText(p, o.command));
        std::exit(0);
    }
    const QStringList pos = p.positionalArguments();
    if (pos.size() > 1) {
        vardex::cli::printErr(QStringLiteral("unexpected argument %1").arg(pos[1]));
        return std::nullopt;
    }
    try {
        o.connectionString = vardex::cli::storeFrom(p, pos.value(0));
        o.user = p.value(QStringLiteral("db-user"));
        o.password = vardex::cli::databasePassword(p, true);
    } catch (const vardex::cli::Usage& u) {
        vardex::cli::printErr(u.text);
        return std::nullopt;
    }
    if (o.command == QLatin1String("session"))
        o.workDate = p.value(QStringLiteral("work-date"));
    o.key = p.value(QStringLiteral("key"));
    o.repair = o.command == QLatin1String("doctor") && p.isSet(QStringLiteral("repair"));
    return o;
}

int install(const Options& o) {
    vardex::AdoConnection cn;
    cn.setConnectionString(o.connectionString);
    try {
        cn.openOrCreate(o.user, o.password);
    } catch (const vardex::Error& e) {
        std::fprintf(stderr, "vardex-cli: cannot connect: %s\n", e.message().toLocal8Bit().constData());
        return 2;
    }
    QTemporaryDir tmp;
    vardex::InstallOutcome r;
    try {
        r = vardex::runInstallScript(cn, tmp.path() + QStringLiteral("/Morlan.tmp"));
    } catch (const vardex::Error& e) {
        std::fprintf(stderr, "vardex-cli: the stored script cannot be read: %s\n",
                     e.message().toLocal8Bit().constData());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vardex-cli: the stored script cannot be read: %s\n", e.what());
        return 1;
    }
    if (r.fileError) {
        std::fprintf(stderr, "vardex-cli: %s\n", r.error.toLocal8Bit().constData());
        return 1;
    }
    if (!r.ok) {
        std::fprintf(stderr, "出错: %s\n", vardex::installFailureText().toLocal8Bit().constData());
        std::fprintf(stderr, "batch %d: %s\n", r.failedBatch, r.error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("导入数据表: %s\n", vardex::installSuccessText().toLocal8Bit().constData());
    std::printf("%d batches\n", r.batchesRun);
    return 0;
}

int doctor(const Options& o) {
    vardex::AdoConnection cn;
    cn.setConnectionString(o.connectionString);
    try {
        cn.open(o.user, o.password);
        const vardex::DoctorReport report = o.repair ? vardex::repairStore(cn) : vardex::checkStore(cn);
        for (const vardex::Violation& v : report.violations)
            std::printf("%s\n", v.describe().toLocal8Bit().constData());
        std::printf("%d rights-holding rows, %d items, %d permission groups: %lld violation(s)%s\n",
                    report.rightsHolders, report.items, report.groups,
                    static_cast<long long>(report.violations.size()),
                    o.repair && !report.clean() ? ", repaired" : "");
        if (o.repair && !report.clean()) {
            const vardex::DoctorReport after = vardex::checkStore(cn);
            if (!after.clean()) {
                std::fprintf(stderr, "vardex-cli: %lld violation(s) remain after the repair\n",
                             static_cast<long long>(after.violations.size()));
                return 1;
            }
            return 0;
        }
        return report.clean() ? 0 : 1;
    } catch (const vardex::Error& e) {
        std::fprintf(stderr, "vardex-cli: %s\n", e.message().toLocal8Bit().constData());
        return 2;
    }
}

// Splits a call line into words: "double quoted" (with \" and \\), or bare; a bare NULL is a
// null pointer.
struct Arg {
    std::string text;
    bool null = false;
};

bool splitLine(const std::string& line, std::vector<Arg>& out, std::string& error) {
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        if (i >= line.size())
            break;
        Arg a;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char c = line[i++];
                if (c == '\\' && i < line.size()) {
                    char n = line[i++];
                    a.text += n == 'n' ? '\n' : n == 't' ? '\t' : n;
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    a.text += c;
                }
            }
            if (!closed) {
                error = "unterminated quoted text";
                return false;
            }
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                a.text += line[i++];
            a.null = a.text == "NULL";
        }
        out.push_back(a);
    }
    return true;
}

struct CallSpec {
    std::string types; // 's' text, 'i' integer; a last '*': any number of integers follow
    std::function<int32_t(const std::vector<Arg>&)> run;
};

const char* s(const std::vector<Arg>& a, size_t i) {
    return a[i].null ? nullptr : a[i].text.c_str();
}
// Integer arguments have been checked to fit in 32 bits before the call runs.
int32_t n(const std::vector<Arg>& a, size_t i) {
    return static_cast<int32_t>(std::strtoll(a[i].text.c_str(), nullptr, 10));
}

std::map<std::string, CallSpec> calls() {
    std::map<std::string, CallSpec> m;
    m["ClearLogs"] = {"s", [](const std::vector<Arg>& a) { return ClearLogs(s(a, 0)); }};
    m["DisconnectDatabase"] = {"", [](const std::vector<Arg>&) { return DisconnectDatabase(); }};
    m["ConnectDatabase"] = {"sssss", [](const std::vector<Arg>& a) {
                                return ConnectDatabase(s(a, 0), s(a, 1), s(a, 2), s(a, 3), s(a, 4));
                            }};
    m["CheckUserLogin"] = {"ssssi", [](const std::vector<Arg>& a) {
                               return CheckUserLogin(s(a, 0), s(a, 1), s(a, 2), s(a, 3), n(a, 4));
                           }};
    m["CheckUserRight"] = {
        "sisi", [](const std::vector<Arg>& a) { return CheckUserRight(s(a, 0), n(a, 1), s(a, 2), n(a, 3)); }};
    // VardexQueryRights userId item...: the answers are printed on a line of their own, in the
    // order of the items, before the result.
    m["VardexQueryRights"] = {"s*", [](const std::vector<Arg>& a) {
                                  std::vector<int32_t> ids, answers(a.size() - 1, -1);
                                  for (size_t i = 1; i < a.size(); ++i)
                                      ids.push_back(n(a, i));
                                  const int32_t rc = VardexQueryRights(s(a, 0), ids.data(),
                                                                       static_cast<int32_t>(ids.size()), answers.data());
                                  if (rc != VARDEX_ERROR) {
                                      std::string out = "# answers";
                                      for (int32_t v : answers)
                                          out += ' ' + std::to_string(v);
                                      std::printf("%s\n", out.c_str());
                                  }
                                  return rc;
                              }};
    m["ChangeUserPassword"] = {"ssss", [](const std::vector<Arg>& a) {
                                   return ChangeUserPassword(s(a, 0), s(a, 1), s(a, 2), s(a, 3));
                               }};
    m["ShowAbout"] = {"", [](const std::vector<Arg>&) { return ShowAbout(); }};
    // The standard windows need a display; without one they answer with an error.
    // ShowLoginDialog caption workDate count shift maxShift: the outputs are printed on a line
    // of their own, before the result.
    m["ShowLoginDialog"] = {"ssiii", [](const std::vector<Arg>& a) {
                                char buffer[21] = {};
                                char* ref = buffer;
                                int32_t count = n(a, 2);
                                int32_t shift = n(a, 3);
                                const int32_t rc =
                                    ShowLoginDialog(s(a, 0), s(a, 1), &ref, &count, &shift, n(a, 4));
                                if (rc != VARDEX_ERROR)
                                    std::printf("# userId \"%s\" count %d shift %d\n", buffer, count, shift);
                                return rc;
                            }};
    m["ShowChangePasswordDialog"] = {
        "ss", [](const std::vector<Arg>& a) { return ShowChangePasswordDialog(s(a, 0), s(a, 1)); }};
    m["EditRightList"] = {"i", [](const std::vector<Arg>& a) { return EditRightList(n(a, 0)); }};
    return m;
}

int session(const Options& o) {
    const QByteArray cs = o.connectionString.toLocal8Bit();
    const QByteArray u = o.user.toLocal8Bit(), p = o.password.toLocal8Bit(), d = o.workDate.toLocal8Bit(),
                     k = o.key.toLocal8Bit();
    const int32_t rc =
        ConnectDatabase(cs.constData(), u.constData(), p.constData(), d.constData(), k.constData());
    if (rc != 0) {
        std::fprintf(stderr, "vardex-cli: ConnectDatabase returned %d%s%s\n", rc, rc < 0 ? ": " : "",
                     rc < 0 ? VardexLastError() : "");
        return 2;
    }
    const auto table = calls();
    int failures = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.find('\0') != std::string::npos) {
            // A C string would end at the NUL: the call would see another text than the line's.
            std::printf("error: the line holds a NUL byte\n");
            std::fflush(stdout);
            ++failures;
            continue;
        }
        std::vector<Arg> words;
        std::string error;
        if (!splitLine(line, words, error)) {
            std::printf("error: %s\n", error.c_str());
            ++failures;
            continue;
        }
        if (words.empty() || words[0].text[0] == '#')
            continue;
        const auto it = table.find(words[0].text);
        if (it == table.end()) {
            std::printf("error: unknown call %s\n", words[0].text.c_str());
            ++failures;
            continue;
        }
        std::vector<Arg> args(words.begin() + 1, words.end());
        std::string types = it->second.types;
        const bool more = !types.empty() && types.back() == '*';
        if (more) {
            types.pop_back();
            if (args.size() > types.size())
                types.append(args.size() - types.size(), 'i');
        }
        if (args.size() != types.size()) {
            std::printf("error: %s takes %zu%s argument(s)\n", words[0].text.c_str(), types.size(),
                        more ? " or more" : "");
            ++failures;
            continue;
        }
        bool typesOk = true;
        int unused = 0;
        for (size_t i = 0; i < types.size(); ++i)
            if (types[i] == 'i' && !vardex::cli::parseInt32(QString::fromStdString(args[i].text), unused))
                typesOk = false;
        if (!typesOk) {
            std::printf("error: %s: a whole number of 32 bits was expected\n", words[0].text.c_str());
            ++failures;
            continue;
        }
        const int32_t result = it->second.run(args);
        if (result == VARDEX_ERROR) {
            std::printf("error: %s\n", VardexLastError());
            ++failures;
        } else {
            std::printf("%d\n", result);
        }
        std::fflush(stdout);
        if (words[0].text == "DisconnectDatabase" && result == 0)
            return failures ? 1 : 0;
    }
    if (DisconnectDatabase() != 0) {
        std::fprintf(stderr, "vardex-cli: DisconnectDatabase: %s\n", VardexLastError());
        return 1;
    }
    return failures ? 1 : 0;
}

// The verbs of vardex-cli's own, on a store; 2 (with the usage) for a word that is none.
int runStoreVerb(const QString& verb, const QStringList& args) {
    if (vardex::cli::isAdminVerb(verb))
        return vardex::cli::runAdminVerb(args);
    if (verb == QLatin1String("list"))
        return vardex::cli::runList(args);
    if (verb == QLatin1String("log"))
        return vardex::cli::runLog(args);
    if (verb == QLatin1String("export"))
        return vardex::cli::runExport(args);
    if (verb == QLatin1String("import"))
        return vardex::cli::runImport(args);
    if (verb == QLatin1String("copy"))
        return vardex::cli::runCopy(args);
    usage();
    return 2;
}

} // namespace

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
        usage();
        return 0;
    }
    if (verb == QLatin1String("install") || verb == QLatin1String("session") ||
        verb == QLatin1String("doctor")) {
        const auto o = parseArgs(args);
        if (!o) {
            usage();
            return 2;
        }
        if (o->command == QLatin1String("install"))
            return install(*o);
        if (o->command == QLatin1String("session"))
            return session(*o);
        return doctor(*o);
    }
    const int rc = runStoreVerb(verb, args);
    // The verb's work is done, but the trace it was asked for is not: not a success.
    return rc == 0 && vardex::cli::traceFailed() ? 2 : rc;
}
