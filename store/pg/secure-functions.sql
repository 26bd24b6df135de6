-- The functions of a secured PostgreSQL store, as one script. @S@ stands for the store's schema
-- and @C@ for the schema pgcrypto is in, both as quoted identifiers; @R@ for the desktops' role.
-- Every function takes its values as typed parameters, refuses NULL for any of them and builds no
-- statement text; each runs with settings of its own (the end of the script pins them), so
-- nothing a caller set in his session (search path, string syntax, time zone, planner) changes
-- what it reads or answers. The vardex_sec_ helpers are called by the functions only: nobody but
-- the owner may run them.
--
-- A login and a change of password are two calls, each its own transaction. The attempt verifies
-- the password, counts a failure (or clears the count) and keeps its answer in vardex_tickets
-- under a random token, which is all it returns; vardex_answer gives the answer for a token only
-- in a later transaction than the one that wrote it, once that one committed. A caller who rolls
-- the attempt back (begin ... rollback, or an error later in the same statement) never learns
-- its answer, so every guess whose answer he reads stays counted. Whatever else could tell the
-- answer inside the attempt's transaction is the same for a right and a wrong password: the rows
-- written (the count is one update either way), the locks taken, the bcrypt work done; the audit
-- rows and the new password are written by vardex_answer.
--
-- A refused login's audit row (when the policy's audit.failures is on) is decided in the attempt
-- and kept in its ticket, committed with the count: writing it into qx_Logs there would make a
-- wrong password write one more row than a right one, which the attempt's own transaction can
-- see. vardex_answer writes it; an attempt whose answer nobody reads has it written when its
-- ticket is dropped as too old, at the attempt's time.
--
-- secure runs this file as one statement; a function named vardex_sec_ is a helper, every other
-- one a function the desktops may run: secure takes their signatures from here.
-- Functions of an earlier version that answered in the caller's transaction.
DROP FUNCTION IF EXISTS @S@.vardex_login(text, text, text, text, text, boolean);
DROP FUNCTION IF EXISTS @S@.vardex_change_password(text, text, text, text, text, text);
DROP FUNCTION IF EXISTS @S@.vardex_sec_verify(text, text, text, text);
DROP FUNCTION IF EXISTS @S@.vardex_sec_ticket(text, integer, text, text, text, text, text, text, boolean, text);
DO $do$
BEGIN
    IF (SELECT p.prorettype FROM pg_catalog.pg_proc p
        WHERE p.oid = pg_catalog.to_regprocedure($q$@S@.vardex_query_rights(text, integer[])$q$))
       IS DISTINCT FROM 'pg_catalog.text'::pg_catalog.regtype THEN
        DROP FUNCTION IF EXISTS @S@.vardex_query_rights(text, integer[]);
    END IF;
END
$do$;

-- The answers of attempts not read yet; the owner's only. xid: the transaction that wrote it.
CREATE TABLE IF NOT EXISTS @S@.vardex_tickets (
    token text NOT NULL PRIMARY KEY,
    xid xid8 NOT NULL,
    made timestamptz NOT NULL,
    kind char(1) NOT NULL,            -- L a login, P a change of password
    code integer NOT NULL,
    user_id text NOT NULL,
    user_name text,                   -- the name of the row that matched
    computer text NOT NULL,
    audit_user text NOT NULL,         -- L: the previous user's logout row; P: the change's row
    write_rows boolean NOT NULL,
    lock_name text,                   -- the name "账号锁定" is written under, when this failure locked
    stored text,                      -- P: the stored password verified, and the new one's hash
    new_hash text,
    failure text                      -- the refused login's audit text, when one is to be written
);
ALTER TABLE @S@.vardex_tickets ADD COLUMN IF NOT EXISTS failure text;
CREATE INDEX IF NOT EXISTS vardex_tickets_made ON @S@.vardex_tickets (made);

CREATE OR REPLACE FUNCTION @S@.vardex_sec_setting(p_name text, p_default integer, p_low integer,
                                                  p_high integer) RETURNS integer
