CREATE TABLE qx_Name (
	qxID int NULL,
	qxName varchar(30) NULL,
	qxNameEx varchar(50) NULL
)
GO
/* Snapshot of qx_Name taken by qxNameChanged_before; created empty so that the first edit works. */
CREATE TABLE qx_Name_Temp (
	qxID int NULL,
	qxName varchar(30) NULL,
	qxNameEx varchar(50) NULL
)
GO
/* Users and user groups. A user-group row is inserted with zuid, userID and userName only:
   it starts enabled and with a discount of 0. */
CREATE TABLE qx_user (
	userID varchar(20) NULL,
	userName varchar(20) NULL,
	userPwd varchar(100) NULL,
	startTime varchar(10) NULL,
	endTime varchar(10) NULL,
	Allow char(1) NOT NULL DEFAULT 'T',
	AllowZekou int NOT NULL DEFAULT 0,
	zuid int NULL
);
CREATE INDEX ix_qx_user_userID ON qx_user (userID);
CREATE INDEX ix_qx_user_zuid ON qx_user (zuid);
GO
/* Grant counts, one row per (user or user group, permission item). */
CREATE TABLE qx_user_qx (
	userID varchar(20) NULL,
	qxID int NULL,
	AllowCount int NOT NULL
);
CREATE INDEX ix_qx_user_qx_userID_qxID ON qx_user_qx (userID, qxID);
GO
/* Assignments of users and user groups to permission groups. */
CREATE TABLE qx_user_zu (
	userID varchar(20) NULL,
	zuName varchar(20) NULL,
	Allow char(1) NOT NULL
);
CREATE INDEX ix_qx_user_zu_userID_zuName ON qx_user_zu (userID, zuName);
GO
/* Contents of the permission groups, one row per (permission group, permission item). */
CREATE TABLE qx_zu (
	zuName varchar(20) NULL,
	qxID int NULL,
	Allow char(1) NOT NULL
);
CREATE INDEX ix_qx_zu_zuName_qxID ON qx_zu (zuName, qxID);
GO
/* The audit log. */
CREATE TABLE qx_Logs (
	CompName varchar(100) NULL,
	userName varchar(20) NULL,
	theTime varchar(20) NULL,
	theLog varchar(100) NULL
);
CREATE INDEX ix_qx_Logs_theTime ON qx_Logs (theTime);
GO
/* Gives a new user or user group one grant row per item (count 0) and one assignment row per
   permission group (not assigned); rows it already has are kept. */
CREATE PROCEDURE qxAddUser(p_theID varchar(20))
LANGUAGE plpgsql
AS $$
BEGIN
	INSERT INTO qx_user_qx (userID, qxID, AllowCount)
		SELECT DISTINCT p_theID, n.qxID, 0 FROM qx_Name n WHERE n.qxID IS NOT NULL
		AND NOT EXISTS (SELECT 1 FROM qx_user_qx q WHERE q.userID = p_theID AND q.qxID = n.qxID);
	INSERT INTO qx_user_zu (userID, zuName, Allow)
		SELECT DISTINCT p_theID, z.zuName, 'F' FROM qx_zu z WHERE z.zuName IS NOT NULL
		AND NOT EXISTS (SELECT 1 FROM qx_user_zu a WHERE a.userID = p_theID AND a.zuName = z.zuName);
END
$$
GO
/* A new permission group: one row per item (not granted) and one assignment row for every
   qx_user row (not assigned). A group exists while it has contents; assignment rows left
   from an earlier group of the name that no longer exists are dropped first, so the new
   group starts with nobody assigned. Existing rows are never doubled. */
CREATE PROCEDURE qxAddzuName(p_zuName varchar(20))
LANGUAGE plpgsql
AS $$
BEGIN
	DELETE FROM qx_user_zu WHERE zuName = p_zuName
		AND NOT EXISTS (SELECT 1 FROM qx_zu z WHERE z.zuName = p_zuName);
	INSERT INTO qx_zu (zuName, qxID, Allow)
		SELECT DISTINCT p_zuName, n.qxID, 'F' FROM qx_Name n WHERE n.qxID IS NOT NULL
		AND NOT EXISTS (SELECT 1 FROM qx_zu z WHERE z.zuName = p_zuName AND z.qxID = n.qxID);
	INSERT INTO qx_user_zu (userID, zuName, Allow)
		SELECT DISTINCT u.userID, p_zuName, 'F' FROM qx_user u WHERE u.userID IS NOT NULL
		AND NOT EXISTS (SELECT 1 FROM qx_user_zu a WHERE a.userID = u.userID AND a.zuName = p_zuName);
END
$$
GO
/* Deletes a user, or a user group together with its members (zuid 1000 + group number),
   with their grant and assignment rows. */
