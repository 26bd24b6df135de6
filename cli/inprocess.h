#pragma once
// vardex-cli's verbs run inside the calling process, as the program would run them: the words,
// standard input and environment given, the exit code and both output streams answered. For
// tests and tools that would otherwise start a process per verb.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

namespace vardex::cli {

struct CliRun {
    int exitCode = -1;
    QString out, err;
};

// Runs args as `vardex-cli args...` with input as its standard input (a file, not a terminal)
// and env set (unset removed) for the run only; the process's standard streams are redirected
// meanwhile, so what the library itself writes is caught too. The library session a verb leaves
// open is closed. Needs an application object; not for verbs that must see a terminal.
CliRun runInProcess(const QStringList& args, const QByteArray& input = {},
                    const QMap<QString, QString>& env = {}, const QStringList& unset = {});
// The same around body, which answers the exit code: for a verb that is in no table.
CliRun runInProcess(const std::function<int()>& body, const QByteArray& input = {},
                    const QMap<QString, QString>& env = {}, const QStringList& unset = {},
                    bool libraryChoosesLanguage = false);

} // namespace vardex::cli
