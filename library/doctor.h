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
//     is in (qx_user_zu.Allow 'T') that grant the item (qx_zu.Allow 'T').
#include "platform/adodb.h"

#include <QList>
#include <QString>

namespace vardex {

struct Violation {
    enum Kind { MissingGrantRow, DuplicateGrantRow, MissingAssignmentRow, DuplicateAssignmentRow,
                MissingGroupItemRow, DuplicateGroupItemRow, WrongCount };
    Kind kind;
    QString userId;   // rights-holding row (grant and assignment rows, counts)
    QString zuName;   // permission group (assignment and group-item rows)
    int qxID = 0;     // permission item (grant and group-item rows, counts)
    int found = 0;    // rows found, or the stored count
    int expected = 0; // rows expected, or the count the assignments imply
    QString describe() const;
};

struct DoctorReport {
    QList<Violation> violations;
    int rightsHolders = 0;
    int items = 0;
    int groups = 0;
    bool clean() const { return violations.isEmpty(); }
};

// Reads the store and lists every violation.
DoctorReport checkStore(AdoConnection& cn);

// Adds the missing rows, removes duplicates and recomputes every grant count of the
// rights-holding rows, all in one transaction on cn. Returns the report found before mending.
DoctorReport repairStore(AdoConnection& cn);

} // namespace vardex
