-- The functions of a secured PostgreSQL store, as one script. @S@ stands for the store's schema
-- and @C@ for the schema pgcrypto is in, both as quoted identifiers; @R@ for the desktops' role.
-- Every function takes its values as typed parameters and builds no statement text; each runs
-- with a search path of its own, so nothing a caller puts on his path is found first.
-- The vardex_sec_ helpers are called by the functions only: nobody but the owner may run them.
-- secure runs this file as one statement; a function named vardex_sec_ is a helper, every other
-- one a function the desktops may run: secure takes their signatures from here.
CREATE OR REPLACE FUNCTION @S@.vardex_sec_setting(p_name text, p_default integer, p_low integer,
                                                  p_high integer) RETURNS integer
LANGUAGE plpgsql STABLE SET search_path = pg_catalog, @S@, pg_temp AS $f$
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

-- An audit row, at the server's time as the library writes theTime. In PL/pgSQL, whose plans a
-- session keeps (a SQL function's would be planned again at every call).
CREATE OR REPLACE FUNCTION @S@.vardex_sec_log(p_computer text, p_user_name text, p_text text) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, @S@, pg_temp AS $f$
BEGIN
    INSERT INTO @S@.qx_Logs (CompName, userName, theTime, theLog)
    VALUES (p_computer, p_user_name, to_char(now(), 'YYYY-MM-DD HH24:MI:SS'), p_text);
END
$f$;

-- Whether a typed password verifies against a stored value: empty against empty, a bcrypt hash
-- by crypt(); cipher text never (a secured store holds none). The two results are compared as
-- digests, so the time taken tells nothing of where they differ.
CREATE OR REPLACE FUNCTION @S@.vardex_sec_matches(p_password text, p_stored text) RETURNS boolean
LANGUAGE plpgsql STABLE SET search_path = pg_catalog, @S@, pg_temp AS $f$
DECLARE
    setting text;
BEGIN
    IF coalesce(p_stored, '') = '' THEN
        RETURN p_password = '';
    END IF;
    IF p_stored !~ '^\$2[aby]\$(1[0-5]|0[4-9])\$[./A-Za-z0-9]{53}$' THEN
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
-- user_name and stored are those of the row that matched.
CREATE OR REPLACE FUNCTION @S@.vardex_sec_verify(p_user_id text, p_password text, p_work_date text,
                                                 p_computer text, OUT code integer, OUT user_name text,
                                                 OUT stored text)
LANGUAGE plpgsql SET search_path = pg_catalog, @S@, pg_temp AS $f$
DECLARE
    r record;
    first_name text;
    seen boolean := false;
    matched boolean := false;
    lock_after integer := @S@.vardex_sec_setting('lockout.failures', 0, 0, 1000);
    lock_minutes integer := @S@.vardex_sec_setting('lockout.minutes', 15, 1, 100000);
    hash_cost integer := @S@.vardex_sec_setting('password.cost', 10, 10, 15);
    now_utc text := to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS');
    expiry text;
    counted integer;
    work_date bytea := convert_to(p_work_date, 'GB18030');
BEGIN
    expiry := to_char((now() AT TIME ZONE 'UTC') - make_interval(mins => lock_minutes), 'YYYY-MM-DD HH24:MI:SS');
    FOR r IN SELECT u.userName AS name, u.userPwd AS pwd, u.Allow AS allow, u.startTime AS start_time,
                    u.endTime AS end_time
             FROM @S@.qx_user u WHERE u.userID = p_user_id AND u.zuid > 1000 LOOP
        IF NOT seen THEN
            seen := true;
            first_name := r.name;
            IF lock_after > 0 AND EXISTS (SELECT 1 FROM @S@.vardex_lockout l
                                        WHERE l.userID = p_user_id AND l.failures >= lock_after
                                          AND l.lastFailure > expiry) THEN
                code := 1;
                RETURN;
            END IF;
        END IF;
        IF @S@.vardex_sec_matches(p_password, r.pwd) THEN
            matched := true;
            EXIT;
        END IF;
    END LOOP;
    IF NOT seen THEN
        PERFORM @C@.crypt(p_password, @C@.gen_salt('bf', hash_cost));
        code := 4;
        RETURN;
    END IF;
    IF NOT matched THEN
        code := 3;
        IF lock_after > 0 THEN
            INSERT INTO @S@.vardex_lockout AS l (userID, failures, lastFailure)
            VALUES (p_user_id, 1, now_utc)
            ON CONFLICT (userID) DO UPDATE
                SET failures = CASE WHEN l.failures >= lock_after AND l.lastFailure <= expiry THEN 1
                                    ELSE l.failures + 1 END,
                    lastFailure = now_utc
            RETURNING l.failures INTO counted;
            IF counted = lock_after THEN
                PERFORM @S@.vardex_sec_log(p_computer, first_name, '账号锁定');
            END IF;
        END IF;
        RETURN;
    END IF;
    IF lock_after > 0 THEN
        DELETE FROM @S@.vardex_lockout l WHERE l.userID = p_user_id;
    END IF;
    user_name := r.name;
    stored := coalesce(r.pwd, '');
    IF r.allow IS DISTINCT FROM 'T' THEN
        code := 1;
    ELSIF work_date < convert_to(coalesce(r.start_time, ''), 'GB18030')
          OR work_date > convert_to(coalesce(r.end_time, ''), 'GB18030') THEN
        code := 2;
    ELSE
        code := 0;
    END IF;
END
$f$;

-- Whose grants decide for a user: his own outside any user group, his group's for a member.
-- code 0 with effective, 1 no such user, 2 the member's group is missing.
CREATE OR REPLACE FUNCTION @S@.vardex_sec_deciding(p_user_id text, OUT code integer, OUT effective text)
LANGUAGE plpgsql STABLE SET search_path = pg_catalog, @S@, pg_temp AS $f$
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

-- CheckUserLogin: the answer, and for 0 the user's name. With p_write_rows, a login writes the
-- logout row of p_previous_user (when not empty) and the login row.
CREATE OR REPLACE FUNCTION @S@.vardex_login(p_user_id text, p_password text, p_work_date text,
                                            p_computer text, p_previous_user text, p_write_rows boolean,
                                            OUT code integer, OUT user_name text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$
DECLARE
    v record;
BEGIN
    v := @S@.vardex_sec_verify(p_user_id, p_password, p_work_date, p_computer);
    code := v.code;
    IF code <> 0 THEN
        RETURN;
    END IF;
    user_name := v.user_name;
    IF p_write_rows THEN
        IF coalesce(p_previous_user, '') <> '' THEN
            PERFORM @S@.vardex_sec_log(p_computer, p_previous_user, '用户退出登录');
        END IF;
        PERFORM @S@.vardex_sec_log(p_computer, user_name, '用户登录');
    END IF;
END
$f$;

-- CheckUserRight: the answer, whether the item is defined and its name; a grant writes the
-- audit row under p_user_name.
CREATE OR REPLACE FUNCTION @S@.vardex_check_right(p_user_id text, p_right_id integer, p_computer text,
                                                  p_user_name text, OUT code integer,
                                                  OUT item_defined boolean, OUT item_name text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$
DECLARE
    d record;
BEGIN
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

-- VardexQueryRights: one answer per item, in the order given.
CREATE OR REPLACE FUNCTION @S@.vardex_query_rights(p_user_id text, p_right_ids integer[]) RETURNS integer[]
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$
DECLARE
    d record;
BEGIN
    d := @S@.vardex_sec_deciding(p_user_id);
    IF d.code <> 0 THEN
        RETURN array(SELECT d.code FROM unnest(p_right_ids));
    END IF;
    -- One probe of the grants' index per item: cheaper than joining with all of the user's grants.
    RETURN array(SELECT CASE WHEN EXISTS (SELECT 1 FROM @S@.qx_user_qx q WHERE q.userID = d.effective
                                          AND q.qxID = i.id AND q.AllowCount > 0) THEN 0 ELSE 3 END
                 FROM unnest(p_right_ids) WITH ORDINALITY AS i(id, n)
                 ORDER BY i.n);
END
$f$;

-- ChangeUserPassword: 1 to 4 from verifying the old password, 5 the same password, 7 shorter
-- than the policy's minimum, 6 not updated (the password verified is no longer the stored
-- one), 0 changed (stored as a hash of the policy's cost; empty stays empty).
CREATE OR REPLACE FUNCTION @S@.vardex_change_password(p_user_id text, p_old text, p_new text,
                                                      p_work_date text, p_computer text,
                                                      p_user_name text) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$
DECLARE
    v record;
    min_length integer := @S@.vardex_sec_setting('password.minlength', 0, 0, 49);
    hash_cost integer := @S@.vardex_sec_setting('password.cost', 10, 10, 15);
    changed integer;
BEGIN
    v := @S@.vardex_sec_verify(p_user_id, p_old, p_work_date, p_computer);
    IF v.code <> 0 THEN
        RETURN v.code;
    END IF;
    IF p_old = p_new THEN
        RETURN 5;
    END IF;
    IF min_length > 0 AND char_length(p_new) < min_length THEN
        RETURN 7;
    END IF;
    PERFORM 1 FROM (SELECT u.userPwd FROM @S@.qx_user u WHERE u.userID = p_user_id FOR UPDATE) x
    WHERE coalesce(x.userPwd, '') = v.stored;
    IF NOT FOUND THEN
        RETURN 6;
    END IF;
    UPDATE @S@.qx_user u
    SET userPwd = CASE WHEN p_new = '' THEN '' ELSE @C@.crypt(p_new, @C@.gen_salt('bf', hash_cost)) END
    WHERE u.userID = p_user_id;
    GET DIAGNOSTICS changed = ROW_COUNT;
    IF changed <= 0 THEN
        RETURN 6;
    END IF;
    PERFORM @S@.vardex_sec_log(p_computer, p_user_name, '用户更改密码成功');
    RETURN 0;
END
$f$;

-- DisconnectDatabase: the logout row.
CREATE OR REPLACE FUNCTION @S@.vardex_logout(p_computer text, p_user_name text) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$
BEGIN
    PERFORM @S@.vardex_sec_log(p_computer, p_user_name, '用户退出登录');
END
$f$;
