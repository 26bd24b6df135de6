CREATE TABLE qx_Name (
	qxID int NULL,
	qxName varchar(30) NULL CHECK (length(qxName) <= 30),
	qxNameEx varchar(50) NULL CHECK (length(qxNameEx) <= 50)
)
GO
/* Snapshot of qx_Name taken by qxNameChanged_before; created empty so that the first edit works. */
CREATE TABLE qx_Name_Temp (
	qxID int NULL,
	qxName varchar(30) NULL CHECK (length(qxName) <= 30),
	qxNameEx varchar(50) NULL CHECK (length(qxNameEx) <= 50)
)
GO
/* Users and user groups. A user-group row is inserted with zuid, userID and userName only:
   it starts enabled and with a discount of 0. The CHECK constraints refuse over-long values
   as a server refuses them for its varchar columns. */
CREATE TABLE qx_user (
	userID varchar(20) NULL CHECK (length(userID) <= 20),
	userName varchar(20) NULL CHECK (length(userName) <= 20),
	userPwd varchar(100) NULL CHECK (length(userPwd) <= 100),
	startTime varchar(10) NULL CHECK (length(startTime) <= 10),
	endTime varchar(10) NULL CHECK (length(endTime) <= 10),
	Allow char(1) NOT NULL DEFAULT 'T' CHECK (length(Allow) <= 1),
	AllowZekou int NOT NULL DEFAULT 0,
	zuid int NULL
);
CREATE INDEX ix_qx_user_userID ON qx_user (userID);
CREATE INDEX ix_qx_user_zuid ON qx_user (zuid);
GO
/* Grant counts, one row per (user or user group, permission item). */
CREATE TABLE qx_user_qx (
	userID varchar(20) NULL CHECK (length(userID) <= 20),
	qxID int NULL,
	AllowCount int NOT NULL
);
CREATE INDEX ix_qx_user_qx_userID_qxID ON qx_user_qx (userID, qxID);
GO
/* Assignments of users and user groups to permission groups. */
CREATE TABLE qx_user_zu (
	userID varchar(20) NULL CHECK (length(userID) <= 20),
	zuName varchar(20) NULL CHECK (length(zuName) <= 20),
	Allow char(1) NOT NULL CHECK (length(Allow) <= 1)
);
CREATE INDEX ix_qx_user_zu_userID_zuName ON qx_user_zu (userID, zuName);
GO
/* Contents of the permission groups, one row per (permission group, permission item). */
CREATE TABLE qx_zu (
	zuName varchar(20) NULL CHECK (length(zuName) <= 20),
	qxID int NULL,
	Allow char(1) NOT NULL CHECK (length(Allow) <= 1)
);
CREATE INDEX ix_qx_zu_zuName_qxID ON qx_zu (zuName, qxID);
GO
/* The audit log. */
CREATE TABLE qx_Logs (
	CompName varchar(100) NULL CHECK (length(CompName) <= 100),
	userName varchar(20) NULL CHECK (length(userName) <= 20),
	theTime varchar(20) NULL CHECK (length(theTime) <= 20),
	theLog varchar(100) NULL CHECK (length(theLog) <= 100)
);
CREATE INDEX ix_qx_Logs_theTime ON qx_Logs (theTime);
GO
/* A stored procedure is a view whose columns are its parameters, with an INSTEAD OF INSERT
   trigger that runs its body: INSERT INTO qxAddUser VALUES ('id') runs qxAddUser 'id'.
   qxAddUser gives a new user or user group one grant row per item (count 0) and one
   assignment row per permission group (not assigned); rows it already has are kept. */
CREATE VIEW qxAddUser AS SELECT NULL AS theID WHERE 0;
CREATE TRIGGER qxAddUser_run INSTEAD OF INSERT ON qxAddUser
BEGIN
	INSERT INTO qx_user_qx (userID, qxID, AllowCount)
		SELECT DISTINCT NEW.theID, n.qxID, 0 FROM qx_Name n WHERE n.qxID IS NOT NULL
		AND NOT EXISTS (SELECT 1 FROM qx_user_qx q WHERE q.userID = NEW.theID AND q.qxID = n.qxID);
	INSERT INTO qx_user_zu (userID, zuName, Allow)
		SELECT DISTINCT NEW.theID, z.zuName, 'F' FROM qx_zu z WHERE z.zuName IS NOT NULL
		AND NOT EXISTS (SELECT 1 FROM qx_user_zu a WHERE a.userID = NEW.theID AND a.zuName = z.zuName);
END;
GO
/* A new permission group: one row per item (not granted) and one assignment row for every
   qx_user row (not assigned). A group exists while it has contents; assignment rows left
   from an earlier group of the name that no longer exists are dropped first, so the new
   group starts with nobody assigned. Existing rows are never doubled. */
