CREATE TABLE [dbo].[qx_Name] (
	[qxID] [int] NULL ,
	[qxName] [varchar] (30) NULL ,
	[qxNameEx] [varchar] (50) NULL 
) ON [PRIMARY]
GO
/* Snapshot of qx_Name taken by qxNameChanged_before; created empty so that the first edit works. */
CREATE TABLE [dbo].[qx_Name_Temp] (
	[qxID] [int] NULL ,
	[qxName] [varchar] (30) NULL ,
	[qxNameEx] [varchar] (50) NULL 
) ON [PRIMARY]
GO
/* Users and user groups. A user-group row is inserted with zuid, userID and userName only:
   it starts enabled and with a discount of 0. */
CREATE TABLE [dbo].[qx_user] (
	[userID] [varchar] (20) NULL ,
	[userName] [varchar] (20) NULL ,
	[userPwd] [varchar] (100) NULL ,
	[startTime] [varchar] (10) NULL ,
	[endTime] [varchar] (10) NULL ,
	[Allow] [char] (1) NOT NULL CONSTRAINT [DF_qx_user_Allow] DEFAULT ('T') ,
	[AllowZekou] [int] NOT NULL CONSTRAINT [DF_qx_user_AllowZekou] DEFAULT (0) ,
	[zuid] [int] NULL 
) ON [PRIMARY]
CREATE INDEX [IX_qx_user_userID] ON [dbo].[qx_user]([userID]) ON [PRIMARY]
CREATE INDEX [IX_qx_user_zuid] ON [dbo].[qx_user]([zuid]) ON [PRIMARY]
GO
/* Grant counts, one row per (user or user group, permission item). */
CREATE TABLE [dbo].[qx_user_qx] (
	[userID] [varchar] (20) NULL ,
	[qxID] [int] NULL ,
	[AllowCount] [int] NOT NULL 
) ON [PRIMARY]
CREATE INDEX [IX_qx_user_qx_userID_qxID] ON [dbo].[qx_user_qx]([userID], [qxID]) ON [PRIMARY]
GO
/* Assignments of users and user groups to permission groups. */
CREATE TABLE [dbo].[qx_user_zu] (
	[userID] [varchar] (20) NULL ,
	[zuName] [varchar] (20) NULL ,
	[Allow] [char] (1) NOT NULL 
) ON [PRIMARY]
CREATE INDEX [IX_qx_user_zu_userID_zuName] ON [dbo].[qx_user_zu]([userID], [zuName]) ON [PRIMARY]
GO
/* Contents of the permission groups, one row per (permission group, permission item). */
CREATE TABLE [dbo].[qx_zu] (
	[zuName] [varchar] (20) NULL ,
	[qxID] [int] NULL ,
	[Allow] [char] (1) NOT NULL 
) ON [PRIMARY]
CREATE INDEX [IX_qx_zu_zuName_qxID] ON [dbo].[qx_zu]([zuName], [qxID]) ON [PRIMARY]
GO
/* The audit log. */
CREATE TABLE [dbo].[qx_Logs] (
	[CompName] [varchar] (100) NULL ,
	[userName] [varchar] (20) NULL ,
	[theTime] [varchar] (20) NULL ,
	[theLog] [varchar] (100) NULL 
) ON [PRIMARY]
CREATE INDEX [IX_qx_Logs_theTime] ON [dbo].[qx_Logs]([theTime]) ON [PRIMARY]
GO
/* Gives a new user or user group one grant row per item (count 0) and one assignment row per
   permission group (not assigned); rows it already has are kept. */
CREATE PROCEDURE qxAddUser
	@theID varchar(20)
