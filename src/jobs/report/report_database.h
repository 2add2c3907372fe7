// A job report kept in a database: the table's columns and a row's cells, shared by the
// SQLite and PostgreSQL sinks (report_sqlite.cpp, report_postgres.cpp).
//
// The table "job_report" has the CSV report's columns, in its order, and three more: "id",
// numbering rows in the order the database took them; "station", the host name of the PC
// that wrote the row, so that a line's stations can be told apart; and "row_id", a random
// key of the row that makes sending it twice (after a connection lost mid-insert) add it
// once.
//
// Pure functions, except NewRowId and StationName, which ask the system; any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/model/result.h"
#include "jobs/report/report_row.h"
#include "jobs/report/report_sink.h"

namespace zb {

inline constexpr std::string_view kReportTable = "job_report";

struct DbColumn {
    std::string name;
    bool integer = false;  // com and try; time is a timestamp where the database has one
};

// The columns a row fills, "id" aside: station, row_id, then the CSV report's columns.
const std::vector<DbColumn>& DbColumns();

// A row's cells, in DbColumns order; no value is NULL. Texts are Printable, as in the CSV
// report; settings not read, firmware versions not known and a verification not made are
// NULL.
using DbCells = std::vector<std::optional<std::string>>;
DbCells DbCellsOf(const ReportRow& row, std::string_view station, std::string row_id);

// Which row a message is about: "COM3 upgrade try 1".
std::string RowName(const DbCells& cells);

// Rows a table must take, tried when a database is opened (in a transaction that is rolled
// back): a port read, upgraded and checked, with every cell filled; and a port that could
// not be opened, whose settings, firmware versions and verification are NULL. A NOT NULL
// or CHECK column, a type or a trigger that refuses either is found before any port is
// touched.
std::vector<DbCells> ProbeRows(std::string_view station);

// 32 random hex digits.
std::string NewRowId();

// This PC's host name; "unknown" when the system gives none.
std::string StationName();

// The column names joined by ", ", each in double quotes.
std::string QuotedColumns();
// Every column of the table, "id" first.
std::string SelectRowsSql();

// The sinks OpenReportSink (report_open.h) opens for a database.
Result<std::unique_ptr<ReportSink>> OpenSqliteReport(const std::string& path);
Result<std::unique_ptr<ReportSink>> OpenPostgresReport(const std::string& uri, ReportNotice notice);

}  // namespace zb
