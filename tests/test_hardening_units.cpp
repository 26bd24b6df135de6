// Regressions the fuzzers found, kept as plain tests.
#include "platform/connstr.h"

#include <gtest/gtest.h>

using namespace vardex;

namespace {
using Pairs = QList<QPair<QString, QString>>;
Pairs roundTrip(const Pairs& pairs) {
    return ConnectionString::parse(ConnectionString::compose(pairs));
}
} // namespace

// A value that starts like a quoted or braced one, or a brace that closes early, must be quoted
// when composed: the data-link dialog composes what the operator typed (a password "{x" came
// back with the next pairs swallowed, "'x" came back as a different password).
TEST(ComposedConnectionStrings, ReadBackEveryValueUnchanged) {
    const Pairs pairs{{"Provider", "PostgreSQL"}, {"Password", "{abc"},   {"User ID", "'quoted"},
                      {"Driver", "{a}b}"},        {"Extra", "x;y \"z\""}, {"Database", "perm"}};
    EXPECT_EQ(roundTrip(pairs), pairs);
}

TEST(ComposedConnectionStrings, PlainAndBracedValuesStayAsWritten) {
    const Pairs pairs{{"Provider", "ODBC"}, {"Driver", "{PostgreSQL Unicode}"}, {"Server", "db"}};
    EXPECT_EQ(ConnectionString::compose(pairs), "Provider=ODBC;Driver={PostgreSQL Unicode};Server=db;");
    EXPECT_EQ(roundTrip(pairs), pairs);
}