CREATE VIEW qxAddzuName AS SELECT NULL AS zuName WHERE 0;
CREATE TRIGGER qxAddzuName_run INSTEAD OF INSERT ON qxAddzuName
BEGIN
	DELETE FROM qx_user_zu WHERE zuName = NEW.zuName
		AND NOT EXISTS (SELECT 1 FROM qx_zu z WHERE z.zuName = NEW.zuName);
	INSERT INTO qx_zu (zuName, qxID, Allow)
		SELECT DISTINCT NEW.zuName, n.qxID, 'F' FROM qx_Name n WHERE n.qxID IS NOT NULL
		AND NOT EXISTS (SELECT 1 FROM qx_zu z WHERE z.zuName = NEW.zuName AND z.qxID = n.qxID);
	INSERT INTO qx_user_zu (userID, zuName, Allow)
		SELECT DISTINCT u.userID, NEW.zuName, 'F' FROM qx_user u WHERE u.userID IS NOT NULL
		AND NOT EXISTS (SELECT 1 FROM qx_user_zu a WHERE a.userID = u.userID AND a.zuName = NEW.zuName);
END;
GO
/* Deletes a user, or a user group together with its members (zuid 1000 + group number),
   with their grant and assignment rows. */
CREATE VIEW qxDelUser AS SELECT NULL AS theID WHERE 0;
CREATE TRIGGER qxDelUser_run INSTEAD OF INSERT ON qxDelUser
BEGIN
	DELETE FROM qx_user_qx WHERE userID IN (
		SELECT m.userID FROM qx_user m JOIN qx_user g ON m.zuid = g.zuid + 1000
		WHERE g.userID = NEW.theID AND g.zuid BETWEEN 1 AND 999);
	DELETE FROM qx_user_zu WHERE userID IN (
		SELECT m.userID FROM qx_user m JOIN qx_user g ON m.zuid = g.zuid + 1000
		WHERE g.userID = NEW.theID AND g.zuid BETWEEN 1 AND 999);
	DELETE FROM qx_user WHERE zuid IN (
		SELECT zuid + 1000 FROM qx_user WHERE userID = NEW.theID AND zuid BETWEEN 1 AND 999);
	DELETE FROM qx_user WHERE userID = NEW.theID;
	DELETE FROM qx_user_qx WHERE userID = NEW.theID;
	DELETE FROM qx_user_zu WHERE userID = NEW.theID;
END;
GO
/* Deletes a permission group: every user assigned to it loses one count on every item it
   grants, then its assignment rows and its contents go. */
CREATE VIEW qxDelzu AS SELECT NULL AS zuName WHERE 0;
CREATE TRIGGER qxDelzu_run INSTEAD OF INSERT ON qxDelzu
BEGIN
	UPDATE qx_user_qx SET AllowCount = AllowCount - 1
		WHERE userID IN (SELECT userID FROM qx_user_zu WHERE zuName = NEW.zuName AND Allow = 'T')
		AND qxID IN (SELECT qxID FROM qx_zu WHERE zuName = NEW.zuName AND Allow = 'T');
	DELETE FROM qx_user_zu WHERE zuName = NEW.zuName;
	DELETE FROM qx_zu WHERE zuName = NEW.zuName;
END;
GO
/* Carries an edit of the item list over to the grants and the group contents. qx_Temp holds
   the renumbered items (a = new number, b = old number, c and d = their identity keys); a row
   whose b is NULL marks it as filled, so a second run without qxNameChanged_before fails as
   the select-into of a server fails on an existing qx_Temp.
   Rows of an item whose identity is gone are removed first, so that they never pass to an
   item that takes its number; then every row is renumbered once through the old-to-new
   pairs; then rows of numbers no longer in use go; then new items get their rows (count 0,
   not granted), never twice. */
CREATE TABLE qx_Temp (
	a int NULL,
	b int NULL,
	c varchar(50) NULL CHECK (length(c) <= 50),
	d varchar(50) NULL CHECK (length(d) <= 50)
);
CREATE VIEW qxNameChanged AS SELECT NULL AS unused WHERE 0;
CREATE TRIGGER qxNameChanged_run INSTEAD OF INSERT ON qxNameChanged
BEGIN
	SELECT RAISE(ABORT, 'There is already an object named qx_Temp in the database.')
		WHERE EXISTS (SELECT 1 FROM qx_Temp);
	INSERT INTO qx_Temp (a, b, c, d) VALUES (NULL, NULL, NULL, NULL);
	INSERT INTO qx_Temp (a, b, c, d)
		SELECT n.qxID, t.qxID, n.qxNameEx, t.qxNameEx
		FROM qx_Name n JOIN qx_Name_Temp t ON n.qxNameEx = t.qxNameEx
		WHERE n.qxID <> t.qxID
		AND NOT EXISTS (SELECT 1 FROM qx_Name n2 WHERE n2.qxNameEx = t.qxNameEx AND n2.qxID = t.qxID)
		AND NOT EXISTS (SELECT 1 FROM qx_Name_Temp t2 WHERE t2.qxNameEx = n.qxNameEx AND t2.qxID = n.qxID);
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
	UPDATE qx_user_qx SET qxID = (SELECT min(p.a) FROM qx_Temp p WHERE p.b = qx_user_qx.qxID)
		WHERE qxID IN (SELECT p.b FROM qx_Temp p WHERE p.b IS NOT NULL);
	UPDATE qx_zu SET qxID = (SELECT min(p.a) FROM qx_Temp p WHERE p.b = qx_zu.qxID)
		WHERE qxID IN (SELECT p.b FROM qx_Temp p WHERE p.b IS NOT NULL);
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
END;
GO
/* Before the item list is edited: empties qx_Temp, gives every item its identity key (its
   number followed by its name) and takes the snapshot into qx_Name_Temp. */