LANGUAGE plpgsql STABLE AS $f$
DECLARE
    v text;
BEGIN
    SELECT s.value INTO v FROM @S@.vardex_settings s WHERE s.name = p_name;
    IF v IS NULL THEN
        RETURN p_default;
    END IF;
    IF v !~ '^[0-9]{1,9}$' OR v::integer < p_low OR v::integer > p_high THEN
        RAISE EXCEPTION 'the setting % holds %, which is out of range', p_name, v;
    END IF;
    RETURN v::integer;
END
$f$;

-- The audit text of a refused login (code 1 to 4; locked: a lock in force refused it), or NULL
-- when the policy writes none (audit.failures is not on) or the login was verified. The texts
-- are those of the library's classic path.
CREATE OR REPLACE FUNCTION @S@.vardex_sec_failure(p_code integer, p_locked boolean) RETURNS text
LANGUAGE plpgsql STABLE AS $f$
DECLARE
    v text;
BEGIN
    SELECT s.value INTO v FROM @S@.vardex_settings s WHERE s.name = 'audit.failures';
    IF v IS NOT NULL AND v NOT IN ('off', 'on') THEN
        RAISE EXCEPTION 'the setting audit.failures holds %, which is out of range', v;
    END IF;
    IF v IS DISTINCT FROM 'on' OR p_code NOT BETWEEN 1 AND 4 THEN
        RETURN NULL;
    END IF;
    RETURN '登录失败(' || CASE WHEN p_locked THEN '账号锁定'
                              WHEN p_code = 4 THEN '无此用户'
                              WHEN p_code = 1 THEN '账号禁用'
                              WHEN p_code = 2 THEN '账号过期'
                              ELSE '密码错误' END || ')';
END
$f$;

-- Refuses NULL in place of any text, naming the argument: the library never sends one, and none
-- may stand for a value that a rule would otherwise check. Called when num_nulls() found one.
CREATE OR REPLACE FUNCTION @S@.vardex_sec_required(p_function text, p_values text[]) RETURNS void
LANGUAGE plpgsql IMMUTABLE AS $f$
BEGIN
    IF p_values IS NULL OR array_position(p_values, NULL) IS NOT NULL THEN
        RAISE EXCEPTION '%: argument % is NULL; every argument is required', p_function,
            coalesce(array_position(p_values, NULL), 0) USING ERRCODE = 'null_value_not_allowed';
    END IF;
END
$f$;

-- An audit row, at the server's clock in the store's time zone, as the library writes theTime.
-- The computer and user names are cut to the widths of qx_Logs' columns, so that no name can
-- make the insert fail (and take the failure count with it). In PL/pgSQL, whose plans a session
-- keeps (a SQL function's would be planned again at every call).
CREATE OR REPLACE FUNCTION @S@.vardex_sec_log(p_computer text, p_user_name text, p_text text) RETURNS void
LANGUAGE plpgsql AS $f$
BEGIN
    INSERT INTO @S@.qx_Logs (CompName, userName, theTime, theLog)
    VALUES (left(p_computer, 100), left(p_user_name, 20), to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS'),
            left(p_text, 100));
END
$f$;

-- The audit rows a ticket holds, at the attempt's time: the lock's, then the refused login's (the
-- order the classic path writes them in).
CREATE OR REPLACE FUNCTION @S@.vardex_sec_log_ticket(p_computer text, p_user_id text, p_failure text,
                                                     p_lock_name text, p_made timestamptz) RETURNS void
LANGUAGE plpgsql AS $f$
BEGIN
    INSERT INTO @S@.qx_Logs (CompName, userName, theTime, theLog)
    SELECT left(p_computer, 100), left(r.name, 20), to_char(p_made, 'YYYY-MM-DD HH24:MI:SS'), left(r.text, 100)
    FROM (VALUES (1, p_lock_name, '账号锁定'), (2, p_user_id, p_failure)) r(n, name, text)
    WHERE r.name IS NOT NULL AND r.text IS NOT NULL
    ORDER BY r.n;
