/* Step 4: the store's record of itself. schema.version holds the number of the last step the
   store has taken; install and upgrade write it, ConnectDatabase reads it. */
CREATE TABLE [dbo].[vardex_meta] (
	[name] [varchar] (40) NOT NULL PRIMARY KEY ,
	[value] [varchar] (200) NOT NULL 
) ON [PRIMARY]
GO
