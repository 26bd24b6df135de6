#pragma once
// The store doctor: checks, on a live store, that the tables agree with each other the way the
// stored procedures keep them, and mends a store that has drifted.
//
// A rights-holding row is a qx_user row that is a user group (zuid 1..999) or a user in no user
// group (zuid 10000 or more). The checks:
//   - every rights-holding row has exactly one qx_user_qx row per permission item;
//   - every rights-holding row has exactly one qx_user_zu row per permission group;
//   - every permission group has exactly one qx_zu row per permission item;
//   - every grant count of a rights-holding row equals the number of permission groups the row
//     is in (qx_user_zu.Allow 'T') that grant the item (qx_zu.Allow 'T');
//   - no row refers to what no longer exists: a qx_user_qx row needs its qx_user row and its
//     item in qx_Name, a qx_user_zu row its qx_user row, a qx_zu row its item. Such a row is
//     worse than useless: a grant count left behind by a deleted user comes back to life when
//     the ID is given out again. (Assignment rows of a permission group that has no contents
//     are left by the procedures themselves and grant nothing; they are not reported);
//   - every table and stored procedure of the store exists (an install that stopped half-way
//     on a database without transactional DDL leaves some out);
//   - on SQLite, the file's pages pass PRAGMA integrity_check;
//   - the rows hold what the administration actions would write, so an export of the store
//     imports back: every item has a number of its own; every user-group number is taken once;
//     a qx_user row is a user group (zuid 1..999), a member of one that exists (1000 + its
//     number) or a user in none (10000); names, dates, discounts, flags and cipher texts pass
//     the checks of library/storerules.h. (Several rows may share a user ID: the login check
//     reads them all.)
// The rows are checked only when every table exists. The item list must not be in the middle of
// an edit (between qxNameChanged_before and qxNameChanged): the rows of a renumbered item keep
// their old number until qxNameChanged and would read as rows of a deleted item.
#include "platform/adodb.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vardex {

struct Violation {
    enum Kind {
        MissingGrantRow,
        DuplicateGrantRow,
        MissingAssignmentRow,
        DuplicateAssignmentRow,
        MissingGroupItemRow,
        DuplicateGroupItemRow,
        WrongCount,
        OrphanGrantRow,
        OrphanAssignmentRow,
        OrphanGroupItemRow,
        MissingTable,
        MissingProcedure,
        DamagedStore,
        ItemWithoutNumber,
        DuplicateItem,
        SharedGroupNumber,
        LostMember,
        UnknownUserCode,
        BadValue
    };
    Kind kind;
    QString userId;   // rights-holding row (grant and assignment rows, counts)
    QString zuName;   // permission group (assignment and group-item rows)
    int qxID = 0;     // permission item (grant and group-item rows, counts)
    int found = 0;    // rows found, or the stored count
    int expected = 0; // rows expected, or the count the assignments imply
    // Orphan rows: what they refer to that is gone ("user", "item", "user and item").
    // Missing objects: the object's name.
    // A damaged store: the database's own words.
    // A bad value: the column and what is wrong with it; shared group numbers: the IDs.
    QString detail;
    QString describe() const;
};

struct DoctorReport {
    QList<Violation> violations;
    // What is worth knowing but violates nothing: under password.hash=bcrypt, the rows that
    // still hold cipher text (they become hashes at their user's next login, or all at once
    // with `vardex-cli passwords upgrade`).
    QStringList notes;
    int rightsHolders = 0;
    int items = 0;
    int groups = 0;
    bool clean() const { return violations.isEmpty(); }
};

// Reads the store and lists every violation, and the notes.
DoctorReport checkStore(AdoConnection& cn);

// The violations among the above that keep the store from being exported faithfully: the
// export refuses a store that has any, and the doctor reports the same ones.
QList<Violation> checkExportable(AdoConnection& cn);

// Removes the orphan rows, adds the missing rows, removes duplicates and recomputes every grant
// count of the rights-holding rows, and keeps one of the rows of an item listed twice with the
// same name, all in one transaction on cn. The other faults of checkExportable need the
// operator's choice and are left. Returns the report found
// before mending. A store with a missing table or damaged pages is not written to at all:
// those need the operator (a reinstall, a restore from a backup); the call raises DbError
// naming them.
DoctorReport repairStore(AdoConnection& cn);

} // namespace vardex
