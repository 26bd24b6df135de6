/* Step 3: what the releases after the first added to the classic schema: the lookup index on
   the items' numbers. The statement leaves a store that already has the
   index as it is, so a store of any of those releases, and one made by the first release
   whose password policy tables an older vardex-cli upgrade added, takes this step. */
/* Items are looked up by number; two items may share one. */
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_qx_Name_qxID' AND object_id = OBJECT_ID('dbo.qx_Name'))
CREATE INDEX [IX_qx_Name_qxID] ON [dbo].[qx_Name]([qxID]) ON [PRIMARY]
GO
