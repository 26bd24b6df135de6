/* Step 5: the audit log. Its rows are read newest first from the time index; the two below
   let a filter on the start of a user's or a computer's name find its rows without walking
   every row of the log, each user's and computer's rows in time order.
   A store that has them already (its version row lost) keeps them as they are. */
IF NOT EXISTS (SELECT * FROM sys.indexes WHERE name = 'IX_qx_Logs_userName' AND object_id = OBJECT_ID('dbo.qx_Logs'))
	CREATE INDEX [IX_qx_Logs_userName] ON [dbo].[qx_Logs]([userName], [theTime]) ON [PRIMARY]
GO
IF NOT EXISTS (SELECT * FROM sys.indexes WHERE name = 'IX_qx_Logs_CompName' AND object_id = OBJECT_ID('dbo.qx_Logs'))
	CREATE INDEX [IX_qx_Logs_CompName] ON [dbo].[qx_Logs]([CompName], [theTime]) ON [PRIMARY]
GO
/* The policy's setting for failed logins on record: off, as the classic library wrote none
   (library/passwordpolicy.h's default, checked at build time). */
IF NOT EXISTS (SELECT * FROM [dbo].[vardex_settings] WHERE name = 'audit.failures')
	INSERT INTO [dbo].[vardex_settings] (name, value) VALUES ('audit.failures', 'off')
GO
