/* Step 2: the password policy (vardex_settings with the default of every setting, which
   library/passwordpolicy.h is checked against when the program is built) and the lockout counts. */
/* The store's own settings: the password policy. A missing row reads as its default. */
CREATE TABLE vardex_settings (
	name varchar(40) NOT NULL PRIMARY KEY,
	value varchar(200) NOT NULL
);
INSERT INTO vardex_settings (name, value) VALUES ('password.hash', 'cipher');
INSERT INTO vardex_settings (name, value) VALUES ('password.cost', '10');
INSERT INTO vardex_settings (name, value) VALUES ('lockout.failures', '0');
INSERT INTO vardex_settings (name, value) VALUES ('lockout.minutes', '15');
INSERT INTO vardex_settings (name, value) VALUES ('password.minlength', '0');
GO
/* Consecutive wrong passwords per user ID, with the time of the last one on the database's
   clock in UTC (yyyy-MM-dd hh:mm:ss). */
CREATE TABLE vardex_lockout (
	userID varchar(20) NOT NULL PRIMARY KEY,
	failures integer NOT NULL,
	lastFailure varchar(19) NOT NULL
)
GO
