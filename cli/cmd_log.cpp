// log: the audit log of a store, oldest first, as a table; log clear: its rows before a time
// deleted, as the library's ClearLogs deletes them.
#include "cli/commands.h"
#include "cli/store.h"

#include "library/dmain.h"

namespace vardex::cli {

namespace {

void options(Options& p) {
    addFormatOptions(p);
    p << OptionDecl{{QStringLiteral("user")},
                    QStringLiteral("Only rows of the user with this ID (by the name its rows carry)."),
                    QStringLiteral("ID"),
                    Kind::Text};
    p << OptionDecl{{QStringLiteral("name")},
                    QStringLiteral("Only rows carrying this user name."),
                    QStringLiteral("NAME"),
                    Kind::Text};
    p << OptionDecl{{QStringLiteral("since")},
                    QStringLiteral("Only rows at or after this time (yyyy-mm-dd[ hh:mm:ss])."),
                    QStringLiteral("T"),
                    Kind::Time};
    p << OptionDecl{{QStringLiteral("until")},
                    QStringLiteral("Only rows at or before this time."),
                    QStringLiteral("T"),
                    Kind::Time};
    p << OptionDecl{{QStringLiteral("text")},
                    QStringLiteral("Only rows whose text contains S."),
                    QStringLiteral("S"),
                    Kind::Text};
}

int log(const Invocation& in) {
    const QCommandLineParser& p = in.options;
    const Format f = formatFrom(p);
    QStringList where;
    if (p.isSet(QStringLiteral("name")))
        where << QStringLiteral("userName = ") + schema::sqlLiteral(p.value(QStringLiteral("name")));
    // Times are kept as text of one fixed form, so they compare as text; an end day given
    // without a time takes the whole day.
    if (p.isSet(QStringLiteral("since")))
        where << QStringLiteral("theTime >= ") + schema::sqlLiteral(p.value(QStringLiteral("since")));
    if (p.isSet(QStringLiteral("until"))) {
        QString until = p.value(QStringLiteral("until"));
        if (until.size() == 10)
            until += QStringLiteral(" 99:99:99");
        where << QStringLiteral("theTime <= ") + schema::sqlLiteral(until);
    }
    StoreSession s(p);
    if (p.isSet(QStringLiteral("user"))) {
        // The rows carry the name the user logged in under: the user's display name.
        const QVector<UserRow> users = loadUsers(s.cn());
        const UserRow* u = findUser(users, p.value(QStringLiteral("user")));
        if (!u)
            throw Refused(Cli::tr("no user %1 (--name finds rows by the name they carry)")
                              .arg(p.value(QStringLiteral("user"))));
        where << QStringLiteral("userName = ") + schema::sqlLiteral(u->userName);
    }
    QString sql = QStringLiteral("select CompName, userName, theTime, theLog from qx_Logs");
    if (!where.isEmpty())
        sql += QStringLiteral(" where ") + where.join(QStringLiteral(" and "));
    sql += QStringLiteral(" order by theTime");
    Table t;
    t.columns = {QStringLiteral("computer"), QStringLiteral("user"), QStringLiteral("time"),
                 QStringLiteral("text")};
    const QString contains = p.value(QStringLiteral("text"));
    for (const auto& r : selectRows(s.cn(), sql)) {
        if (!contains.isEmpty() && !r.value(3).toString().contains(contains))
            continue;
        t.rows.append(
            {textCell(r.value(0)), textCell(r.value(1)), textCell(r.value(2)), textCell(r.value(3))});
    }
    printOut(render(t, f));
    return kOk;
}

void clearOptions(Options& p) {
    p << OptionDecl{{QStringLiteral("before")},
                    QStringLiteral("Delete the rows whose time is at or before T (yyyy-mm-dd[ hh:mm:ss]), as "
                                   "ClearLogs does."),
                    QStringLiteral("T"),
                    Kind::Time};
}

void clear(StoreSession& s, const QCommandLineParser& p, const QStringList&) {
    if (!p.isSet(QStringLiteral("before")))
        throw Usage(Cli::tr("log clear needs --before T"));
    const QString before = p.value(QStringLiteral("before"));
    s.transaction([&] {
        const auto n = selectRows(s.cn(), QStringLiteral("select count(*) from qx_Logs where theTime <= ") +
                                              schema::sqlLiteral(before));
        notice(
            Cli::tr("%1 audit row(s) at or before %2 go").arg(n.value(0).value(0).toLongLong()).arg(before));
        vardex::ClearLogs(before);
    });
}

} // namespace

CommandGroup logCommands() {
    return {
        QStringLiteral("log [--user ID] [--name NAME] [--since T] [--until T] [--text S] [--json|--csv] | "
                       "log clear --before T"),
        false,
        {
            {QStringLiteral("log"),
             {},
             QStringLiteral("Prints the audit log, oldest first."),
             Takes::OwnThenStore,
             options,
             log,
             GivesJson},
            {QStringLiteral("log clear"),
             {},
             QStringLiteral("Deletes the audit rows at or before a time."),
             Takes::Store,
             clearOptions,
             onStore(clear),
             Destructive},
        }};
}

} // namespace vardex::cli