WITH ENCRYPTION
AS
	set nocount on
	declare @qxID int
	declare @zuName varchar(20)

	declare cur_qx cursor local for
		select distinct qxID from qx_Name where qxID is not null
	open cur_qx
	fetch next from cur_qx into @qxID
	while @@fetch_status = 0
	begin
		if not exists (select * from qx_user_qx where userID = @theID and qxID = @qxID)
			insert into qx_user_qx (userID, qxID, AllowCount) values (@theID, @qxID, 0)
		fetch next from cur_qx into @qxID
	end
	close cur_qx
	deallocate cur_qx

	declare cur_zu cursor local for
		select distinct zuName from qx_zu where zuName is not null
	open cur_zu
	fetch next from cur_zu into @zuName
	while @@fetch_status = 0
	begin
		if not exists (select * from qx_user_zu where userID = @theID and zuName = @zuName)
			insert into qx_user_zu (userID, zuName, Allow) values (@theID, @zuName, 'F')
		fetch next from cur_zu into @zuName
	end
	close cur_zu
	deallocate cur_zu
GO
/* A new permission group: one row per item (not granted) and one assignment row for every
   qx_user row (not assigned). A group exists while it has contents; assignment rows left
   from an earlier group of the name that no longer exists are dropped first, so the new
   group starts with nobody assigned. Existing rows are never doubled. */
CREATE PROCEDURE qxAddzuName
	@zuName varchar(20)
WITH ENCRYPTION
AS
	set nocount on
	declare @qxID int
	declare @userID varchar(20)

	delete from qx_user_zu where zuName = @zuName
		and not exists (select * from qx_zu where zuName = @zuName)

	declare cur_qx cursor local for
		select distinct qxID from qx_Name where qxID is not null
	open cur_qx
	fetch next from cur_qx into @qxID
	while @@fetch_status = 0
	begin
		if not exists (select * from qx_zu where zuName = @zuName and qxID = @qxID)
			insert into qx_zu (zuName, qxID, Allow) values (@zuName, @qxID, 'F')
		fetch next from cur_qx into @qxID
	end
	close cur_qx
	deallocate cur_qx

	declare cur_user cursor local for
		select distinct userID from qx_user where userID is not null
	open cur_user
	fetch next from cur_user into @userID
	while @@fetch_status = 0
	begin
		if not exists (select * from qx_user_zu where userID = @userID and zuName = @zuName)
			insert into qx_user_zu (userID, zuName, Allow) values (@userID, @zuName, 'F')
		fetch next from cur_user into @userID
	end
	close cur_user
	deallocate cur_user
GO
/* Deletes a user, or a user group together with its members (zuid 1000 + group number),
   with their grant and assignment rows. */
CREATE PROCEDURE qxDelUser
	@theID varchar(20)
WITH ENCRYPTION
AS
	set nocount on
	delete from qx_user_qx where userID in (
		select m.userID from qx_user m inner join qx_user g on m.zuid = g.zuid + 1000
		where g.userID = @theID and g.zuid between 1 and 999)
	delete from qx_user_zu where userID in (
		select m.userID from qx_user m inner join qx_user g on m.zuid = g.zuid + 1000
		where g.userID = @theID and g.zuid between 1 and 999)
	delete from qx_user where zuid in (
		select zuid + 1000 from qx_user where userID = @theID and zuid between 1 and 999)

	delete from qx_user where userID = @theID
	delete from qx_user_qx where userID = @theID
	delete from qx_user_zu where userID = @theID
GO
/* Deletes a permission group: every user assigned to it loses one count on every item it
   grants, then its assignment rows and its contents go. */
CREATE PROCEDURE qxDelzu
	@zuName varchar(20)
WITH ENCRYPTION
AS
	set nocount on
	declare @userID varchar(20)

	declare cur_user cursor local for
		select distinct userID from qx_user_zu where zuName = @zuName and Allow = 'T'
	open cur_user
	fetch next from cur_user into @userID
	while @@fetch_status = 0
	begin
		update qx_user_qx set AllowCount = AllowCount - 1
		where userID = @userID
		and qxID in (select qxID from qx_zu where zuName = @zuName and Allow = 'T')
		fetch next from cur_user into @userID
	end
	close cur_user
	deallocate cur_user

	delete from qx_user_zu where zuName = @zuName
	delete from qx_zu where zuName = @zuName
