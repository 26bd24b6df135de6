/* Step 4: the store's record of itself. schema.version holds the number of the last step the
   store has taken; install and upgrade write it, ConnectDatabase reads it. */
CREATE TABLE vardex_meta (
	name varchar(40) NOT NULL PRIMARY KEY CHECK (length(name) <= 40),
	value varchar(200) NOT NULL CHECK (length(value) <= 200)
)
GO
