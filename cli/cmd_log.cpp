// log: the audit log of a store, oldest first, as a table.
#include "cli/commands.h"
#include "cli/store.h"

namespace vardex::cli {

namespace {

void options(QCommandLineParser& p) {
    addFormatOptions(p);
    p.addOption(
        {QStringLiteral("user"), QStringLiteral("Only rows of this user name."), QStringLiteral("U")});
    p.addOption({QStringLiteral("since"),
                 QStringLiteral("Only rows at or after this time (yyyy-mm-dd[ hh:mm:ss])."),
                 QStringLiteral("T")});
    p.addOption(
        {QStringLiteral("until"), QStringLiteral("Only rows at or before this time."), QStringLiteral("T")});
    p.addOption(
        {QStringLiteral("text"), QStringLiteral("Only rows whose text contains S."), QStringLiteral("S")});
}

int log(const Invocation& in) {
    const QCommandLineParser& p = in.options;
    const Format f = formatFrom(p);
    QStringList where;
    if (p.isSet(QStringLiteral("user")))
        where << QStringLiteral("userName = ") + schema::sqlLiteral(p.value(QStringLiteral("user")));
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

} // namespace

CommandGroup logCommands() {
    return {QStringLiteral("log [--user U] [--since T] [--until T] [--text S] [--json|--csv]"),
            false,
            {
                {QStringLiteral("log"),
                 {},
                 QStringLiteral("Prints the audit log, oldest first."),
                 Takes::OwnThenStore,
                 options,
                 log},
            }};
}

} // namespace vardex::cli
