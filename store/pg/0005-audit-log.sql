/* Step 5: the audit log. Its rows are read newest first from the time index; the two below
   let a filter on the start of a user's or a computer's name find its rows without walking
   every row of the log, each user's and computer's rows in time order.
   The pattern operator class answers LIKE 'prefix%' whatever the database's collation.
   A store that has them already (its version row lost) keeps them as they are. */
CREATE INDEX IF NOT EXISTS ix_qx_Logs_userName ON qx_Logs (userName varchar_pattern_ops, theTime)
GO
CREATE INDEX IF NOT EXISTS ix_qx_Logs_CompName ON qx_Logs (CompName varchar_pattern_ops, theTime)
GO
/* The policy's setting for failed logins on record: off, as the classic library wrote none
   (library/passwordpolicy.h's default, checked at build time). */
INSERT INTO vardex_settings (name, value) VALUES ('audit.failures', 'off') ON CONFLICT (name) DO NOTHING
GO
