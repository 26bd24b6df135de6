// session: a library session opened on a store, and the library calls read from standard input
// run in it, one a line, each result printed.
#include "cli/commands.h"

#include "capi/vardex.h"
#include "library/dmain.h"
#include "library/keyhint.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

// The calls are the C interface's, declared at the top level: the helpers stay out of
// vardex::cli, whose enclosing namespace has C++ functions of the same names.
namespace {

using vardex::cli::Invocation;

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

struct CallEntry {
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

// A password made under the other default cipher key ("KMPQ", the host's key box, against the
// library's "kmpq") answers 3 with nothing to say why: the session says it.
void keyHint(const std::string& userId, const std::string& password) {
    const QString other = vardex::otherDefaultKeyFor(vardex::processSession(), QString::fromStdString(userId),
                                                     QString::fromStdString(password));
    if (!other.isEmpty())
        std::fprintf(stderr,
                     "vardex-cli: 3 under this key; the password was made under key %s? pass --key %s\n",
                     other.toLocal8Bit().constData(), other.toLocal8Bit().constData());
}

std::map<std::string, CallEntry> calls() {
    std::map<std::string, CallEntry> m;
    m["ClearLogs"] = {"s", [](const std::vector<Arg>& a) { return ClearLogs(s(a, 0)); }};
    m["DisconnectDatabase"] = {"", [](const std::vector<Arg>&) { return DisconnectDatabase(); }};
    m["ConnectDatabase"] = {"sssss", [](const std::vector<Arg>& a) {
                                return ConnectDatabase(s(a, 0), s(a, 1), s(a, 2), s(a, 3), s(a, 4));
                            }};
    m["CheckUserLogin"] = {"ssssi", [](const std::vector<Arg>& a) {
                               const int32_t rc = CheckUserLogin(s(a, 0), s(a, 1), s(a, 2), s(a, 3), n(a, 4));
                               if (rc == VARDEX_LOGIN_WRONG_PASSWORD && s(a, 0) && s(a, 1))
                                   keyHint(a[0].text, a[1].text);
                               return rc;
                           }};
    m["CheckUserRight"] = {
        "sisi", [](const std::vector<Arg>& a) { return CheckUserRight(s(a, 0), n(a, 1), s(a, 2), n(a, 3)); }};
    // VardexQueryRights userId item...: the answers are printed on a line of their own, in the
    // order of the items, before the result.
    m["VardexQueryRights"] = {"s*", [](const std::vector<Arg>& a) {
                                  std::vector<int32_t> ids, answers(a.size() - 1, -1);
                                  for (size_t i = 1; i < a.size(); ++i)
                                      ids.push_back(n(a, i));
                                  const int32_t rc = VardexQueryRights(
                                      s(a, 0), ids.data(), static_cast<int32_t>(ids.size()), answers.data());
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

// Whether a call's arguments are as many as its types say and the integers whole numbers of 32
// bits; when not, says so.
bool argumentsFit(const std::string& call, std::string types, const std::vector<Arg>& args) {
    const bool more = !types.empty() && types.back() == '*';
    if (more) {
        types.pop_back();
        if (args.size() > types.size())
            types.append(args.size() - types.size(), 'i');
    }
    if (args.size() != types.size()) {
        std::printf("error: %s takes %zu%s argument(s)\n", call.c_str(), types.size(),
                    more ? " or more" : "");
        return false;
    }
    int unused = 0;
    for (size_t i = 0; i < types.size(); ++i)
        if (types[i] == 'i' && !vardex::cli::parseInt32(QString::fromStdString(args[i].text), unused)) {
            std::printf("error: %s: a whole number of 32 bits was expected\n", call.c_str());
            return false;
        }
    return true;
}

enum class LineDone { Nothing, Failed, Ran, Disconnected };

// Runs the call on one line and prints its result or what was wrong.
LineDone runLine(const std::map<std::string, CallEntry>& table, const std::string& line) {
    if (line.find('\0') != std::string::npos) {
        // A C string would end at the NUL: the call would see another text than the line's.
        std::printf("error: the line holds a NUL byte\n");
        std::fflush(stdout);
        return LineDone::Failed;
    }
    std::vector<Arg> words;
    std::string error;
    if (!splitLine(line, words, error)) {
        std::printf("error: %s\n", error.c_str());
        return LineDone::Failed;
    }
    if (words.empty() || words[0].text[0] == '#')
        return LineDone::Nothing;
    const auto it = table.find(words[0].text);
    if (it == table.end()) {
        std::printf("error: unknown call %s\n", words[0].text.c_str());
        return LineDone::Failed;
    }
    const std::vector<Arg> args(words.begin() + 1, words.end());
    if (!argumentsFit(words[0].text, it->second.types, args))
        return LineDone::Failed;
    const int32_t result = it->second.run(args);
    if (result == VARDEX_ERROR)
        std::printf("error: %s\n", VardexLastError());
    else
        std::printf("%d\n", result);
    std::fflush(stdout);
    if (words[0].text == "DisconnectDatabase" && result == VARDEX_OK)
        return LineDone::Disconnected;
    return result == VARDEX_ERROR ? LineDone::Failed : LineDone::Ran;
}

int runSession(const Invocation& o) {
    const QByteArray cs = o.connectionString.toLocal8Bit();
    const QByteArray u = o.user.toLocal8Bit(), p = o.password.toLocal8Bit(),
                     d = o.options.value(QStringLiteral("work-date")).toLocal8Bit(),
                     k = o.options.value(QStringLiteral("key")).toLocal8Bit();
    const int32_t rc =
        ConnectDatabase(cs.constData(), u.constData(), p.constData(), d.constData(), k.constData());
    if (rc != VARDEX_OK) {
        // Both a failed connection (1) and a refused call (VARDEX_ERROR) leave their reason.
        const char* reason = VardexLastError();
        std::fprintf(stderr, "vardex-cli: ConnectDatabase returned %d%s%s\n", rc, *reason ? ": " : "",
                     reason);
        return 2;
    }
    const auto table = calls();
    int failures = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        const LineDone done = runLine(table, line);
        if (done == LineDone::Failed)
            ++failures;
        if (done == LineDone::Disconnected)
            return failures ? 1 : 0;
    }
    if (DisconnectDatabase() != VARDEX_OK) {
        std::fprintf(stderr, "vardex-cli: DisconnectDatabase: %s\n", VardexLastError());
        return 1;
    }
    return failures ? 1 : 0;
}

void options(vardex::cli::Options& p) {
    p << vardex::cli::OptionDecl{{QStringLiteral("work-date")},
                                 QStringLiteral("Working date of the session."),
                                 QStringLiteral("D"),
                                 vardex::cli::Kind::Date};
}

} // namespace

namespace vardex::cli {

CommandGroup sessionCommands() {
    return {QStringLiteral("session CONNSTR"),
            true,
            {
                {QStringLiteral("session"),
                 {QStringLiteral("CONNSTR")},
                 QStringLiteral(
                     "Opens a session and runs the library calls read from standard input, one a line: "
                     "a call's name, then its arguments, \"quoted\" text or a bare word (NULL: a null "
                     "pointer); prints each result."),
                 Takes::Account,
                 options,
                 runSession},
            }};
}

} // namespace vardex::cli