CREATE VIEW qxNameChanged_before AS SELECT NULL AS unused WHERE 0;
CREATE TRIGGER qxNameChanged_before_run INSTEAD OF INSERT ON qxNameChanged_before
BEGIN
	DELETE FROM qx_Temp;
	UPDATE qx_Name SET qxNameEx = CAST(qxID AS TEXT) || coalesce(qxName, '');
	DELETE FROM qx_Name_Temp;
	INSERT INTO qx_Name_Temp (qxID, qxName, qxNameEx) SELECT qxID, qxName, qxNameEx FROM qx_Name;
END;
GO
/* A permission group starts or stops granting one item: every user assigned to the group
   gains or loses one count on that item. */
CREATE VIEW qxUpDateAllows AS SELECT NULL AS zuName, NULL AS qxID, NULL AS Allow WHERE 0;
CREATE TRIGGER qxUpDateAllows_run INSTEAD OF INSERT ON qxUpDateAllows
BEGIN
	UPDATE qx_zu SET Allow = NEW.Allow WHERE zuName = NEW.zuName AND qxID = NEW.qxID;
	UPDATE qx_user_qx SET AllowCount = AllowCount + (CASE WHEN NEW.Allow = 'T' THEN 1 ELSE -1 END)
		WHERE qxID = NEW.qxID
		AND userID IN (SELECT userID FROM qx_user_zu WHERE zuName = NEW.zuName AND Allow = 'T');
END;
GO
/* A user or user group is put into a permission group or taken out of it: one count more or
   less on every item the group grants. */
CREATE VIEW qx_user_zu_changed AS SELECT NULL AS userID, NULL AS zuName, NULL AS Allow WHERE 0;
CREATE TRIGGER qx_user_zu_changed_run INSTEAD OF INSERT ON qx_user_zu_changed
BEGIN
	UPDATE qx_user_zu SET Allow = NEW.Allow WHERE userID = NEW.userID AND zuName = NEW.zuName;
	UPDATE qx_user_qx SET AllowCount = AllowCount + (CASE WHEN NEW.Allow = 'T' THEN 1 ELSE -1 END)
		WHERE userID = NEW.userID
		AND qxID IN (SELECT qxID FROM qx_zu WHERE zuName = NEW.zuName AND Allow = 'T');
END;
GO
/* Enables or disables an account. */
CREATE VIEW qxUpDateUserAllows AS SELECT NULL AS userID, NULL AS Allow WHERE 0;
CREATE TRIGGER qxUpDateUserAllows_run INSTEAD OF INSERT ON qxUpDateUserAllows
BEGIN
	UPDATE qx_user SET Allow = NEW.Allow WHERE userID = NEW.userID;
END;
GO
/* A user has joined user group n: its rights now come from the group's row, so its own
   grant and assignment rows go. */
CREATE VIEW qxuserintozu AS SELECT NULL AS userID, NULL AS n WHERE 0;
CREATE TRIGGER qxuserintozu_run INSTEAD OF INSERT ON qxuserintozu
BEGIN
	DELETE FROM qx_user_qx WHERE userID = NEW.userID;
	DELETE FROM qx_user_zu WHERE userID = NEW.userID;
END;
GO
/* A user has left user group n and holds rights of its own again: it starts as a new user
   does, one grant row per item (count 0) and one assignment row per permission group (not
   assigned). */
CREATE VIEW qxuseroutzu AS SELECT NULL AS userID, NULL AS n WHERE 0;
CREATE TRIGGER qxuseroutzu_run INSTEAD OF INSERT ON qxuseroutzu
BEGIN
	DELETE FROM qx_user_qx WHERE userID = NEW.userID;
	DELETE FROM qx_user_zu WHERE userID = NEW.userID;
	INSERT INTO qx_user_qx (userID, qxID, AllowCount)
		SELECT DISTINCT NEW.userID, qxID, 0 FROM qx_Name WHERE qxID IS NOT NULL;
	INSERT INTO qx_user_zu (userID, zuName, Allow)
		SELECT DISTINCT NEW.userID, zuName, 'F' FROM qx_zu WHERE zuName IS NOT NULL;
END;
GO