GO
/* Carries an edit of the item list over to the grants and the group contents. qx_Temp gets
   the renumbered items (a = new number, b = old number, c and d = their identity keys); it
   lives until the next qxNameChanged_before, so a second run without that fails.
   Rows of an item whose identity is gone are removed first, so that they never pass to an
   item that takes its number; then every row is renumbered once through the old-to-new
   pairs, each statement seeing the rows as they were; then rows of numbers no longer in use
   go; then new items get their rows (count 0, not granted), never twice. */
CREATE PROCEDURE qxNameChanged
WITH ENCRYPTION
AS
	set nocount on
	select n.qxID as a, t.qxID as b, n.qxNameEx as c, t.qxNameEx as d
	into qx_Temp
	from qx_Name n inner join qx_Name_Temp t on n.qxNameEx = t.qxNameEx
	where n.qxID <> t.qxID
	and not exists (select * from qx_Name n2 where n2.qxNameEx = t.qxNameEx and n2.qxID = t.qxID)
	and not exists (select * from qx_Name_Temp t2 where t2.qxNameEx = n.qxNameEx and t2.qxID = n.qxID)

	delete from qx_user_qx
		where qxID in (select t.qxID from qx_Name_Temp t
			where not exists (select * from qx_Name n where n.qxNameEx = t.qxNameEx))
		and qxID not in (select t.qxID from qx_Name_Temp t where t.qxID is not null
			and exists (select * from qx_Name n where n.qxNameEx = t.qxNameEx))
	delete from qx_zu
		where qxID in (select t.qxID from qx_Name_Temp t
			where not exists (select * from qx_Name n where n.qxNameEx = t.qxNameEx))
		and qxID not in (select t.qxID from qx_Name_Temp t where t.qxID is not null
			and exists (select * from qx_Name n where n.qxNameEx = t.qxNameEx))
	update qx_user_qx set qxID = (select min(p.a) from qx_Temp p where p.b = qx_user_qx.qxID)
		where qxID in (select p.b from qx_Temp p where p.b is not null)
	update qx_zu set qxID = (select min(p.a) from qx_Temp p where p.b = qx_zu.qxID)
		where qxID in (select p.b from qx_Temp p where p.b is not null)
	delete from qx_user_qx
		where qxID is null or qxID not in (select n.qxID from qx_Name n where n.qxID is not null)
	delete from qx_zu
		where qxID is null or qxID not in (select n.qxID from qx_Name n where n.qxID is not null)
	insert into qx_zu (zuName, qxID, Allow)
		select g.zuName, i.qxID, 'F'
		from (select distinct n.qxID from qx_Name n
			where n.qxID is not null
			and (n.qxNameEx is null
				or n.qxNameEx not in (select t.qxNameEx from qx_Name_Temp t where t.qxNameEx is not null)
				or (n.qxID not in (select distinct q.qxID from qx_user_qx q where q.qxID is not null)
					and n.qxID not in (select distinct z.qxID from qx_zu z where z.qxID is not null)))) i,
			(select distinct z.zuName from qx_zu z where z.zuName is not null) g
		where not exists (select * from qx_zu z where z.zuName = g.zuName and z.qxID = i.qxID)
	insert into qx_user_qx (userID, qxID, AllowCount)
		select u.userID, i.qxID, 0
		from (select distinct n.qxID from qx_Name n
			where n.qxID is not null
			and (n.qxNameEx is null
				or n.qxNameEx not in (select t.qxNameEx from qx_Name_Temp t where t.qxNameEx is not null)
				or n.qxID not in (select distinct q.qxID from qx_user_qx q where q.qxID is not null))) i,
			(select distinct v.userID from qx_user v where v.userID is not null) u
		where not exists (select * from qx_user_qx q where q.userID = u.userID and q.qxID = i.qxID)
