// The job_report table in a PostgreSQL database (report_database.h), for the PostgreSQL
// report (report_postgres.cpp): made when missing, an earlier release's brought up to date,
// checked with sample rows; the insert that fills it and the check that its rows landed; and
// the columns a station remembers beside its spool, with which a later run may start while
// the server is away.
//
// Functions of the calling thread's link (pg_link.h); each call waits within its deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "jobs/model/result.h"
#include "jobs/report/pg_link.h"
#include "jobs/report/report_database.h"

namespace zb {

// For one batch's transaction, or the table's check, all calls together.
inline constexpr auto kQueryWait = std::chrono::seconds(10);

// The columns of the table a report writes, and the insert that fills them.
struct PgTable {
    std::vector<std::size_t> columns;  // positions in DbColumns
    std::string insert;
};

// The table with `columns` (positions in DbColumns); its insert adds a row_id once.
PgTable TableOf(std::vector<std::size_t> columns);

// Runs `sql`, failing with the server's answer or why none came.
Status Command(PgLink& conn, const std::string& sql);

// Whether the server's answer refuses the row itself, so that sending it again cannot help.
bool RefusesRow(const PGresult* result);

// Inserts one row's cells.
PgResult Execute(PgLink& conn, const PgTable& table, const DbCells& cells);

// The row_ids of `rows` that the table holds, asked in the transaction that inserted them.
PgResult Landed(PgLink& conn, const std::vector<const DbCells*>& rows);

// The table made ready (made when missing; columns, types and indexes an earlier release
// lacks added where this user may) and the ProbeRows tried and rolled back, within one
// deadline.
Result<PgTable> CheckTable(PgLink& conn, const ReportNotice& notice);

// The checked table's columns, kept beside the spool at `spool_path`; and read back, none
// when no run has kept them.
void RememberColumns(const std::string& spool_path, const PgTable& table);
std::optional<PgTable> RememberedColumns(const std::string& spool_path);

}  // namespace zb
