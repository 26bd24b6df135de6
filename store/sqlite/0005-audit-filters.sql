/* Step 5: the audit log read by user and by computer. The log is read newest first from its
   time index; these two let a filter on the start of a user's or a computer's name find its
   rows without walking every row of the log, each user's and computer's rows in time order.
   A store that has them already (its version row lost) keeps them as they are. */
CREATE INDEX IF NOT EXISTS ix_qx_Logs_userName ON qx_Logs (userName, theTime)
GO
CREATE INDEX IF NOT EXISTS ix_qx_Logs_CompName ON qx_Logs (CompName, theTime)
GO