END
$f$;

-- Whether a typed password verifies against a stored value: empty against empty, a bcrypt hash
-- by crypt(); cipher text never (a secured store holds none). The two results are compared as
-- digests, so the time taken tells nothing of where they differ.
CREATE OR REPLACE FUNCTION @S@.vardex_sec_matches(p_password text, p_stored text) RETURNS boolean
LANGUAGE plpgsql STABLE AS $f$
DECLARE
    setting text;
BEGIN
    IF coalesce(p_stored, '') = '' THEN
        RETURN p_password = '';
    END IF;
    IF p_stored !~ '^[$]2[aby][$](1[0-5]|0[4-9])[$][./A-Za-z0-9]{53}$' THEN
        RETURN false;
    END IF;
    -- pgcrypto reads the $2a$ prefix only; $2b$ and $2y$ hash alike.
    setting := '$2a$' || substr(p_stored, 5);
    RETURN @C@.digest(@C@.crypt(p_password, setting), 'sha256') = @C@.digest(setting, 'sha256');
END
$f$;

-- The verification of a login, in the order the library keeps: no user (4, after a dummy
-- verification of the policy's cost), a lock in force (1), the password picks the row (3 when
-- none does, counted under the lockout), then the enabled flag (1) and the validity period (2).
-- user_name and stored are those of the row that matched; lock_name is set when this failure
-- reached the limit (the name "账号锁定" is to be written under).
--
-- Every row of the ID is verified, a match or not, and the count is one update of the user's
-- lockout row for a right password (to 0) as for a wrong one, so the attempt's transaction
-- shows the same work and the same writes whatever the password. Concurrent attempts on one ID
-- wait for each other on that row, so no more guesses are verified than the limit allows.
CREATE OR REPLACE FUNCTION @S@.vardex_sec_verify(p_user_id text, p_password text, p_work_date text,
                                                 OUT code integer, OUT user_name text, OUT stored text,
                                                 OUT lock_name text, OUT tried boolean)
LANGUAGE plpgsql AS $f$
DECLARE
    r record;
    first_name text;
    seen boolean := false;
    matched boolean := false;
    lock_after integer := @S@.vardex_sec_setting('lockout.failures', 0, 0, 1000);
    lock_minutes integer := @S@.vardex_sec_setting('lockout.minutes', 15, 1, 100000);
    hash_cost integer := @S@.vardex_sec_setting('password.cost', 10, 10, 15);
    now_utc text := to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS');
    expiry text;
    held record;
    counted integer;
    work_date bytea := convert_to(p_work_date, 'GB18030');
