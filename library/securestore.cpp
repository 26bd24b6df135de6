#include "library/securestore.h"

#include "library/dmain.h"
#include "platform/errors.h"
#include "platform/sqldialect.h"
#include "storage/acFileStorage.h"
#include "store/storeblob.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QVector>

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

namespace vardex::securestore {

namespace {

// The functions' script, store/pg/secure-functions.sql, carried with the store's steps.
const QString& functionScript() {
    static const QString script = [] {
        const auto storage = TacFileStorage::fromStoredData(storedSteps());
        for (const auto& file : storage->Files())
            if (file->Name() == QLatin1String("pg/secure-functions.sql"))
                return QString::fromUtf8(file->Data());
        throw Error(QStringLiteral("the program carries no pg/secure-functions.sql"));
    }();
    return script;
}

// The signatures of the script's functions, as GRANT and to_regprocedure take them
// ("vardex_logout(text, text)"): the helpers (vardex_sec_) or the functions the desktops run.
QStringList functionSignatures(bool helpers) {
    static const QRegularExpression create(
        QStringLiteral(R"(CREATE OR REPLACE FUNCTION @S@\.(\w+)\(([^)]*)\))"));
    static const QRegularExpression blanks(QStringLiteral(R"(\s+)"));
    QStringList out;
    for (auto it = create.globalMatch(functionScript()); it.hasNext();) {
        const auto m = it.next();
        const QString name = m.captured(1);
        if (name.startsWith(QLatin1String("vardex_sec_")) != helpers)
            continue;
        QStringList types;
        for (QString parameter : m.captured(2).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            parameter = parameter.replace(blanks, QStringLiteral(" ")).trimmed();
            parameter =
                parameter.section(QStringLiteral(" DEFAULT "), 0, 0).section(QStringLiteral(" = "), 0, 0);
            QStringList words = parameter.split(QLatin1Char(' '));
            if (words.first() == QLatin1String("OUT"))
                continue; // not part of the identity
            if (words.first() == QLatin1String("IN") || words.first() == QLatin1String("INOUT") ||
                words.first() == QLatin1String("VARIADIC"))
                words.removeFirst();
            words.removeFirst(); // the parameter's name
            types << words.join(QLatin1Char(' '));
        }
        out << QStringLiteral("%1(%2)").arg(name, types.join(QStringLiteral(", ")));
    }
    return out;
}

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

// The store's own rule: only a PostgreSQL store can be secured (its roles and functions).
bool securable(const AdoConnection& cn) {
    return cn.dialect() == Dialect::PostgreSQL;
}

} // namespace

bool detect(AdoConnection& cn, QString* schema) {
    if (!securable(cn))
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

void refuseOnDesktop(const LibrarySession& s, const char* call) {
    if (s.hasData() && s.data().Secured)
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
    // before anyone can read its answer (see store/pg/secure-functions.sql).
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
    QString role;      // ... as its name
};

// The comment vardex_secure_grants carries once it also holds the column grants and TEMPORARY
// on the database (a table without it was made by an older version, which kept neither).
const char* const kKeptComment = "kept by vardex-cli secure for secure --undo: tables, columns, routines, "
                                 "schema and TEMPORARY on the database";

// The store cn is opened on, refusing what secure and undo cannot work on.
Store storeOf(AdoConnection& cn, const QString& role) {
    if (!securable(cn))
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
    const QString oid =
        single(cn, QStringLiteral("select oid::text from pg_roles where rolname = %1").arg(sqlLiteral(role)))
            .toString();
    if (oid.isEmpty())
        throw Error(
            QStringLiteral("there is no role %1 (the database administrator creates it: CREATE ROLE ... "
                           "LOGIN, or a group role NOLOGIN whose members the desktops log in as)")
                .arg(role));
    const QString schema = s.first().at(0).toString();
    return {schema, ident(schema), oid, ident(role), role};
}

// The store's schema as an oid; regnamespace reads the name as an identifier, so quoted.
QString schemaOid(const Store& st) {
    return sqlLiteral(st.schemaSql) + QStringLiteral("::regnamespace");
}

// Everything of the store a privilege can be held on, as kind, name (as GRANT takes it), its
// privileges (aclitem[], the defaults when none set) and what follows a privilege's name in
// GRANT: the store's tables, their columns (kind COLUMN, the table's name, " (column)"), its
// procedures, its schema and the database (of which secure takes TEMPORARY only).
QString storeObjects(const Store& st) {
    return QStringLiteral(
               "select 'TABLE' as kind, c.oid::regclass::text as object, "
               "coalesce(c.relacl, acldefault('r', c.relowner)) as acl, '' as part from pg_class c "
               "where c.relnamespace = %1 and c.relkind in ('r', 'p', 'v', 'm') "
               "and (c.relname like 'qx\\_%' or c.relname like 'vardex\\_%') "
               "union all select 'COLUMN', c.oid::regclass::text, t.attacl, ' (' || quote_ident(t.attname) "
               "|| "
               "')' from pg_attribute t join pg_class c on c.oid = t.attrelid where c.relnamespace = %1 "
               "and c.relkind in ('r', 'p', 'v', 'm') and (c.relname like 'qx\\_%' or c.relname like "
               "'vardex\\_%') and t.attnum > 0 and not t.attisdropped and t.attacl is not null "
               "union all select 'ROUTINE', p.oid::regprocedure::text, coalesce(p.proacl, acldefault('f', "
               "p.proowner)), '' from pg_proc p where p.pronamespace = %1 and p.proname like 'qx%' "
               "union all select 'SCHEMA', quote_ident(n.nspname), coalesce(n.nspacl, acldefault('n', "
               "n.nspowner)), '' from pg_namespace n where n.oid = %1 "
               "union all select 'DATABASE', quote_ident(d.datname), coalesce(d.datacl, acldefault('d', "
               "d.datdba)), '' from pg_database d where d.datname = current_database()")
        .arg(schemaOid(st));
}

void requireUtf8(AdoConnection& cn) {
    const QString encoding = single(cn, QStringLiteral("select getdatabaseencoding()")).toString();
    if (encoding != QLatin1String("UTF8"))
        throw Error(QStringLiteral(
                        "the database is encoded %1: a secured store needs a UTF8 database (its functions "
                        "compare texts in GB18030, as the library does, and PostgreSQL converts to GB18030 "
                        "only from UTF8). Create a database with ENCODING 'UTF8' (TEMPLATE template0), "
                        "copy the store into it (vardex-cli copy) and secure that one")
                        .arg(encoding));
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

QStringList qualified(const Store& st, const QStringList& names) {
    QStringList out;
    for (const QString& name : names)
        out << st.schemaSql + QLatin1Char('.') + name;
    return out;
}

// Drops every vardex_ routine of the store's schema: today's functions and those an earlier
// version installed under other signatures. The number dropped.
int dropFunctions(AdoConnection& cn, const Store& st) {
    const auto found = rows(cn, QStringLiteral("select p.oid::regprocedure::text from pg_proc p where "
                                               "p.pronamespace = %1 and p.proname like 'vardex\\_%'")
                                    .arg(schemaOid(st)));
    for (const auto& r : found)
        cn.execute(QStringLiteral("DROP ROUTINE ") + r.value(0).toString());
    return int(found.size());
}

// Records in vardex_secure_grants what the role and PUBLIC hold of the store, for undo: all of
// it the first time; on a table an older version made, the kinds it did not keep (columns and
// TEMPORARY on the database). What is recorded once is never recorded again.
void keepGrants(AdoConnection& cn, const Store& st) {
    const QString kept = st.schemaSql + QStringLiteral(".vardex_secure_grants");
    QString kinds;
    if (!truth(single(cn, QStringLiteral("select to_regclass(%1) is not null").arg(sqlLiteral(kept))))) {
        cn.execute(QStringLiteral("CREATE TABLE %1 (kind varchar(10) not null, object text not null, grantee "
                                  "text not null, privilege text not null)")
                       .arg(kept));
        kinds = QStringLiteral("'TABLE', 'COLUMN', 'ROUTINE', 'SCHEMA', 'DATABASE'");
    } else if (single(
                   cn,
                   QStringLiteral("select obj_description(%1::regclass, 'pg_class')").arg(sqlLiteral(kept)))
                   .toString() != QLatin1String(kKeptComment)) {
        kinds = QStringLiteral("'COLUMN', 'DATABASE'");
    } else {
        return;
    }
    cn.execute(
        QStringLiteral("INSERT INTO %1 select case o.kind when 'COLUMN' then 'TABLE' else o.kind end, "
                       "o.object, case when a.grantee = 0 then 'PUBLIC' else %3 end, a.privilege_type || "
                       "o.part from (%2) o, aclexplode(o.acl) a where a.grantee in (0, %4::oid) and "
                       "o.kind in (%5) and (o.kind <> 'DATABASE' or a.privilege_type = 'TEMPORARY')")
            .arg(kept, storeObjects(st), sqlLiteral(st.roleSql), st.roleOid, kinds));
    cn.execute(
        QStringLiteral("COMMENT ON TABLE %1 IS %2").arg(kept, sqlLiteral(QLatin1String(kKeptComment))));
}

// The roles a desktop may act as (side: the client role, its members, every role any of them
// belongs to, and PUBLIC, each with the words that name it), and the store's objects a desktop
// must not reach (tabs: its tables; views: views elsewhere that read them; routines: its
// procedures and helpers, not the desktops' functions).
QString scope(const Store& st, const QStringList& desktopFunctions) {
    QStringList oids;
    for (const QString& f : desktopFunctions)
        oids << QStringLiteral("to_regprocedure(%1)::oid").arg(sqlLiteral(f));
    return QStringLiteral(
               "with recursive up(oid) as (select %1::oid union select m.member from pg_auth_members m join "
               "up on m.roleid = up.oid), down(oid) as (select oid from up union select m.roleid from "
               "pg_auth_members m join down on m.member = down.oid), "
               "side(oid, name, qname, who) as (select r.oid, r.rolname, quote_ident(r.rolname), case when "
               "r.oid = %1::oid then format('the role %s', r.rolname) when r.oid in (select oid from up) "
               "then "
               "format('the role %s (a member of %s)', r.rolname, %2) else format('the role %s (which %s or "
               "one of its members belongs to)', r.rolname, %2) end from pg_roles r where r.oid in (select "
               "oid from down) union all select 0, 'PUBLIC', 'PUBLIC', 'PUBLIC'), "
               "tabs(oid) as (select c.oid from pg_class c where c.relnamespace = %3 and c.relkind in ('r', "
               "'p', 'v', 'm') and (c.relname like 'qx\\_%' or c.relname like 'vardex\\_%')), "
               "views(oid) as (select r.ev_class from pg_rewrite r join pg_depend d on d.classid = "
               "'pg_rewrite'::regclass and d.objid = r.oid and d.refclassid = 'pg_class'::regclass where "
               "d.refobjid in (select oid from tabs) and r.ev_class not in (select oid from tabs) union "
               "select r.ev_class from pg_rewrite r join pg_depend d on d.classid = 'pg_rewrite'::regclass "
               "and d.objid = r.oid and d.refclassid = 'pg_class'::regclass join views v on d.refobjid = "
               "v.oid), "
               "routines(oid) as (select p.oid from pg_proc p where p.pronamespace = %3 and (p.proname like "
               "'qx%' or p.proname like 'vardex\\_%') and p.oid <> all(array[%4]::oid[])) ")
        .arg(st.roleOid, sqlLiteral(st.role), schemaOid(st), oids.join(QStringLiteral(", ")));
}

// What would still let a desktop reach the store once secure has revoked what the role and
// PUBLIC held: one sentence each, naming what was found and what to do. Empty when nothing.
QStringList privilegesLeft(AdoConnection& cn, const Store& st, const QStringList& desktopFunctions) {
    const QString with = scope(st, desktopFunctions);
    const QString ns = schemaOid(st);
    const QStringList queries = {
        // Attributes that reach around any grant.
        QStringLiteral(
            "select format('%s is %s: ALTER ROLE %s %s', s.who, x.what, s.qname, x.fix) from side s join "
            "pg_roles r on r.oid = s.oid, lateral (values (r.rolsuper, 'a superuser', 'NOSUPERUSER'), "
            "(r.rolcreaterole, 'allowed to create and alter roles (CREATEROLE: it could grant itself the "
            "store owner''s role)', 'NOCREATEROLE'), (r.rolbypassrls, 'allowed to bypass row security "
            "(BYPASSRLS)', 'NOBYPASSRLS'), (r.rolreplication, 'a replication role (REPLICATION: it could "
            "copy every table)', 'NOREPLICATION')) x(has, what, fix) where x.has"),
        // Owners: of the store's objects, its schema and the database (which could give TEMPORARY back).
        QStringLiteral(
            "select format('%s may act as the owner of %s: a desktops'' role must not (revoke that "
            "membership, or give it another owner)', s.who, o.what) from side s join (select c.relowner as "
            "owner, 'the store''s tables' as what from pg_class c where c.oid in (select oid from tabs) "
            "union "
            "select p.proowner, 'the store''s procedures' from pg_proc p where p.pronamespace = %1 and "
            "p.proname like 'vardex\\_%' union select n.nspowner, 'the schema ' || quote_ident(n.nspname) "
            "from pg_namespace n where n.oid = %1 union select d.datdba, 'the database ' || "
            "quote_ident(d.datname) from pg_database d where d.datname = current_database()) o on o.owner = "
            "s.oid")
            .arg(ns),
        // Predefined roles that read or write around the privileges, or end others' connections.
        QStringLiteral(
            "select format('%s %s: revoke that membership (REVOKE %s FROM the role that holds it)', s.who, "
            "x.what, s.qname) from side s join (values ('pg_read_server_files', 'reads the server''s files, "
            "the store''s too'), ('pg_write_server_files', 'writes the server''s files'), "
            "('pg_execute_server_program', 'runs programs on the server'), ('pg_signal_backend', 'may end "
            "other desktops'' connections'), ('pg_read_all_data', 'reads every table'), "
            "('pg_write_all_data', 'writes every table')) x(name, what) on x.name = s.name"),
        // Privileges held directly, on the store's tables and their columns, views that read them,
        // its procedures, CREATE on its schema and TEMPORARY on the database.
        QStringLiteral(
            "select format('%s holds %s on the %s %s%s: revoke it there first (REVOKE %s ON %s %s FROM %s)', "
            "s.who, string_agg(h.privilege, ', ' order by h.privilege), lower(h.kind), h.object, h.note, "
            "string_agg(h.privilege, ', ' order by h.privilege), h.kind, h.object, s.qname) from (select "
            "a.grantee, 'TABLE' as kind, c.oid::regclass::text as object, a.privilege_type as privilege, "
            "case when c.oid in (select oid from views) then ', a view that reads the store''s tables' else "
            "'' end as note from pg_class c, aclexplode(c.relacl) a where c.oid in (select oid from tabs "
            "union select oid from views) union all select a.grantee, 'TABLE', c.oid::regclass::text, "
            "a.privilege_type || ' (' || quote_ident(t.attname) || ')', case when c.oid in (select oid from "
            "views) then ', a view that reads the store''s tables' else '' end from pg_attribute t join "
            "pg_class c on c.oid = t.attrelid, aclexplode(t.attacl) a where c.oid in (select oid from tabs "
            "union select oid from views) and not t.attisdropped union all select a.grantee, 'ROUTINE', "
            "p.oid::regprocedure::text, a.privilege_type, '' from pg_proc p, aclexplode(coalesce(p.proacl, "
            "acldefault('f', p.proowner))) a where p.oid in (select oid from routines) union all select "
            "a.grantee, 'SCHEMA', quote_ident(n.nspname), a.privilege_type, '' from pg_namespace n, "
            "aclexplode(coalesce(n.nspacl, acldefault('n', n.nspowner))) a where n.oid = %1 and "
            "a.privilege_type = 'CREATE' union all select a.grantee, 'DATABASE', quote_ident(d.datname), "
            "a.privilege_type, ', which only the database''s owner can take away' from pg_database d, "
            "aclexplode(coalesce(d.datacl, acldefault('d', d.datdba))) a where d.datname = "
            "current_database() and a.privilege_type = 'TEMPORARY') h join side s on s.oid = h.grantee "
            "group by s.who, s.qname, h.kind, h.object, h.note")
            .arg(ns),
        // A member that may grant the client role to others.
        QStringLiteral(
            "select format('%s may grant %s to other roles (WITH ADMIN OPTION): REVOKE ADMIN OPTION "
            "FOR %s FROM %s', s.who, r.rolname, quote_ident(r.rolname), s.qname) from "
            "pg_auth_members m join side s on s.oid = m.member join pg_roles r on r.oid = m.roleid "
            "where m.admin_option and m.roleid in (select oid from up)"),
        // Default privileges that would hand a desktop the tables (and procedures) made in the
        // schema after secure, as item add and item rename make work tables.
        QStringLiteral(
            "select format('the default privileges of %s %s give %s %s on new %s: ALTER DEFAULT PRIVILEGES "
            "FOR ROLE %s%s REVOKE ALL ON %s FROM %s', d.defaclrole::regrole, case when d.defaclnamespace = 0 "
            "then 'in every schema' else 'in the schema ' || d.defaclnamespace::regnamespace end, s.who, "
            "string_agg(a.privilege_type, ', ' order by a.privilege_type), lower(x.word), "
            "d.defaclrole::regrole, case when d.defaclnamespace = 0 then '' else ' IN SCHEMA ' || "
            "d.defaclnamespace::regnamespace end, x.word, s.qname) from pg_default_acl d join (values ('r', "
            "'TABLES'), ('S', 'SEQUENCES'), ('f', 'FUNCTIONS')) x(t, word) on x.t = d.defaclobjtype cross "
            "join aclexplode(d.defaclacl) a join side s on s.oid = a.grantee where d.defaclnamespace in (0, "
            "%1) and has_schema_privilege(d.defaclrole, %1, 'CREATE') and (a.grantee <> 0 or "
            "d.defaclobjtype <> 'f') group by d.defaclrole, d.defaclnamespace, s.who, x.word, s.qname")
            .arg(ns),
    };
    QStringList found;
    for (const QString& q : queries)
        for (const auto& r : rows(cn, with + q))
            found << r.value(0).toString();
    if (!found.isEmpty())
        return found;
    // Whatever else a desktop's role still reaches, however it does.
    for (const auto& r :
         rows(cn,
              with + QStringLiteral(
                         "select format('%s can still use %s', s.who, x.what) from side s cross join lateral "
                         "(select 'the table ' || c.oid::regclass::text as what from pg_class c where c.oid "
                         "in (select oid from tabs union select oid from views) and "
                         "(has_any_column_privilege(s.oid, c.oid, 'SELECT, INSERT, UPDATE, REFERENCES') or "
                         "has_table_privilege(s.oid, c.oid, 'DELETE, TRUNCATE, TRIGGER')) union all select "
                         "'the routine ' || p.oid::regprocedure::text from pg_proc p where p.oid in (select "
                         "oid from routines) and has_function_privilege(s.oid, p.oid, 'EXECUTE') union all "
                         "select 'CREATE on the schema' where has_schema_privilege(s.oid, %1, 'CREATE') "
                         "union all select 'TEMPORARY on the database' where has_database_privilege(s.oid, "
                         "current_database(), 'TEMPORARY')) x where s.oid in (select oid from up)")
                         .arg(ns)))
        found << r.value(0).toString();
    return found;
}

// What identifies the functions and grants secure makes: its script and the desktops' functions.
QString functionsFingerprint() {
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(functionScript().toUtf8());
    hash.addData(functionSignatures(false).join(QLatin1Char(';')).toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}

// Records (or with an empty fingerprint forgets) in vardex_meta which functions secure made.
void writeFunctionsRow(AdoConnection& cn, const Store& st, const QString& fingerprint) {
    const QString meta = st.schemaSql + QStringLiteral(".vardex_meta");
    if (!truth(single(cn, QStringLiteral("select to_regclass(%1) is not null").arg(sqlLiteral(meta)))))
        return;
    cn.execute(QStringLiteral("DELETE FROM %1 WHERE name = 'secure.functions'").arg(meta));
    if (!fingerprint.isEmpty())
        cn.execute(QStringLiteral("INSERT INTO %1 (name, value) VALUES ('secure.functions', %2)")
                       .arg(meta, sqlLiteral(fingerprint)));
}

} // namespace

bool isSecured(AdoConnection& cn) {
    return securable(cn) &&
           truth(single(cn, QStringLiteral("select to_regclass('vardex_secure_grants') is not null")));
}

bool functionsCurrent(AdoConnection& cn) {
    if (!truth(single(cn, QStringLiteral("select to_regclass('vardex_meta') is not null"))))
        return false;
    return single(cn, QStringLiteral("select value from vardex_meta where name = 'secure.functions'"))
               .toString() == functionsFingerprint();
}

QString securedRole(AdoConnection& cn) {
    // The role given EXECUTE on the desktops' functions: not their owner, not PUBLIC.
    const auto roles = rows(
        cn, QStringLiteral("select distinct r.rolname from pg_proc p cross join aclexplode(p.proacl) a join "
                           "pg_roles r on r.oid = a.grantee where p.pronamespace = (select relnamespace from "
                           "pg_class where oid = to_regclass('qx_user')) and p.proname like 'vardex\\_%' and "
                           "a.privilege_type = 'EXECUTE' and a.grantee <> p.proowner order by 1"));
    if (roles.size() != 1)
        throw Error(
            QStringLiteral("the secured store's functions are granted to %1 roles, not one: run vardex-cli "
                           "secure --client-role ROLE on it again")
                .arg(roles.size()));
    return roles.first().value(0).toString();
}

Report secure(AdoConnection& cn, const QString& clientRole) {
    Report report;
    const Store st = storeOf(cn, clientRole);
    requireUtf8(cn);
    requirePasswordPolicy(cn, st);
    AdoTransaction tx(cn, !cn.inTransaction());
    const QString crypto = cryptoSchema(cn, st, report);
    // The functions are made anew, so that those of an earlier version go whatever their signature.
    dropFunctions(cn, st);
    cn.execute(QString(functionScript())
                   .replace(QStringLiteral("@S@"), st.schemaSql)
                   .replace(QStringLiteral("@C@"), crypto)
                   .replace(QStringLiteral("@R@"), st.roleSql));
    keepGrants(cn, st);
    int tables = 0, routines = 0;
    for (const auto& r : rows(cn, storeObjects(st))) {
        const QString kind = r.value(0).toString();
        if (kind != QLatin1String("TABLE") && kind != QLatin1String("ROUTINE"))
            continue;
        (kind == QLatin1String("TABLE") ? tables : routines)++;
        // On a table this takes the column privileges too.
        cn.execute(QStringLiteral("REVOKE ALL ON %1 %2 FROM PUBLIC, %3")
                       .arg(kind, r.value(1).toString(), st.roleSql));
    }
    const QString database = single(cn, QStringLiteral("select quote_ident(current_database())")).toString();
    cn.execute(QStringLiteral("REVOKE TEMPORARY ON DATABASE %1 FROM PUBLIC, %2").arg(database, st.roleSql));
    cn.execute(QStringLiteral("REVOKE CREATE ON SCHEMA %1 FROM PUBLIC, %2").arg(st.schemaSql, st.roleSql));
    cn.execute(QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(st.schemaSql, st.roleSql));
    const QStringList helpers = qualified(st, functionSignatures(true));
    const QStringList desktop = qualified(st, functionSignatures(false));
    for (const QString& f : helpers + desktop)
        cn.execute(QStringLiteral("REVOKE ALL ON FUNCTION %1 FROM PUBLIC, %2").arg(f, st.roleSql));
    for (const QString& f : desktop)
        cn.execute(QStringLiteral("GRANT EXECUTE ON FUNCTION %1 TO %2").arg(f, st.roleSql));
    const QStringList left = privilegesLeft(cn, st, desktop);
    if (!left.isEmpty())
        throw Error(
            QStringLiteral("refused, nothing changed: a desktop logging in as %1 or as a member of it "
                           "could still reach the store:\n- %2")
                .arg(clientRole, left.join(QStringLiteral("\n- "))));
    writeFunctionsRow(cn, st, functionsFingerprint());
    if (tx.active())
        tx.commit();
    report.lines << QStringLiteral(
                        "revoked every privilege of %1 and PUBLIC on %2 tables (and their columns) "
                        "and %3 procedures, CREATE on the schema %4 and TEMPORARY on the database "
                        "%5")
                        .arg(clientRole, QString::number(tables), QString::number(routines), st.schema,
                             database);
    QStringList names;
    for (const QString& f : functionSignatures(false))
        names << f.section(QLatin1Char('('), 0, 0);
    report.lines << QStringLiteral("%1 may run: %2").arg(clientRole, names.join(QStringLiteral(", ")));
    return report;
}

Report undo(AdoConnection& cn, const QString& clientRole) {
    Report report;
    const Store st = storeOf(cn, clientRole);
    AdoTransaction tx(cn);
    const int dropped = dropFunctions(cn, st);
    const QString kept = st.schemaSql + QStringLiteral(".vardex_secure_grants");
    int given = 0;
    if (truth(single(cn, QStringLiteral("select to_regclass(%1) is not null").arg(sqlLiteral(kept))))) {
        cn.execute(QStringLiteral("REVOKE USAGE ON SCHEMA %1 FROM %2").arg(st.schemaSql, st.roleSql));
        // TEMPORARY goes back to the database of today, whatever its name was then.
        for (const auto& r : rows(cn, QStringLiteral("select kind, case when kind = 'DATABASE' then "
                                                     "quote_ident(current_database()) else object end, "
                                                     "grantee, privilege from %1")
                                          .arg(kept))) {
            cn.execute(QStringLiteral("GRANT %1 ON %2 %3 TO %4")
                           .arg(r.value(3).toString(), r.value(0).toString(), r.value(1).toString(),
                                r.value(2).toString()));
            ++given;
        }
        cn.execute(QStringLiteral("DROP TABLE %1").arg(kept));
    }
    // The answers of attempts not read yet, made by the functions' script.
    cn.execute(QStringLiteral("DROP TABLE IF EXISTS %1.vardex_tickets").arg(st.schemaSql));
    writeFunctionsRow(cn, st, QString());
    tx.commit();
    if (dropped == 0 && given == 0)
        report.lines << QStringLiteral("the store was not secured; nothing changed");
    else
        report.lines << QStringLiteral("dropped %1 functions and gave back %2 privileges of %3 and PUBLIC")
                            .arg(QString::number(dropped), QString::number(given), clientRole);
    return report;
}

} // namespace vardex::securestore
