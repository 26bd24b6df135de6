/* Step 3: what the releases after the first added to the classic schema: the lookup index on
   the items' numbers, and (PostgreSQL) the permission-group procedures that take a per-group
   lock and lock count rows in one order. Each statement leaves a store that already has its
   object as it is, so a store of any of those releases, and one made by the first release
   whose password policy tables an older vardex-cli upgrade added, takes this step. */
/* Items are looked up by number; two items may share one. */
CREATE INDEX IF NOT EXISTS ix_qx_Name_qxID ON qx_Name (qxID)
GO
/* Deletes a permission group: every user assigned to it loses one count on every item it
   grants, then its assignment rows and its contents go. */
CREATE OR REPLACE PROCEDURE qxDelzu(p_zuName varchar(20))
LANGUAGE plpgsql
AS $$
BEGIN
	/* Several desktops may change one permission group at once. Its grant counts depend on
	   both its contents (qx_zu) and its assignments (qx_user_zu): without this lock one
	   transaction changing an assignment and another changing the contents each miss the
	   other's uncommitted row and the counts drift. The lock (held to commit) serialises the
	   procedures that read both for one group; each statement after it sees the other's
	   committed rows (READ COMMITTED takes a new snapshot per statement). */
	PERFORM pg_advisory_xact_lock(1447315525, hashtext(p_zuName));
	/* Count rows are locked in one order (user, item) before they change: two groups'
	   procedures touching the same users' counts would otherwise deadlock. */
	PERFORM 1 FROM qx_user_qx
		WHERE userID IN (SELECT userID FROM qx_user_zu WHERE zuName = p_zuName AND Allow = 'T')
		AND qxID IN (SELECT qxID FROM qx_zu WHERE zuName = p_zuName AND Allow = 'T')
		ORDER BY userID, qxID FOR UPDATE;
	UPDATE qx_user_qx SET AllowCount = AllowCount - 1
		WHERE userID IN (SELECT userID FROM qx_user_zu WHERE zuName = p_zuName AND Allow = 'T')
		AND qxID IN (SELECT qxID FROM qx_zu WHERE zuName = p_zuName AND Allow = 'T');
	DELETE FROM qx_user_zu WHERE zuName = p_zuName;
	DELETE FROM qx_zu WHERE zuName = p_zuName;
END
$$
GO
/* A permission group starts or stops granting one item: every user assigned to the group
   gains or loses one count on that item. */
CREATE OR REPLACE PROCEDURE qxUpDateAllows(p_zuName varchar(20), p_qxID int, p_Allow char(1))
LANGUAGE plpgsql
AS $$
BEGIN
	/* One permission group at a time: see qxDelzu. */
	PERFORM pg_advisory_xact_lock(1447315525, hashtext(p_zuName));
	UPDATE qx_zu SET Allow = p_Allow WHERE zuName = p_zuName AND qxID = p_qxID;
	/* Count rows are locked in one order (user, item) before they change: two groups'
	   procedures touching the same users' counts would otherwise deadlock. */
	PERFORM 1 FROM qx_user_qx
		WHERE qxID = p_qxID
		AND userID IN (SELECT userID FROM qx_user_zu WHERE zuName = p_zuName AND Allow = 'T')
		ORDER BY userID, qxID FOR UPDATE;
	UPDATE qx_user_qx SET AllowCount = AllowCount + (CASE WHEN p_Allow = 'T' THEN 1 ELSE -1 END)
		WHERE qxID = p_qxID
		AND userID IN (SELECT userID FROM qx_user_zu WHERE zuName = p_zuName AND Allow = 'T');
END
$$
GO
/* A user or user group is put into a permission group or taken out of it: one count more or
   less on every item the group grants. */
CREATE OR REPLACE PROCEDURE qx_user_zu_changed(p_userID varchar(20), p_zuName varchar(20), p_Allow char(1))
LANGUAGE plpgsql
AS $$
BEGIN
	/* One permission group at a time: see qxDelzu. */
	PERFORM pg_advisory_xact_lock(1447315525, hashtext(p_zuName));
	UPDATE qx_user_zu SET Allow = p_Allow WHERE userID = p_userID AND zuName = p_zuName;
	/* Count rows are locked in one order (user, item) before they change: two groups'
	   procedures touching the same users' counts would otherwise deadlock. */
	PERFORM 1 FROM qx_user_qx
		WHERE userID = p_userID
		AND qxID IN (SELECT qxID FROM qx_zu WHERE zuName = p_zuName AND Allow = 'T')
		ORDER BY userID, qxID FOR UPDATE;
	UPDATE qx_user_qx SET AllowCount = AllowCount + (CASE WHEN p_Allow = 'T' THEN 1 ELSE -1 END)
		WHERE userID = p_userID
		AND qxID IN (SELECT qxID FROM qx_zu WHERE zuName = p_zuName AND Allow = 'T');
END
$$
GO
