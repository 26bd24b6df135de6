#include "library/securestore.h"

#include "library/dmain.h"
#include "platform/errors.h"
#include "platform/sqldialect.h"

#include <QVector>

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

namespace vardex::securestore {

namespace {

const char* const kScript =
#include "library/securestore_sql.inc"
    ;

// The functions a desktop may run, with their argument types, and the helpers only they run.
const char* const kDesktopFunctions[] = {
    "vardex_login_attempt(text, text, text, text, text, boolean)",
    "vardex_change_password_attempt(text, text, text, text, text, text)",
    "vardex_answer(text)",
    "vardex_check_right(text, integer, text, text)",
    "vardex_query_rights(text, integer[])",
    "vardex_logout(text, text)",
};
const char* const kHelperFunctions[] = {
    "vardex_sec_setting(text, integer, integer, integer)",
    "vardex_sec_required(text, text[])",
    "vardex_sec_log(text, text, text)",
    "vardex_sec_matches(text, text)",
    "vardex_sec_verify(text, text, text)",
    "vardex_sec_deciding(text)",
    "vardex_sec_ticket(text, integer, text, text, text, text, text, text, boolean, text)",
};

// A stored password that is a bcrypt hash; anything else that is not empty is cipher text.
const char* const kHashPattern = "'^\\$2[aby]\\$(1[0-5]|0[4-9])\\$[./A-Za-z0-9]{53}$'";

QVector<QVector<QVariant>> rows(AdoConnection& cn, const QString& sql) {
    return cn.run(sql, true).rows;
}

QVariant single(AdoConnection& cn, const QString& sql) {
    const auto r = rows(cn, sql);
    return r.isEmpty() || r.first().isEmpty() ? QVariant() : r.first().first();
}

bool truth(const QVariant& v) {
    const QString t = v.toString().toLower();
    return t == QLatin1String("true") || t == QLatin1String("t") || t == QLatin1String("1");
}

QString ident(const QString& name) {
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QString boolText(bool b) {
    return b ? QStringLiteral("true") : QStringLiteral("false");
}

// One call of a store's function, every value a bound parameter.
QVector<QVector<QVariant>> call(AdoConnection& cn, const QString& sql, const QStringList& values,
                                bool ownTransaction = false) {
    return cn.runWithParameters(sql, values, ownTransaction).rows;
}

} // namespace

bool detect(AdoConnection& cn, QString* schema) {
    if (cn.dialect() != Dialect::PostgreSQL)
        return false;
    // The store is found by its functions, never by a table name, which a temporary table of the
    // session (pg_temp is searched first for tables) could take: a schema of the search path
    // (pg_temp excluded) holding vardex_answer as its qx_user's owner made it. The session is a
    // desktop's when it may not read that qx_user.
    const auto r =
        rows(cn, QStringLiteral(
                     "select quote_ident(n.nspname), pg_catalog.has_table_privilege(c.oid, 'SELECT') "
                     "from pg_catalog.pg_proc p join pg_catalog.pg_namespace n on n.oid = p.pronamespace "
                     "join pg_catalog.pg_class c on c.relnamespace = n.oid and c.relname = 'qx_user' "
                     "where p.proname = 'vardex_answer' and p.prosecdef and p.proowner = c.relowner "
                     "and n.oid <> pg_catalog.pg_my_temp_schema() "
                     "and n.nspname = any (pg_catalog.current_schemas(false)) "
                     "order by pg_catalog.array_position(pg_catalog.current_schemas(false), n.nspname) "
                     "limit 1"));
    if (r.isEmpty() || truth(r.first().value(1)))
        return false;
    if (schema)
        *schema = r.first().value(0).toString();
    return true;
}

QString adminNeededText(const QString& call) {
    return QStringLiteral("%1 needs an administrator's account: this session was opened with a desktop's "
                          "account on a secured store, which may only run the store's functions.")
        .arg(call);
}

void refuseOnDesktop(const char* call) {
    if (hasDataModule() && dataModule().Secured)
        throw Error(adminNeededText(QLatin1String(call)));
}

namespace {

// The answer of an attempt: a second statement, in a transaction of its own after the attempt's
// committed (vardex_answer refuses to answer inside the transaction that made the attempt).
QVector<QVariant> answer(AdoConnection& cn, const QString& schema, const QVariant& token, const char* what) {
    const auto r = call(cn, QStringLiteral("select code, user_name from %1.vardex_answer($1)").arg(schema),
                        {token.toString()}, true);
    if (r.isEmpty() || r.first().size() < 2 || r.first().first().isNull())
        throw DbError(QStringLiteral("%1 answered no row.").arg(QLatin1String(what)));
    return r.first();
}

} // namespace

LoginAnswer login(AdoConnection& cn, const QString& schema, const QString& userId, const QString& password,
                  const QString& workDate, const QString& computer, const QString& previousUser,
                  bool writeRows) {
    // Two statements, each a transaction of its own: the attempt counts the guess and commits
    // before anyone can read its answer (see securestore_sql.inc).
    const auto token = call(
        cn, QStringLiteral("select %1.vardex_login_attempt($1, $2, $3, $4, $5, $6::boolean)").arg(schema),
        {userId, password, workDate, computer, previousUser, boolText(writeRows)}, true);
    if (token.isEmpty() || token.first().isEmpty())
        throw DbError(QStringLiteral("vardex_login_attempt answered no row."));
    const auto a = answer(cn, schema, token.first().first(), "vardex_answer");
    return {a.at(0).toInt(), a.at(1).toString()};
}

RightAnswer checkRight(AdoConnection& cn, const QString& schema, const QString& userId, int rightId,
                       const QString& computer, const QString& userName) {
    const auto r =
        call(cn,
             QStringLiteral(
                 "select code, item_defined, item_name from %1.vardex_check_right($1, $2::integer, $3, $4)")
                 .arg(schema),
             {userId, QString::number(rightId), computer, userName});
    if (r.isEmpty() || r.first().size() < 3)
        throw DbError(QStringLiteral("vardex_check_right answered no row."));
    return {r.first().at(0).toInt(), truth(r.first().at(1)), r.first().at(2).toString()};
}

void queryRights(AdoConnection& cn, const QString& schema, const QString& userId, const int32_t* rightIds,
                 int count, int32_t* answers) {
    // The items go as one array parameter; the answer is the deciding code, and for 0 the items
    // held, 8 hexadecimal digits each (see vardex_query_rights).
    std::string list;
    list.reserve(size_t(count) * 12 + 2);
    list += '{';
    char number[16];
    for (int i = 0; i < count; ++i) {
        if (i)
            list += ',';
        list.append(number, std::to_chars(number, number + sizeof number, rightIds[i]).ptr);
    }
    list += '}';
    const auto r = call(cn, QStringLiteral("select %1.vardex_query_rights($1, $2::integer[])").arg(schema),
                        {userId, QString::fromLatin1(list.data(), qsizetype(list.size()))});
    const QString text = r.isEmpty() || r.first().isEmpty() ? QString() : r.first().first().toString();
    const auto bad = [&text] {
        return DbError(QStringLiteral("vardex_query_rights answered %1.").arg(text.left(40)));
    };
    if (text.isEmpty() || (text.size() - 1) % 8 != 0)
        throw bad();
    const int code = text.at(0).unicode() - '0';
    if (code < 0 || code > 2 || (code != rights::Held && text.size() != 1))
        throw bad();
    std::vector<int32_t> held;
    held.reserve(size_t(text.size() / 8));
    const QChar* d = text.constData() + 1;
    for (qsizetype at = 1; at < text.size(); at += 8, d += 8) {
        uint32_t v = 0;
        for (int k = 0; k < 8; ++k) {
            const char16_t c = d[k].unicode();
            const int nibble = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (nibble < 0)
                throw bad();
            v = v << 4 | uint32_t(nibble);
        }
        held.push_back(int32_t(v));
    }
    std::sort(held.begin(), held.end());
    // The ids are all read before the first answer is written: the caller's arrays may overlap.
    const std::vector<int32_t> ids(rightIds, rightIds + count);
    for (int i = 0; i < count; ++i)
        answers[i] = code != rights::Held                                   ? code
                     : std::binary_search(held.begin(), held.end(), ids[i]) ? rights::Held
                                                                            : rights::NotHeld;
}

int changePassword(AdoConnection& cn, const QString& schema, const QString& userId,
                   const QString& oldPassword, const QString& newPassword, const QString& workDate,
                   const QString& computer, const QString& userName) {
    // As a login: the attempt (the old password verified is a guess, counted), then its answer.
    const auto token = call(
        cn, QStringLiteral("select %1.vardex_change_password_attempt($1, $2, $3, $4, $5, $6)").arg(schema),
        {userId, oldPassword, newPassword, workDate, computer, userName}, true);
    if (token.isEmpty() || token.first().isEmpty())
        throw DbError(QStringLiteral("vardex_change_password_attempt answered no row."));
    bool ok = false;
    const int code = answer(cn, schema, token.first().first(), "vardex_answer").at(0).toInt(&ok);
    if (!ok)
        throw DbError(QStringLiteral("vardex_answer answered no number."));
    return code;
}

void logout(AdoConnection& cn, const QString& schema, const QString& computer, const QString& userName) {
    call(cn, QStringLiteral("select %1.vardex_logout($1, $2)").arg(schema), {computer, userName});
}

// ---------------------------------------------------------------------------------------------
// Securing a store, and taking it back

namespace {

struct Store {
    QString schema;    // the schema of qx_user, as its name
    QString schemaSql; // ... quoted
    QString roleOid;   // the client role's oid, as a number
    QString roleSql;   // ... quoted
};

// The store cn is opened on, refusing what secure and undo cannot work on.
Store storeOf(AdoConnection& cn, const QString& role) {
    if (cn.dialect() != Dialect::PostgreSQL)
        throw Error(QStringLiteral("a secured store needs PostgreSQL; SQLite and SQL Server stores keep the "
                                   "classic model (every desktop's account reads and writes the tables)"));
    const auto s =
        rows(cn, QStringLiteral("select n.nspname, pg_has_role(c.relowner, 'MEMBER') from pg_class c "
                                "join pg_namespace n on n.oid = c.relnamespace "
                                "where c.oid = to_regclass('qx_user')"));
    if (s.isEmpty())
        throw Error(QStringLiteral("no store here: the table qx_user was not found"));
    if (!truth(s.first().at(1)))
        throw Error(
            QStringLiteral("run it with the store owner's account: the account %1 does not own the store")
                .arg(single(cn, QStringLiteral("select current_user")).toString()));
    const auto r =
        rows(cn, QStringLiteral("select oid::text, rolsuper, pg_has_role(oid, (select relowner from "
                                "pg_class where oid = to_regclass('qx_user')), 'USAGE') "
                                "from pg_roles where rolname = %1")
                     .arg(sqlLiteral(role)));
    if (r.isEmpty())
        throw Error(
            QStringLiteral("there is no role %1 (the database administrator creates it: CREATE ROLE ... "
                           "LOGIN)")
                .arg(role));
    if (truth(r.first().at(1)) || truth(r.first().at(2)))
        throw Error(
            QStringLiteral("the role %1 is a superuser or may act as the store's owner; a desktops' role "
                           "must be neither")
                .arg(role));
    const QString schema = s.first().at(0).toString();
    return {schema, ident(schema), r.first().at(0).toString(), ident(role)};
}

// Everything of the store a privilege can be held on: its tables, procedures and schema, as
// kind, name (as GRANT takes it) and its privileges (aclitem[] text, the defaults when none set).
QString storeObjects(const Store& st) {
    const QString ns = sqlLiteral(st.schema) + QStringLiteral("::regnamespace");
    return QStringLiteral(
               "select 'TABLE' as kind, c.oid::regclass::text as object, "
               "coalesce(c.relacl, acldefault('r', c.relowner)) as acl from pg_class c "
               "where c.relnamespace = %1 and c.relkind in ('r', 'p', 'v', 'm') "
               "and (c.relname like 'qx\\_%' or c.relname like 'vardex\\_%') "
               "union all select 'ROUTINE', p.oid::regprocedure::text, coalesce(p.proacl, acldefault('f', "
               "p.proowner)) from pg_proc p where p.pronamespace = %1 and p.proname like 'qx%' "
               "union all select 'SCHEMA', quote_ident(n.nspname), coalesce(n.nspacl, acldefault('n', "
               "n.nspowner)) from pg_namespace n where n.oid = %1")
        .arg(ns);
}

void requirePasswordPolicy(AdoConnection& cn, const Store& st) {
    const QString settings = st.schemaSql + QStringLiteral(".vardex_settings");
    if (!truth(single(cn, QStringLiteral("select to_regclass(%1) is not null and to_regclass(%2) is not null")
                              .arg(sqlLiteral(settings),
                                   sqlLiteral(st.schemaSql + QStringLiteral(".vardex_lockout"))))))
        throw Error(
            QStringLiteral("the store has no password policy yet: run vardex-cli upgrade, then policy set "
                           "password.hash=bcrypt and passwords upgrade"));
    const QString hash =
        single(cn, QStringLiteral("select value from %1 where name = 'password.hash'").arg(settings))
            .toString();
    if (hash != QLatin1String("bcrypt"))
        throw Error(
            QStringLiteral("password.hash is %1: a secured store checks bcrypt hashes only (policy set "
                           "password.hash=bcrypt, then passwords upgrade)")
                .arg(hash.isEmpty() ? QStringLiteral("cipher") : hash));
    const int left =
        single(cn, QStringLiteral("select count(*) from %1.qx_user where coalesce(userPwd, '') <> '' "
                                  "and userPwd !~ %2")
                       .arg(st.schemaSql, QLatin1String(kHashPattern)))
            .toInt();
    if (left > 0)
        throw Error(
            QStringLiteral("%1 stored password(s) are still cipher text: run vardex-cli passwords upgrade "
                           "first")
                .arg(left));
}

// The schema pgcrypto's functions are in; the extension is created in the store's schema when
// the database has none.
QString cryptoSchema(AdoConnection& cn, const Store& st, Report& report) {
    const QString sql =
        QStringLiteral("select quote_ident(n.nspname) from pg_extension e join pg_namespace n "
                       "on n.oid = e.extnamespace where e.extname = 'pgcrypto'");
    QString schema = single(cn, sql).toString();
    if (schema.isEmpty()) {
        cn.execute(QStringLiteral("CREATE EXTENSION pgcrypto SCHEMA ") + st.schemaSql);
        report.lines << QStringLiteral("created the extension pgcrypto in %1").arg(st.schema);
        schema = single(cn, sql).toString();
    }
    return schema;
}

QStringList qualified(const Store& st, const char* const* names, size_t count) {
    QStringList out;
    for (size_t i = 0; i < count; ++i)
        out << st.schemaSql + QLatin1Char('.') + QLatin1String(names[i]);
    return out;
}

// What the role still holds of the store after the revokes, through any role it belongs to.
QStringList privilegesLeft(AdoConnection& cn, const Store& st) {
    QStringList left;
    const QString ns = sqlLiteral(st.schema) + QStringLiteral("::regnamespace");
    for (const auto& r :
         rows(cn, QStringLiteral(
                      "select c.oid::regclass::text from pg_class c where c.relnamespace = %1 "
                      "and c.relkind in ('r', 'p', 'v', 'm') and has_table_privilege(%2::oid, c.oid, "
                      "'SELECT, INSERT, UPDATE, DELETE, TRUNCATE, REFERENCES, TRIGGER') "
                      "union all select p.oid::regprocedure::text from pg_proc p where "
                      "p.pronamespace = %1 and p.proname like 'qx%' and has_function_privilege(%2::oid, "
                      "p.oid, 'EXECUTE') union all select 'CREATE on the schema' where "
                      "has_schema_privilege(%2::oid, %1, 'CREATE')")
                      .arg(ns, st.roleOid)))
        left << r.value(0).toString();
    return left;
}

} // namespace

Report secure(AdoConnection& cn, const QString& clientRole) {
    Report report;
    const Store st = storeOf(cn, clientRole);
    requirePasswordPolicy(cn, st);
    AdoTransaction tx(cn);
    const QString crypto = cryptoSchema(cn, st, report);
    cn.execute(QString::fromUtf8(kScript)
                   .replace(QStringLiteral("@S@"), st.schemaSql)
                   .replace(QStringLiteral("@C@"), crypto));
    // What the role and PUBLIC held before is kept, once, so that undo can give it back.
    const QString kept = st.schemaSql + QStringLiteral(".vardex_secure_grants");
    if (!truth(single(cn, QStringLiteral("select to_regclass(%1) is not null").arg(sqlLiteral(kept))))) {
        cn.execute(QStringLiteral("CREATE TABLE %1 (kind varchar(10) not null, object text not null, grantee "
                                  "text not null, privilege text not null)")
                       .arg(kept));
        cn.execute(
            QStringLiteral("INSERT INTO %1 select o.kind, o.object, case when a.grantee = 0 then 'PUBLIC' "
                           "else %3 end, a.privilege_type from (%2) o, aclexplode(o.acl) a "
                           "where a.grantee in (0, %4::oid)")
                .arg(kept, storeObjects(st), sqlLiteral(st.roleSql), st.roleOid));
    }
    int tables = 0, routines = 0;
    for (const auto& r : rows(cn, storeObjects(st))) {
        const QString kind = r.value(0).toString();
        if (kind == QLatin1String("SCHEMA"))
            continue;
        (kind == QLatin1String("TABLE") ? tables : routines)++;
        cn.execute(QStringLiteral("REVOKE ALL ON %1 %2 FROM PUBLIC, %3")
                       .arg(kind, r.value(1).toString(), st.roleSql));
    }
    cn.execute(QStringLiteral("REVOKE CREATE ON SCHEMA %1 FROM PUBLIC, %2").arg(st.schemaSql, st.roleSql));
    cn.execute(QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(st.schemaSql, st.roleSql));
    const QStringList helpers = qualified(st, kHelperFunctions, std::size(kHelperFunctions));
    const QStringList desktop = qualified(st, kDesktopFunctions, std::size(kDesktopFunctions));
    for (const QString& f : helpers + desktop)
        cn.execute(QStringLiteral("REVOKE ALL ON FUNCTION %1 FROM PUBLIC, %2").arg(f, st.roleSql));
    for (const QString& f : desktop)
        cn.execute(QStringLiteral("GRANT EXECUTE ON FUNCTION %1 TO %2").arg(f, st.roleSql));
    const QStringList left = privilegesLeft(cn, st);
    if (!left.isEmpty())
        throw Error(QStringLiteral("the role %1 still holds privileges on the store through another role it "
                                   "belongs to (%2); revoke them there first")
                        .arg(clientRole, left.join(QStringLiteral(", "))));
    tx.commit();
    report.lines << QStringLiteral(
                        "revoked every privilege of %1 and PUBLIC on %2 tables and %3 procedures, and "
                        "CREATE on the schema %4")
                        .arg(clientRole)
                        .arg(tables)
                        .arg(routines)
                        .arg(st.schema);
    report.lines << QStringLiteral("%1 may run: vardex_login_attempt, vardex_change_password_attempt, "
                                   "vardex_answer, vardex_check_right, vardex_query_rights, vardex_logout")
                        .arg(clientRole);
    return report;
}

Report undo(AdoConnection& cn, const QString& clientRole) {
    Report report;
    const Store st = storeOf(cn, clientRole);
    AdoTransaction tx(cn);
    int dropped = 0;
    for (const QString& f : qualified(st, kDesktopFunctions, std::size(kDesktopFunctions)) +
                                qualified(st, kHelperFunctions, std::size(kHelperFunctions))) {
        if (truth(single(cn, QStringLiteral("select to_regprocedure(%1) is not null").arg(sqlLiteral(f))))) {
            cn.execute(QStringLiteral("DROP FUNCTION %1").arg(f));
            ++dropped;
        }
    }
    const QString kept = st.schemaSql + QStringLiteral(".vardex_secure_grants");
    int given = 0;
    if (truth(single(cn, QStringLiteral("select to_regclass(%1) is not null").arg(sqlLiteral(kept))))) {
        cn.execute(QStringLiteral("REVOKE USAGE ON SCHEMA %1 FROM %2").arg(st.schemaSql, st.roleSql));
        for (const auto& r :
             rows(cn, QStringLiteral("select kind, object, grantee, privilege from %1").arg(kept))) {
            cn.execute(QStringLiteral("GRANT %1 ON %2 %3 TO %4")
                           .arg(r.value(3).toString(), r.value(0).toString(), r.value(1).toString(),
                                r.value(2).toString()));
            ++given;
        }
        cn.execute(QStringLiteral("DROP TABLE %1").arg(kept));
    }
    // The answers of attempts not read yet, made by the functions' script.
    cn.execute(QStringLiteral("DROP TABLE IF EXISTS %1.vardex_tickets").arg(st.schemaSql));
    tx.commit();
    if (dropped == 0 && given == 0)
        report.lines << QStringLiteral("the store was not secured; nothing changed");
    else
        report.lines << QStringLiteral("dropped %1 functions and gave back %2 privileges of %3 and PUBLIC")
                            .arg(dropped)
                            .arg(given)
                            .arg(clientRole);
    return report;
}

} // namespace vardex::securestore