BEGIN
    -- An attempt must read the store as it is now: a snapshot kept from earlier in the caller's
    -- transaction could still hold a password changed since.
    IF current_setting('transaction_isolation') <> 'read committed'
       AND statement_timestamp() <> transaction_timestamp() THEN
        RAISE EXCEPTION 'a login is verified at the isolation level read committed only, or as the '
                        'first statement of its transaction';
    END IF;
    tried := false;
    expiry := to_char((clock_timestamp() AT TIME ZONE 'UTC') - make_interval(mins => lock_minutes),
                      'YYYY-MM-DD HH24:MI:SS');
    FOR r IN SELECT u.userName AS name, u.userPwd AS pwd, u.Allow AS allow, u.startTime AS start_time,
                    u.endTime AS end_time
             FROM @S@.qx_user u WHERE u.userID = p_user_id AND u.zuid > 1000 LOOP
        IF NOT seen THEN
            seen := true;
            first_name := r.name;
            IF lock_after > 0 THEN
                INSERT INTO @S@.vardex_lockout (userID, failures, lastFailure)
                VALUES (left(p_user_id, 20), 0, now_utc) ON CONFLICT (userID) DO NOTHING;
                SELECT l.failures, l.lastFailure INTO held FROM @S@.vardex_lockout l
                WHERE l.userID = left(p_user_id, 20) FOR UPDATE;
                IF held.failures >= lock_after AND held.lastFailure > expiry THEN
                    code := 1;
                    RETURN;
                END IF;
            END IF;
            tried := true;
        END IF;
        IF @S@.vardex_sec_matches(p_password, r.pwd) AND NOT matched THEN
            matched := true;
            user_name := r.name;
            stored := coalesce(r.pwd, '');
            code := CASE WHEN r.allow IS DISTINCT FROM 'T' THEN 1
                         WHEN work_date < convert_to(coalesce(r.start_time, ''), 'GB18030')
                              OR work_date > convert_to(coalesce(r.end_time, ''), 'GB18030') THEN 2
                         ELSE 0 END;
        END IF;
    END LOOP;
    IF NOT seen THEN
        PERFORM @C@.crypt(p_password, @C@.gen_salt('bf', hash_cost));
        code := 4;
        RETURN;
    END IF;
    IF lock_after > 0 THEN
        UPDATE @S@.vardex_lockout l
        SET failures = CASE WHEN matched THEN 0
                            WHEN l.failures >= lock_after AND l.lastFailure <= expiry THEN 1
                            ELSE l.failures + 1 END,
            lastFailure = CASE WHEN matched THEN l.lastFailure ELSE now_utc END
        WHERE l.userID = left(p_user_id, 20)
        RETURNING l.failures INTO counted;
    END IF;
    IF NOT matched THEN
        code := 3;
        IF counted = lock_after THEN
            lock_name := first_name;
        END IF;
    END IF;
END
$f$;

-- Whose grants decide for a user: his own outside any user group, his group's for a member.
-- code 0 with effective, 1 no such user, 2 the member's group is missing.
CREATE OR REPLACE FUNCTION @S@.vardex_sec_deciding(p_user_id text, OUT code integer, OUT effective text)
LANGUAGE plpgsql STABLE AS $f$
DECLARE
    group_zuid bigint;
BEGIN
    SELECT coalesce(u.zuid, 0) INTO group_zuid FROM @S@.qx_user u WHERE u.userID = p_user_id LIMIT 1;
    IF NOT FOUND THEN
        code := 1;
        RETURN;
    END IF;
    IF group_zuid >= 10000 THEN
        code := 0;
        effective := p_user_id;
        RETURN;
    END IF;
    SELECT coalesce(g.userID, '') INTO effective FROM @S@.qx_user g WHERE g.zuid = group_zuid - 1000 LIMIT 1;
    code := CASE WHEN FOUND THEN 0 ELSE 2 END;
END
$f$;

-- Keeps an attempt's answer under a new token, and drops the answers nobody came for.
-- The audit rows of a dropped ticket are written then: its answer was never read, and what it
-- recorded must stay on record.
CREATE OR REPLACE FUNCTION @S@.vardex_sec_ticket(p_kind text, p_code integer, p_user_name text,
                                                 p_lock_name text, p_stored text, p_user_id text,
                                                 p_computer text, p_audit_user text, p_write_rows boolean,
                                                 p_new_hash text, p_failure text)
RETURNS text
LANGUAGE plpgsql AS $f$
DECLARE
    token text := encode(@C@.gen_random_bytes(16), 'hex');
    old record;
BEGIN
    FOR old IN DELETE FROM @S@.vardex_tickets k WHERE k.made < clock_timestamp() - interval '10 minutes'
               RETURNING k.computer, k.user_id, k.failure, k.lock_name, k.made LOOP
        PERFORM @S@.vardex_sec_log_ticket(old.computer, old.user_id, old.failure, old.lock_name, old.made);
    END LOOP;
    INSERT INTO @S@.vardex_tickets (token, xid, made, kind, code, user_id, user_name, computer, audit_user,
                                    write_rows, lock_name, stored, new_hash, failure)
    VALUES (token, pg_current_xact_id(), clock_timestamp(), p_kind, p_code, p_user_id, p_user_name,
            p_computer, p_audit_user, p_write_rows, p_lock_name, p_stored, p_new_hash, p_failure);
    RETURN token;
