// A job_report table of an earlier release brought to today's column types, for the SQLite
// and PostgreSQL reports (report_sqlite.cpp, report_postgres.cpp).
//
// An earlier release made every setting, the COM number, the try and the time text columns,
// so that "channel = 20" and "lnodeid > 5" compared texts, and it kept the network's AES key
// itself in "aeskey". Such a table gets its types (a value that is no number where a number
// belongs becomes NULL, as DbCellsOf makes it) and its keys become their KeyFingerprint, all
// in one transaction, so that the table is either the old one or today's. Every row stays,
// with its id.
//
// The calling thread's connection only; the functions take the locks that keep two stations
// or processes from changing the table together.
#pragma once

#include <string>

#include "jobs/report/report_database.h"

struct sqlite3;

namespace zb {

class PgLink;

// Within the write transaction in which SqliteTable makes the table ready: types the columns
// of an earlier release's table and fingerprints its keys. `create_sql` is today's
// statement that makes the table. `told` becomes what the run is told, or "" when the table
// needed nothing. False right after the SQLite call that failed, whose error the connection
// still holds.
bool TypeSqliteColumns(sqlite3* db, const std::string& create_sql, std::string* told);

// Types the columns of an earlier release's table and fingerprints its keys in a transaction
// of its own, under the advisory lock `lock` that makes and changes the table; `sql_type`
// names a column type. A user that may not change the table (not its owner) is told so
// through `notice`, and the table stays as it was; so does one whose change fails. Every call
// waits within the link's deadline, which the caller sets long enough to rewrite the table.
void TypePostgresColumns(PgLink& conn, const std::string& lock, const char* (*sql_type)(DbType),
                         const ReportNotice& notice);

}  // namespace zb