CREATE PROCEDURE qxDelUser(p_theID varchar(20))
LANGUAGE plpgsql
AS $$
BEGIN
	DELETE FROM qx_user_qx WHERE userID IN (
		SELECT m.userID FROM qx_user m JOIN qx_user g ON m.zuid = g.zuid + 1000
		WHERE g.userID = p_theID AND g.zuid BETWEEN 1 AND 999);
	DELETE FROM qx_user_zu WHERE userID IN (
		SELECT m.userID FROM qx_user m JOIN qx_user g ON m.zuid = g.zuid + 1000
		WHERE g.userID = p_theID AND g.zuid BETWEEN 1 AND 999);
	DELETE FROM qx_user WHERE zuid IN (
		SELECT zuid + 1000 FROM qx_user WHERE userID = p_theID AND zuid BETWEEN 1 AND 999);
	DELETE FROM qx_user WHERE userID = p_theID;
	DELETE FROM qx_user_qx WHERE userID = p_theID;
	DELETE FROM qx_user_zu WHERE userID = p_theID;
END
$$
GO
/* Deletes a permission group: every user assigned to it loses one count on every item it
   grants, then its assignment rows and its contents go. */
CREATE PROCEDURE qxDelzu(p_zuName varchar(20))
LANGUAGE plpgsql
AS $$
BEGIN
	UPDATE qx_user_qx SET AllowCount = AllowCount - 1
		WHERE userID IN (SELECT userID FROM qx_user_zu WHERE zuName = p_zuName AND Allow = 'T')
		AND qxID IN (SELECT qxID FROM qx_zu WHERE zuName = p_zuName AND Allow = 'T');
	DELETE FROM qx_user_zu WHERE zuName = p_zuName;
	DELETE FROM qx_zu WHERE zuName = p_zuName;
END
$$
GO
/* Carries an edit of the item list over to the grants and the group contents. qx_Temp gets
   the renumbered items (a = new number, b = old number, c and d = their identity keys); it
   lives until the next qxNameChanged_before, so a second run without that fails.
   Rows of an item whose identity is gone are removed first, so that they never pass to an
   item that takes its number; then every row is renumbered once through the old-to-new
   pairs; then rows of numbers no longer in use go; then new items get their rows (count 0,
   not granted), never twice. */
CREATE PROCEDURE qxNameChanged()
LANGUAGE plpgsql
AS $$
BEGIN
	CREATE TABLE qx_Temp AS (
		SELECT n.qxID AS a, t.qxID AS b, n.qxNameEx AS c, t.qxNameEx AS d
		FROM qx_Name n JOIN qx_Name_Temp t ON n.qxNameEx = t.qxNameEx
		WHERE n.qxID <> t.qxID
		AND NOT EXISTS (SELECT 1 FROM qx_Name n2 WHERE n2.qxNameEx = t.qxNameEx AND n2.qxID = t.qxID)
		AND NOT EXISTS (SELECT 1 FROM qx_Name_Temp t2 WHERE t2.qxNameEx = n.qxNameEx AND t2.qxID = n.qxID));
	DELETE FROM qx_user_qx
		WHERE qxID IN (SELECT t.qxID FROM qx_Name_Temp t
			WHERE NOT EXISTS (SELECT 1 FROM qx_Name n WHERE n.qxNameEx = t.qxNameEx))
		AND qxID NOT IN (SELECT t.qxID FROM qx_Name_Temp t WHERE t.qxID IS NOT NULL
			AND EXISTS (SELECT 1 FROM qx_Name n WHERE n.qxNameEx = t.qxNameEx));
	DELETE FROM qx_zu
		WHERE qxID IN (SELECT t.qxID FROM qx_Name_Temp t
			WHERE NOT EXISTS (SELECT 1 FROM qx_Name n WHERE n.qxNameEx = t.qxNameEx))
		AND qxID NOT IN (SELECT t.qxID FROM qx_Name_Temp t WHERE t.qxID IS NOT NULL
			AND EXISTS (SELECT 1 FROM qx_Name n WHERE n.qxNameEx = t.qxNameEx));
	UPDATE qx_user_qx SET qxID = p.a
		FROM (SELECT b, min(a) AS a FROM qx_Temp WHERE b IS NOT NULL GROUP BY b) p
		WHERE qx_user_qx.qxID = p.b;
	UPDATE qx_zu SET qxID = p.a
		FROM (SELECT b, min(a) AS a FROM qx_Temp WHERE b IS NOT NULL GROUP BY b) p
		WHERE qx_zu.qxID = p.b;
	DELETE FROM qx_user_qx
		WHERE qxID IS NULL OR qxID NOT IN (SELECT n.qxID FROM qx_Name n WHERE n.qxID IS NOT NULL);
	DELETE FROM qx_zu
		WHERE qxID IS NULL OR qxID NOT IN (SELECT n.qxID FROM qx_Name n WHERE n.qxID IS NOT NULL);
	INSERT INTO qx_zu (zuName, qxID, Allow)
		SELECT g.zuName, i.qxID, 'F'
		FROM (SELECT DISTINCT n.qxID FROM qx_Name n
			WHERE n.qxID IS NOT NULL
			AND (n.qxNameEx IS NULL
				OR n.qxNameEx NOT IN (SELECT t.qxNameEx FROM qx_Name_Temp t WHERE t.qxNameEx IS NOT NULL)
				OR (n.qxID NOT IN (SELECT DISTINCT q.qxID FROM qx_user_qx q WHERE q.qxID IS NOT NULL)
					AND n.qxID NOT IN (SELECT DISTINCT z.qxID FROM qx_zu z WHERE z.qxID IS NOT NULL)))) i,
			(SELECT DISTINCT z.zuName FROM qx_zu z WHERE z.zuName IS NOT NULL) g
		WHERE NOT EXISTS (SELECT 1 FROM qx_zu z WHERE z.zuName = g.zuName AND z.qxID = i.qxID);
	INSERT INTO qx_user_qx (userID, qxID, AllowCount)
		SELECT u.userID, i.qxID, 0
		FROM (SELECT DISTINCT n.qxID FROM qx_Name n
			WHERE n.qxID IS NOT NULL
			AND (n.qxNameEx IS NULL
				OR n.qxNameEx NOT IN (SELECT t.qxNameEx FROM qx_Name_Temp t WHERE t.qxNameEx IS NOT NULL)
				OR n.qxID NOT IN (SELECT DISTINCT q.qxID FROM qx_user_qx q WHERE q.qxID IS NOT NULL))) i,
			(SELECT DISTINCT v.userID FROM qx_user v WHERE v.userID IS NOT NULL) u
		WHERE NOT EXISTS (SELECT 1 FROM qx_user_qx q WHERE q.userID = u.userID AND q.qxID = i.qxID);
