// vardex-cli: the library from a shell.
//   vardex-cli install CONNSTR [--user U --password P]
//   vardex-cli session CONNSTR [--user U --password P --work-date D --key K]
//   vardex-cli doctor  CONNSTR [--repair] [--user U --password P]
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
                 "usage:\n"
                 "  vardex-cli install CONNSTR [--user U --password P]\n"
                 "  vardex-cli session CONNSTR [--user U --password P --work-date D --key K]\n"
                 "  vardex-cli doctor  CONNSTR [--repair] [--user U --password P]\n"
                 "CONNSTR e.g. \"Provider=SQLite;Data Source=store.db\"\n");
}

std::optional<Options> parseArgs(int argc, char** argv) {
    if (argc < 3)
        return std::nullopt;
    Options o;
    o.command = QString::fromLocal8Bit(argv[1]);
    o.connectionString = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](QString& target) {
            if (i + 1 >= argc)
                return false;
            target = QString::fromLocal8Bit(argv[++i]);
            return true;
        };
        bool ok = true;
        if (a == "--user")
            ok = value(o.user);
        else if (a == "--password")
            ok = value(o.password);
        else if (a == "--work-date")
            ok = value(o.workDate);
        else if (a == "--key")
            ok = value(o.key);
        else if (a == "--repair")
            o.repair = true;
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "vardex-cli: unknown or incomplete option %s\n", a.c_str());
            return std::nullopt;
        }
    }
    return o;
}

int install(const Options& o) {
    vardex::AdoConnection cn;
    cn.setConnectionString(o.connectionString);
    try {
        cn.open(o.user, o.password);
    } catch (const vardex::Error& e) {
        std::fprintf(stderr, "vardex-cli: cannot connect: %s\n", e.message().toLocal8Bit().constData());
        return 2;
    }
    QTemporaryDir tmp;
    const vardex::InstallOutcome r = vardex::runInstallScript(cn, tmp.path() + QStringLiteral("/Morlan.tmp"));
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
    std::string types; // 's' text, 'i' integer
    std::function<int32_t(const std::vector<Arg>&)> run;
};

const char* s(const std::vector<Arg>& a, size_t i) { return a[i].null ? nullptr : a[i].text.c_str(); }
int32_t n(const std::vector<Arg>& a, size_t i) { return static_cast<int32_t>(std::strtol(a[i].text.c_str(), nullptr, 10)); }

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
    m["CheckUserRight"] = {"sisi", [](const std::vector<Arg>& a) {
                               return CheckUserRight(s(a, 0), n(a, 1), s(a, 2), n(a, 3));
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
                                const int32_t rc = ShowLoginDialog(s(a, 0), s(a, 1), &ref, &count, &shift, n(a, 4));
                                if (rc != VARDEX_ERROR)
                                    std::printf("# userId \"%s\" count %d shift %d\n", buffer, count, shift);
                                return rc;
                            }};
    m["ShowChangePasswordDialog"] = {"ss", [](const std::vector<Arg>& a) {
                                         return ShowChangePasswordDialog(s(a, 0), s(a, 1));
                                     }};
    m["EditRightList"] = {"i", [](const std::vector<Arg>& a) { return EditRightList(n(a, 0)); }};
    return m;
}

bool isInteger(const std::string& t) {
    if (t.empty())
        return false;
    size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i >= t.size())
        return false;
    for (; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9')
            return false;
    return true;
}

int session(const Options& o) {
    const QByteArray cs = o.connectionString.toLocal8Bit();
    const QByteArray u = o.user.toLocal8Bit(), p = o.password.toLocal8Bit(), d = o.workDate.toLocal8Bit(),
                     k = o.key.toLocal8Bit();
    const int32_t rc = ConnectDatabase(cs.constData(), u.constData(), p.constData(), d.constData(), k.constData());
    if (rc != 0) {
        std::fprintf(stderr, "vardex-cli: ConnectDatabase returned %d%s%s\n", rc, rc < 0 ? ": " : "",
                     rc < 0 ? VardexLastError() : "");
        return 2;
    }
    const auto table = calls();
    int failures = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
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
        const std::string& types = it->second.types;
        if (args.size() != types.size()) {
            std::printf("error: %s takes %zu argument(s)\n", words[0].text.c_str(), types.size());
            ++failures;
            continue;
        }
        bool typesOk = true;
        for (size_t i = 0; i < types.size(); ++i)
            if (types[i] == 'i' && !isInteger(args[i].text))
                typesOk = false;
        if (!typesOk) {
            std::printf("error: %s: a number was expected\n", words[0].text.c_str());
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

} // namespace

int main(int argc, char** argv) {
    // The library makes the application object: a QApplication when a display is there (the
    // dialogs need one), otherwise a plain core application.
    vardex::gui::ensureApplication();
    const auto o = parseArgs(argc, argv);
    if (!o) {
        usage();
        return 2;
    }
    if (o->command == QLatin1String("install"))
        return install(*o);
    if (o->command == QLatin1String("session"))
        return session(*o);
    if (o->command == QLatin1String("doctor"))
        return doctor(*o);
    usage();
    return 2;
}