GO
/* Before the item list is edited: drops qx_Temp, gives every item its identity key (its
   number followed by its name) and takes a new snapshot into qx_Name_Temp. */
CREATE PROCEDURE qxNameChanged_before
WITH ENCRYPTION
AS
	set nocount on
	if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[qx_Temp]') and OBJECTPROPERTY(id, N'IsUserTable') = 1)
		drop table [dbo].[qx_Temp]
	if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[qx_Name_Temp]') and OBJECTPROPERTY(id, N'IsUserTable') = 1)
		drop table [dbo].[qx_Name_Temp]

	update qx_Name set qxNameEx = convert(varchar(11), qxID) + isnull(qxName, '')
	select * into qx_Name_Temp from qx_Name
GO
/* A permission group starts or stops granting one item: every user assigned to the group
   gains or loses one count on that item. */
CREATE PROCEDURE qxUpDateAllows
	@zuName varchar(20),
	@qxID int,
	@Allow char(1)
WITH ENCRYPTION
AS
	set nocount on
	declare @userID varchar(20)
	declare @step int
	if @Allow = 'T'
		set @step = 1
	else
		set @step = -1

	update qx_zu set Allow = @Allow where zuName = @zuName and qxID = @qxID

	declare cur_user cursor local for
		select distinct userID from qx_user_zu where zuName = @zuName and Allow = 'T'
	open cur_user
	fetch next from cur_user into @userID
	while @@fetch_status = 0
	begin
		update qx_user_qx set AllowCount = AllowCount + @step
		where userID = @userID and qxID = @qxID
		fetch next from cur_user into @userID
	end
	close cur_user
	deallocate cur_user
GO
/* A user or user group is put into a permission group or taken out of it: one count more or
   less on every item the group grants. */
CREATE PROCEDURE qx_user_zu_changed
	@userID varchar(20),
	@zuName varchar(20),
	@Allow char(1)
WITH ENCRYPTION
AS
	set nocount on
	declare @qxID int
	declare @step int
	if @Allow = 'T'
		set @step = 1
	else
		set @step = -1

	update qx_user_zu set Allow = @Allow where userID = @userID and zuName = @zuName

	declare cur_qx cursor local for
		select distinct qxID from qx_zu where zuName = @zuName and Allow = 'T'
	open cur_qx
	fetch next from cur_qx into @qxID
	while @@fetch_status = 0
	begin
		update qx_user_qx set AllowCount = AllowCount + @step
		where userID = @userID and qxID = @qxID
		fetch next from cur_qx into @qxID
	end
	close cur_qx
	deallocate cur_qx
GO
/* Enables or disables an account. */
CREATE PROCEDURE qxUpDateUserAllows
	@userID varchar(20),
	@Allow char(1)
WITH ENCRYPTION
AS
	set nocount on
	update qx_user set Allow = @Allow where userID = @userID
GO
/* A user has joined user group @n: its rights now come from the group's row, so its own
   grant and assignment rows go. */
CREATE PROCEDURE qxuserintozu
	@userID varchar(20),
	@n int
WITH ENCRYPTION
AS
	set nocount on
	delete from qx_user_qx where userID = @userID
	delete from qx_user_zu where userID = @userID
GO
/* A user has left user group @n and holds rights of its own again: it starts as a new user
   does, one grant row per item (count 0) and one assignment row per permission group (not
   assigned). */
CREATE PROCEDURE qxuseroutzu
	@userID varchar(20),
	@n int
WITH ENCRYPTION
AS
	set nocount on
	delete from qx_user_qx where userID = @userID
	delete from qx_user_zu where userID = @userID
	insert into qx_user_qx (userID, qxID, AllowCount)
	select distinct @userID, qxID, 0 from qx_Name where qxID is not null
	insert into qx_user_zu (userID, zuName, Allow)
	select distinct @userID, zuName, 'F' from qx_zu where zuName is not null
GO
