// A job report kept in a database: the table's columns and a row's cells, shared by the
// SQLite and PostgreSQL sinks (report_sqlite.cpp, report_postgres.cpp).
//
// The table "job_report" has the CSV report's columns, in its order, and three more: "id",
// numbering rows in the order the database took them; "station", the host name of the PC
// that wrote the row, so that a line's stations can be told apart; and "row_id", a random
// key of the row that makes sending it twice (after a connection lost mid-insert) add it
// once. Numbers are numbers, so that a line can query them: the COM number, the try, the
// settings that show decimal numbers (ShowsNumber), and a timestamp where the database has
// one. The run's columns and then the file's came after the others, and a table made by an
// earlier release (text settings, none of those columns) gets them added; its rows stay as
// they are.
//
// Pure functions, except NewRowId and StationName, which ask the system; any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jobs/model/result.h"
#include "jobs/report/report_row.h"
#include "jobs/report/report_sink.h"

namespace zb {

inline constexpr std::string_view kReportTable = "job_report";

enum class DbType {
    Text,
    Integer,
    Real,  // a setting with fractions: output power -1.5 dBm
    Time,  // timestamptz; ISO 8601 text in SQLite, which has no time type
    Json,  // the run's tags: jsonb; JSON text in SQLite
};

struct DbColumn {
    std::string name;
    DbType type = DbType::Text;
    bool added = false;  // one of the run's or file's columns, which an earlier table lacks
};

// The columns a row fills, "id" aside: station, row_id, then the CSV report's columns.
const std::vector<DbColumn>& DbColumns();

// The indexes a line's queries rely on, with the column each orders: "job_report_time" on
// "time", and on devname, station and port_id.
const std::vector<std::pair<std::string, std::string>>& DbIndexes();
// The statement that makes `index` on `column` where it is missing.
std::string IndexSql(const std::string& index, const std::string& column);

// A row's cells, in DbColumns order; no value is NULL. Texts are Printable, as in the CSV
// report, but those the program made itself (station, device, command, run_id, port_id,
// file, file_sha256) are StoredText; settings not read, firmware versions not known, a
// verification not made, a row of no run and a row of no file are NULL, and so is a number
// setting the device gave outside its field's table ("?20"), which no number column takes.
// Tags are TagsJson.
using DbCells = std::vector<std::optional<std::string>>;
DbCells DbCellsOf(const ReportRow& row, std::string_view station, std::string row_id);

// A row's cell in `column`; none for a column not in DbColumns.
const std::optional<std::string>& CellOf(const DbCells& cells, std::string_view column);

// Which row a message is about: "COM3 upgrade try 1".
std::string RowName(const DbCells& cells);

// Rows a table must take, tried when a database is opened (in a transaction that is rolled
// back): a port read, upgraded and checked, with every cell filled; and a port that could
// not be opened, of a run without tags, whose settings, firmware versions, verification and
// file are NULL. A NOT NULL
// or CHECK column, a type or a trigger that refuses either is found before any port is
// touched.
std::vector<DbCells> ProbeRows(std::string_view station);

// 32 random hex digits.
std::string NewRowId();

// This PC's host name; "unknown" when the system gives none.
std::string StationName();

// The column names joined by ", ", each in double quotes: all of DbColumns, or those at
// `columns` (positions in DbColumns).
std::string QuotedColumns();
std::string QuotedColumns(const std::vector<std::size_t>& columns);
// Every column of the table, "id" first.
std::string SelectRowsSql();
// Of `have`, a table's column names: the positions in DbColumns of those it has (names
// compared without regard to case), and the names of the columns of earlier releases it
// lacks, joined by ", ".
std::vector<std::size_t> ColumnsPresent(const std::vector<std::string>& have, std::string* missing);

// The sinks OpenReportSink (report_open.h) opens for a database.
Result<std::unique_ptr<ReportSink>> OpenSqliteReport(const std::string& path,
                                                     const ReportNotice& notice);
Result<std::unique_ptr<ReportSink>> OpenPostgresReport(const std::string& uri, ReportNotice notice);

}  // namespace zb