END
$f$;

-- CheckUserLogin, first call: verifies and counts; returns the token vardex_answer takes. With
-- p_write_rows, the answer of a success writes the logout row of p_previous_user (when not
-- empty) and the login row.
CREATE OR REPLACE FUNCTION @S@.vardex_login_attempt(p_user_id text, p_password text, p_work_date text,
                                                    p_computer text, p_previous_user text,
                                                    p_write_rows boolean) RETURNS text
LANGUAGE plpgsql SECURITY DEFINER AS $f$
DECLARE
    v record;
BEGIN
    IF num_nulls(p_user_id, p_password, p_work_date, p_computer, p_previous_user, p_write_rows) > 0 THEN
        PERFORM @S@.vardex_sec_required('vardex_login_attempt', ARRAY[p_user_id, p_password, p_work_date,
                                                                      p_computer, p_previous_user,
                                                                      p_write_rows::text]);
    END IF;
    v := @S@.vardex_sec_verify(p_user_id, p_password, p_work_date);
    -- A lock in force answers 1 before any password is tried.
    RETURN @S@.vardex_sec_ticket('L', v.code, v.user_name, v.lock_name, NULL, p_user_id, p_computer,
                                 p_previous_user, p_write_rows, NULL,
                                 @S@.vardex_sec_failure(v.code, v.code = 1 AND NOT v.tried));
END
$f$;

