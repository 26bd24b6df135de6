#include "cli/inprocess.h"

#include "cli/commands.h"
#include "library/dmain.h"

#include <cstdio>
#include <iostream>
#include <stdio_ext.h>
#include <unistd.h>

namespace vardex::cli {

namespace {

// One of the process's standard streams pointed at a file of its own for as long as it lives.
class Redirected {
  public:
    Redirected(int fd, FILE* stream, const QByteArray& content = {})
        : m_fd(fd), m_stream(stream), m_file(std::tmpfile()) {
        std::fflush(m_stream);
        if (fd == STDIN_FILENO)
            __fpurge(m_stream);
        if (m_file && !content.isEmpty()) {
            std::fwrite(content.constData(), 1, content.size(), m_file);
            std::fflush(m_file);
            std::rewind(m_file);
        }
        m_saved = ::dup(fd);
        if (m_file)
            ::dup2(::fileno(m_file), fd);
        forgetEnd();
    }
    ~Redirected() {
        std::fflush(m_stream);
        if (m_fd == STDIN_FILENO)
            __fpurge(m_stream);
        if (m_saved >= 0) {
            ::dup2(m_saved, m_fd);
            ::close(m_saved);
        }
        forgetEnd();
        if (m_file)
            std::fclose(m_file);
    }
    Redirected(const Redirected&) = delete;
    Redirected& operator=(const Redirected&) = delete;
    // What was written to the stream so far.
    QString written() {
        std::fflush(m_stream);
        QByteArray out;
        if (!m_file)
            return QString();
        std::rewind(m_file);
        char buffer[65536];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
            out.append(buffer, static_cast<qsizetype>(n));
        return QString::fromUtf8(out);
    }

  private:
    // The end of input a run reached is not the next run's: neither the stream's nor the C++
    // stream's over it (session reads std::cin).
    void forgetEnd() {
        std::clearerr(m_stream);
        if (m_fd == STDIN_FILENO)
            std::cin.clear();
    }
    int m_fd;
    FILE* m_stream;
    FILE* m_file;
    int m_saved = -1;
};

// The environment as given for one run, put back as it was when it ends.
class Environment {
  public:
    Environment(const QMap<QString, QString>& set, const QStringList& unset) {
        for (auto it = set.begin(); it != set.end(); ++it)
            change(it.key(), it.value().toLocal8Bit(), true);
        for (const QString& name : unset)
            change(name, QByteArray(), false);
    }
    ~Environment() {
        for (auto it = m_before.rbegin(); it != m_before.rend(); ++it) {
            if (it->wasSet)
                qputenv(it->name.constData(), it->value);
            else
                qunsetenv(it->name.constData());
        }
    }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

  private:
    struct Before {
        QByteArray name, value;
        bool wasSet;
    };
    void change(const QString& name, const QByteArray& value, bool set) {
        const QByteArray n = name.toLocal8Bit();
        m_before.push_back({n, qgetenv(n.constData()), qEnvironmentVariableIsSet(n.constData())});
        if (set)
            qputenv(n.constData(), value);
        else
            qunsetenv(n.constData());
    }
    std::vector<Before> m_before;
};

} // namespace

CliRun runInProcess(const QStringList& args, const QByteArray& input, const QMap<QString, QString>& env,
                    const QStringList& unset) {
    return runInProcess([&] { return run(args); }, input, env, unset,
                        args.value(0) == QLatin1String("session"));
}

CliRun runInProcess(const std::function<int()>& body, const QByteArray& input,
                    const QMap<QString, QString>& env, const QStringList& unset,
                    bool libraryChoosesLanguage) {
    const Environment environment(env, unset);
    resetRunState();
    CliRun result;
    {
        Redirected in(STDIN_FILENO, stdin, input);
        Redirected out(STDOUT_FILENO, stdout);
        Redirected err(STDERR_FILENO, stderr);
        applyLanguage(chooseLanguage(), libraryChoosesLanguage);
        result.exitCode = body();
        // A verb that failed half-way may leave the library's session open: the next run starts
        // without one, as a new process would.
        try {
            if (hasDataModule())
                vardex::DisconnectDatabase();
        } catch (...) {
        }
        result.out = out.written();
        result.err = err.written();
    }
    resetRunState();
    return result;
}

} // namespace vardex::cli
