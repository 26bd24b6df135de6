/* Step 5: the audit log read by user and by computer. The log is read newest first from its
   time index; these two let a filter on the start of a user's or a computer's name find its
   rows without walking every row of the log, each user's and computer's rows in time order.
   A store that has them already (its version row lost) keeps them as they are. */
IF NOT EXISTS (SELECT * FROM sys.indexes WHERE name = 'IX_qx_Logs_userName' AND object_id = OBJECT_ID('dbo.qx_Logs'))
	CREATE INDEX [IX_qx_Logs_userName] ON [dbo].[qx_Logs]([userName], [theTime]) ON [PRIMARY]
GO
IF NOT EXISTS (SELECT * FROM sys.indexes WHERE name = 'IX_qx_Logs_CompName' AND object_id = OBJECT_ID('dbo.qx_Logs'))
	CREATE INDEX [IX_qx_Logs_CompName] ON [dbo].[qx_Logs]([CompName], [theTime]) ON [PRIMARY]
GO
