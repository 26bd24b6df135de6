-- What vardex-cli secure of this release sent to secure a store in the schema public, its
-- statements that change the store in order, each ended by a line ";" (taken from the server's
-- statement log; the queries it only read with are left out). @FUNCTIONS@ stands for
-- securestore_sql.inc of the release (its @S@ "public", @C@ public, @R@ the role quoted);
-- @R@ is the client role quoted, @RL@ its name as a literal, @ROID@ its oid, @DB@ the database.
-- The whole ran in one transaction, after CREATE EXTENSION pgcrypto.
@FUNCTIONS@
;
CREATE TABLE "public".vardex_secure_grants (kind varchar(10) not null, object text not null, grantee text not null, privilege text not null)
;
INSERT INTO "public".vardex_secure_grants select case o.kind when 'COLUMN' then 'TABLE' else o.kind end, o.object, case when a.grantee = 0 then 'PUBLIC' else '@R@' end, a.privilege_type || o.part from (select 'TABLE' as kind, c.oid::regclass::text as object, coalesce(c.relacl, acldefault('r', c.relowner)) as acl, '' as part from pg_class c where c.relnamespace = '"public"'::regnamespace and c.relkind in ('r', 'p', 'v', 'm') and (c.relname like 'qx\_%' or c.relname like 'vardex\_%') union all select 'COLUMN', c.oid::regclass::text, t.attacl, ' (' || quote_ident(t.attname) || ')' from pg_attribute t join pg_class c on c.oid = t.attrelid where c.relnamespace = '"public"'::regnamespace and c.relkind in ('r', 'p', 'v', 'm') and (c.relname like 'qx\_%' or c.relname like 'vardex\_%') and t.attnum > 0 and not t.attisdropped and t.attacl is not null union all select 'ROUTINE', p.oid::regprocedure::text, coalesce(p.proacl, acldefault('f', p.proowner)), '' from pg_proc p where p.pronamespace = '"public"'::regnamespace and p.proname like 'qx%' union all select 'SCHEMA', quote_ident(n.nspname), coalesce(n.nspacl, acldefault('n', n.nspowner)), '' from pg_namespace n where n.oid = '"public"'::regnamespace union all select 'DATABASE', quote_ident(d.datname), coalesce(d.datacl, acldefault('d', d.datdba)), '' from pg_database d where d.datname = current_database()) o, aclexplode(o.acl) a where a.grantee in (0, @ROID@::oid) and o.kind in ('TABLE', 'COLUMN', 'ROUTINE', 'SCHEMA', 'DATABASE') and (o.kind <> 'DATABASE' or a.privilege_type = 'TEMPORARY')
;
COMMENT ON TABLE "public".vardex_secure_grants IS 'kept by vardex-cli secure for secure --undo: tables, columns, routines, schema and TEMPORARY on the database'
;
REVOKE ALL ON TABLE qx_name FROM PUBLIC, @R@
;
REVOKE ALL ON TABLE qx_name_temp FROM PUBLIC, @R@
;
REVOKE ALL ON TABLE qx_user FROM PUBLIC, @R@
;
REVOKE ALL ON TABLE qx_user_qx FROM PUBLIC, @R@
;
REVOKE ALL ON TABLE qx_user_zu FROM PUBLIC, @R@
;
REVOKE ALL ON TABLE qx_zu FROM PUBLIC, @R@
;
REVOKE ALL ON TABLE qx_logs FROM PUBLIC, @R@
;
REVOKE ALL ON TABLE vardex_settings FROM PUBLIC, @R@
;
REVOKE ALL ON TABLE vardex_lockout FROM PUBLIC, @R@
;
REVOKE ALL ON TABLE vardex_secure_grants FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qx_user_zu_changed(character varying,character varying,character) FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qxadduser(character varying) FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qxaddzuname(character varying) FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qxdeluser(character varying) FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qxdelzu(character varying) FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qxnamechanged() FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qxnamechanged_before() FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qxupdateallows(character varying,integer,character) FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qxupdateuserallows(character varying,character) FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qxuserintozu(character varying,integer) FROM PUBLIC, @R@
;
REVOKE ALL ON ROUTINE qxuseroutzu(character varying,integer) FROM PUBLIC, @R@
;
REVOKE TEMPORARY ON DATABASE @DB@ FROM PUBLIC, @R@
;
REVOKE CREATE ON SCHEMA "public" FROM PUBLIC, @R@
;
GRANT USAGE ON SCHEMA "public" TO @R@
;
REVOKE ALL ON FUNCTION "public".vardex_sec_setting(text, integer, integer, integer) FROM PUBLIC, @R@
;
REVOKE ALL ON FUNCTION "public".vardex_sec_log(text, text, text) FROM PUBLIC, @R@
;
REVOKE ALL ON FUNCTION "public".vardex_sec_matches(text, text) FROM PUBLIC, @R@
;
REVOKE ALL ON FUNCTION "public".vardex_sec_verify(text, text, text, text) FROM PUBLIC, @R@
;
REVOKE ALL ON FUNCTION "public".vardex_sec_deciding(text) FROM PUBLIC, @R@
;
REVOKE ALL ON FUNCTION "public".vardex_login(text, text, text, text, text, boolean) FROM PUBLIC, @R@
;
REVOKE ALL ON FUNCTION "public".vardex_check_right(text, integer, text, text) FROM PUBLIC, @R@
;
REVOKE ALL ON FUNCTION "public".vardex_query_rights(text, integer[]) FROM PUBLIC, @R@
;
REVOKE ALL ON FUNCTION "public".vardex_change_password(text, text, text, text, text, text) FROM PUBLIC, @R@
;
REVOKE ALL ON FUNCTION "public".vardex_logout(text, text) FROM PUBLIC, @R@
;
GRANT EXECUTE ON FUNCTION "public".vardex_login(text, text, text, text, text, boolean) TO @R@
;
GRANT EXECUTE ON FUNCTION "public".vardex_check_right(text, integer, text, text) TO @R@
;
GRANT EXECUTE ON FUNCTION "public".vardex_query_rights(text, integer[]) TO @R@
;
GRANT EXECUTE ON FUNCTION "public".vardex_change_password(text, text, text, text, text, text) TO @R@
;
GRANT EXECUTE ON FUNCTION "public".vardex_logout(text, text) TO @R@
;