-- ChangeUserPassword, first call: verifies the old password (a guess, counted as a login's),
-- then 5 the same password, 7 shorter than the policy's minimum or longer than the 72 bytes
-- bcrypt reads. The new hash (at the policy's cost) is made whenever the new password passes
-- those rules, whether the old one verified or not. vardex_answer then answers 6 when the
-- stored password is no longer the one verified, or changes it (every row of the ID) and
-- answers 0.
CREATE OR REPLACE FUNCTION @S@.vardex_change_password_attempt(p_user_id text, p_old text, p_new text,
                                                              p_work_date text, p_computer text,
                                                              p_user_name text) RETURNS text
LANGUAGE plpgsql SECURITY DEFINER AS $f$
DECLARE
    v record;
    min_length integer := @S@.vardex_sec_setting('password.minlength', 0, 0, 49);
    hash_cost integer := @S@.vardex_sec_setting('password.cost', 10, 10, 15);
    rule integer;
    new_hash text;
    failure text;
BEGIN
    IF num_nulls(p_user_id, p_old, p_new, p_work_date, p_computer, p_user_name) > 0 THEN
        PERFORM @S@.vardex_sec_required('vardex_change_password_attempt',
                                        ARRAY[p_user_id, p_old, p_new, p_work_date, p_computer, p_user_name]);
    END IF;
    v := @S@.vardex_sec_verify(p_user_id, p_old, p_work_date);
    failure := @S@.vardex_sec_failure(v.code, v.code = 1 AND NOT v.tried);
    rule := CASE WHEN p_old = p_new THEN 5
                 WHEN (min_length > 0 AND char_length(p_new) < min_length) OR octet_length(p_new) > 72 THEN 7
                 ELSE 0 END;
    IF rule = 0 AND v.tried THEN
        new_hash := CASE WHEN p_new = '' THEN '' ELSE @C@.crypt(p_new, @C@.gen_salt('bf', hash_cost)) END;
    END IF;
    IF v.code = 0 AND rule <> 0 THEN
        v.code := rule;
    END IF;
    RETURN @S@.vardex_sec_ticket('P', v.code, NULL, v.lock_name, v.stored, p_user_id, p_computer, p_user_name,
                                 false, new_hash, failure);
END
$f$;

-- The answer of an attempt, once: (code, user_name) for a login, (code, NULL) for a change of
-- password; written by an earlier transaction that committed, or refused.
CREATE OR REPLACE FUNCTION @S@.vardex_answer(p_token text, OUT code integer, OUT user_name text)
LANGUAGE plpgsql SECURITY DEFINER AS $f$
DECLARE
    t record;
    changed integer;
BEGIN
    IF num_nulls(p_token) > 0 THEN
        PERFORM @S@.vardex_sec_required('vardex_answer', ARRAY[p_token]);
    END IF;
    SELECT * INTO t FROM @S@.vardex_tickets k WHERE k.token = p_token FOR UPDATE;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'vardex_answer: no attempt has this token (answered already, or too old)';
    END IF;
    IF pg_xact_status(t.xid) IS DISTINCT FROM 'committed' THEN
        RAISE EXCEPTION 'vardex_answer: the attempt has not committed; its answer is given in a later '
                        'transaction only';
    END IF;
    DELETE FROM @S@.vardex_tickets k WHERE k.token = p_token;
    -- The count a right password cleared to 0 in the attempt (the row is kept there so that a
    -- right and a wrong password write alike).
    DELETE FROM @S@.vardex_lockout l WHERE l.userID = left(t.user_id, 20) AND l.failures = 0;
    code := t.code;
    PERFORM @S@.vardex_sec_log_ticket(t.computer, t.user_id, t.failure, t.lock_name, t.made);
    IF code <> 0 THEN
        RETURN;
    END IF;
    IF t.kind = 'L' THEN
        user_name := t.user_name;
        IF t.write_rows THEN
            IF t.audit_user <> '' THEN
                PERFORM @S@.vardex_sec_log(t.computer, t.audit_user, '用户退出登录');
            END IF;
            PERFORM @S@.vardex_sec_log(t.computer, user_name, '用户登录');
        END IF;
        RETURN;
    END IF;
    PERFORM 1 FROM (SELECT u.userPwd FROM @S@.qx_user u WHERE u.userID = t.user_id FOR UPDATE) x
    WHERE coalesce(x.userPwd, '') = t.stored;
    IF NOT FOUND THEN
        code := 6;
        RETURN;
    END IF;
    UPDATE @S@.qx_user u SET userPwd = t.new_hash WHERE u.userID = t.user_id;
    GET DIAGNOSTICS changed = ROW_COUNT;
    IF changed <= 0 THEN
        code := 6;
        RETURN;
    END IF;
    PERFORM @S@.vardex_sec_log(t.computer, t.audit_user, '用户更改密码成功');
END
$f$;

-- CheckUserRight: the answer, whether the item is defined and its name; a grant writes the
-- audit row under p_user_name.
CREATE OR REPLACE FUNCTION @S@.vardex_check_right(p_user_id text, p_right_id integer, p_computer text,
                                                  p_user_name text, OUT code integer,
                                                  OUT item_defined boolean, OUT item_name text)
LANGUAGE plpgsql SECURITY DEFINER AS $f$
DECLARE
    d record;
BEGIN
    IF num_nulls(p_user_id, p_right_id, p_computer, p_user_name) > 0 THEN
        PERFORM @S@.vardex_sec_required('vardex_check_right',
                                        ARRAY[p_user_id, p_right_id::text, p_computer, p_user_name]);
    END IF;
    d := @S@.vardex_sec_deciding(p_user_id);
    code := d.code;
    IF code = 0 AND NOT EXISTS (SELECT 1 FROM @S@.qx_user_qx g WHERE g.userID = d.effective
                                AND g.qxID = p_right_id AND g.AllowCount > 0) THEN
        code := 3;
    END IF;
    SELECT n.qxName INTO item_name FROM @S@.qx_Name n WHERE n.qxID = p_right_id LIMIT 1;
    item_defined := FOUND;
    IF code = 0 THEN
        PERFORM @S@.vardex_sec_log(p_computer, p_user_name, '使用权限(' || coalesce(item_name, '') || ')');
    END IF;
END
$f$;

-- VardexQueryRights: the deciding answer as one digit, 1 or 2 when the user or his group is
-- missing; for 0, the items among p_right_ids the user holds (at least those: for a long list
-- every item he holds), each as 8 hexadecimal digits (the integer's two's complement, big-endian),
-- in no order. The library answers each item from that set. One query either way, no per-item
-- work on the server: a short list probes the grants' index for its items, a long one reads the
-- user's grants by the index once (what the classic call reads). No sort, no join.
CREATE OR REPLACE FUNCTION @S@.vardex_query_rights(p_user_id text, p_right_ids integer[]) RETURNS text
LANGUAGE plpgsql STABLE SECURITY DEFINER AS $f$
DECLARE
    group_zuid bigint;
    effective text;
BEGIN
    IF p_user_id IS NULL OR p_right_ids IS NULL OR array_position(p_right_ids, NULL) IS NOT NULL THEN
        RAISE EXCEPTION 'vardex_query_rights: the user or an item is NULL; every argument is required'
            USING ERRCODE = 'null_value_not_allowed';
    END IF;
    -- Whose grants decide, as vardex_sec_deciding finds them.
    SELECT coalesce(u.zuid, 0) INTO group_zuid FROM @S@.qx_user u WHERE u.userID = p_user_id LIMIT 1;
    IF NOT FOUND THEN
        RETURN '1';
    END IF;
    effective := p_user_id;
    IF group_zuid < 10000 THEN
        SELECT coalesce(g.userID, '') INTO effective FROM @S@.qx_user g WHERE g.zuid = group_zuid - 1000 LIMIT 1;
        IF NOT FOUND THEN
            RETURN '2';
        END IF;
    END IF;
    IF cardinality(p_right_ids) <= 64 THEN
        RETURN '0' || coalesce((SELECT encode(string_agg(int4send(q.qxID), ''::bytea), 'hex')
                                FROM @S@.qx_user_qx q
                                WHERE q.userID = effective AND q.qxID = ANY (p_right_ids)
                                  AND q.AllowCount > 0), '');
    END IF;
    RETURN '0' || coalesce((SELECT encode(string_agg(int4send(q.qxID), ''::bytea), 'hex')
                            FROM @S@.qx_user_qx q
                            WHERE q.userID = effective AND q.AllowCount > 0 AND q.qxID IS NOT NULL), '');
END
$f$;

-- DisconnectDatabase: the logout row.
CREATE OR REPLACE FUNCTION @S@.vardex_logout(p_computer text, p_user_name text) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER AS $f$
BEGIN
    IF num_nulls(p_computer, p_user_name) > 0 THEN
        PERFORM @S@.vardex_sec_required('vardex_logout', ARRAY[p_computer, p_user_name]);
    END IF;
    PERFORM @S@.vardex_sec_log(p_computer, p_user_name, '用户退出登录');
END
$f$;

-- The settings every function a desktop runs pins, whatever the caller's session holds (the
-- helpers run inside them): the store's schema before pg_temp (which is searched for tables and
-- types only, and named last), string literals read the standard way, times in the time zone of
-- the session that ran secure (the server's unless that session chose another), and a planner
-- that cannot be steered off the plans meant (nor to JIT compilation).
DO $do$
DECLARE
    f record;
    s text;
BEGIN
    FOR f IN SELECT p.oid::regprocedure AS name, p.prosecdef, p.proname FROM pg_catalog.pg_proc p
             WHERE p.pronamespace = $q$@S@$q$::regnamespace AND p.proname LIKE 'vardex\_%' LOOP
        CONTINUE WHEN NOT f.prosecdef;
        EXECUTE 'ALTER FUNCTION ' || f.name || $q$ SET search_path = pg_catalog, @S@, pg_temp$q$;
        FOREACH s IN ARRAY ARRAY['standard_conforming_strings = on', 'TimeZone FROM CURRENT',
                                 'DateStyle = ''ISO, YMD''', 'IntervalStyle = postgres', 'bytea_output = hex',
                                 'jit = off', 'plan_cache_mode = auto', 'work_mem = ''4MB'''] LOOP
            EXECUTE 'ALTER FUNCTION ' || f.name || ' SET ' || s;
        END LOOP;
    END LOOP;
END
$do$;