END
$$
GO
/* Before the item list is edited: drops qx_Temp, gives every item its identity key (its
   number followed by its name) and takes a new snapshot into qx_Name_Temp. */
CREATE PROCEDURE qxNameChanged_before()
LANGUAGE plpgsql
AS $$
BEGIN
	IF to_regclass('qx_temp') IS NOT NULL THEN
		DROP TABLE qx_Temp;
	END IF;
	IF to_regclass('qx_name_temp') IS NOT NULL THEN
		DROP TABLE qx_Name_Temp;
	END IF;
	UPDATE qx_Name SET qxNameEx = CAST(qxID AS varchar) || coalesce(qxName, '');
	CREATE TABLE qx_Name_Temp AS (SELECT qxID, qxName, qxNameEx FROM qx_Name);
END
$$
GO
/* A permission group starts or stops granting one item: every user assigned to the group
   gains or loses one count on that item. */
CREATE PROCEDURE qxUpDateAllows(p_zuName varchar(20), p_qxID int, p_Allow char(1))
LANGUAGE plpgsql
AS $$
BEGIN
	UPDATE qx_zu SET Allow = p_Allow WHERE zuName = p_zuName AND qxID = p_qxID;
	UPDATE qx_user_qx SET AllowCount = AllowCount + (CASE WHEN p_Allow = 'T' THEN 1 ELSE -1 END)
		WHERE qxID = p_qxID
		AND userID IN (SELECT userID FROM qx_user_zu WHERE zuName = p_zuName AND Allow = 'T');
END
$$
GO
/* A user or user group is put into a permission group or taken out of it: one count more or
   less on every item the group grants. */
CREATE PROCEDURE qx_user_zu_changed(p_userID varchar(20), p_zuName varchar(20), p_Allow char(1))
LANGUAGE plpgsql
AS $$
BEGIN
	UPDATE qx_user_zu SET Allow = p_Allow WHERE userID = p_userID AND zuName = p_zuName;
	UPDATE qx_user_qx SET AllowCount = AllowCount + (CASE WHEN p_Allow = 'T' THEN 1 ELSE -1 END)
		WHERE userID = p_userID
		AND qxID IN (SELECT qxID FROM qx_zu WHERE zuName = p_zuName AND Allow = 'T');
END
$$
GO
/* Enables or disables an account. */
CREATE PROCEDURE qxUpDateUserAllows(p_userID varchar(20), p_Allow char(1))
LANGUAGE plpgsql
AS $$
BEGIN
	UPDATE qx_user SET Allow = p_Allow WHERE userID = p_userID;
END
$$
GO
/* A user has joined user group p_n: its rights now come from the group's row, so its own
   grant and assignment rows go. */
CREATE PROCEDURE qxuserintozu(p_userID varchar(20), p_n int)
LANGUAGE plpgsql
AS $$
BEGIN
	DELETE FROM qx_user_qx WHERE userID = p_userID;
	DELETE FROM qx_user_zu WHERE userID = p_userID;
END
$$
GO
/* A user has left user group p_n and holds rights of its own again: it starts as a new user
   does, one grant row per item (count 0) and one assignment row per permission group (not
   assigned). */
CREATE PROCEDURE qxuseroutzu(p_userID varchar(20), p_n int)
LANGUAGE plpgsql
AS $$
BEGIN
	DELETE FROM qx_user_qx WHERE userID = p_userID;
	DELETE FROM qx_user_zu WHERE userID = p_userID;
	INSERT INTO qx_user_qx (userID, qxID, AllowCount)
		SELECT DISTINCT p_userID, qxID, 0 FROM qx_Name WHERE qxID IS NOT NULL;
	INSERT INTO qx_user_zu (userID, zuName, Allow)
		SELECT DISTINCT p_userID, zuName, 'F' FROM qx_zu WHERE zuName IS NOT NULL;
END
$$
GO
