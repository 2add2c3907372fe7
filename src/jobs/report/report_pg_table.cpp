#include "jobs/report/report_pg_table.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>

#include "jobs/platform/file_storage.h"
#include "jobs/report/report_migrate.h"
#include "jobs/report/report_sqlite.h"

namespace zb {
namespace {

// Typing an earlier release's table rewrites every row, once: longer than an insert.
constexpr auto kRewriteWait = std::chrono::minutes(5);
// Taken while creating the table, so that two stations starting at once do not both
// create it; any fixed number of ours.
constexpr const char* kCreateLock = "7472690052";

}  // namespace

namespace {

const char* SqlType(DbType type) {
    switch (type) {
        case DbType::Integer:
            return "integer";
        case DbType::Real:
            return "numeric";
        case DbType::Time:
            return "timestamptz";
        case DbType::Json:
            return "jsonb";
        case DbType::Text:
            break;
    }
    return "text";
}

// Run under the lock, so that two stations starting at once do not both make the table.
std::string CreateSql() {
    std::string sql = "CREATE TABLE IF NOT EXISTS " + std::string(kReportTable) +
                      " (\"id\" bigserial PRIMARY KEY";
    for (const DbColumn& column : DbColumns()) {
        sql += ", \"" + column.name + "\" " + SqlType(column.type);
        if (column.name == "row_id") sql += " UNIQUE";
    }
    sql += ")";
    for (const auto& [index, column] : DbIndexes()) sql += "; " + IndexSql(index, column);
    return sql;
}

}  // namespace

PgTable TableOf(std::vector<std::size_t> columns) {
    std::string sql =
        "INSERT INTO " + std::string(kReportTable) + " (" + QuotedColumns(columns) + ") VALUES (";
    for (std::size_t i = 0; i < columns.size(); ++i)
        sql += (i == 0 ? "$" : ", $") + std::to_string(i + 1);
    return {std::move(columns), sql + ") ON CONFLICT (\"row_id\") DO NOTHING"};
}

Status Command(PgLink& conn, const std::string& sql) {
    const PgResult result = conn.Exec(sql);
    if (result && Answered(result.get())) return {};
    return Status::Fail(conn.Why(result.get()));
}

// Whether the server's answer refuses the row itself, so that sending it again cannot help:
// a value it does not take, a constraint, a column or right it lacks, a trigger that raised
// an error. Any other failure, and one without an answer (the connection broke, and libpq
// may say so only on the next call), is taken for a lost connection: the row is sent again
// or kept.
bool RefusesRow(const PGresult* result) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    if (!state || std::strlen(state) != 5) return false;
    const std::string_view refusing[] = {"09", "22", "23", "27", "42", "44", "P0"};
    return std::find(std::begin(refusing), std::end(refusing), std::string_view(state, 2)) !=
           std::end(refusing);
}

// The values go untyped, as texts, so that the server reads each as its column's type: a
// table of an earlier release, whose settings are text, takes them as well.
PgResult Execute(PgLink& conn, const PgTable& table, const DbCells& cells) {
    std::vector<const char*> values;
    values.reserve(table.columns.size());
    for (const std::size_t i : table.columns)
        values.push_back(i < cells.size() && cells[i] ? cells[i]->c_str() : nullptr);
    return conn.Exec(table.insert, values);
}

// The row_ids of `rows` that the table holds, asked in the transaction that inserted them:
// a trigger may leave a row out or delete it, a rule may do instead of the insert, and the
// server calls each done. A row there already was sent before, and counts as added.
PgResult Landed(PgLink& conn, const std::vector<const DbCells*>& rows) {
    std::string ids = "{";
    for (const DbCells* cells : rows) {
        if (ids.size() > 1) ids += ',';
        ids += '"';
        for (const char c : CellOf(*cells, "row_id").value_or(""))
            ids += (c == '"' || c == '\\') ? std::string{'\\', c} : std::string(1, c);
        ids += '"';
    }
    ids += '}';
    return conn.Exec("SELECT \"row_id\" FROM " + std::string(kReportTable) +
                         " WHERE \"row_id\" = ANY ($1::text[])",
                     {ids.c_str()});
}

namespace {

// Tries the ProbeRows in a transaction that is rolled back.
Status TakesRows(PgLink& conn, const PgTable& table) {
    if (Status begun = Command(conn, "BEGIN"); !begun) return begun;
    Status taken;
    const std::vector<DbCells> probes = ProbeRows(StationName());
    std::vector<const DbCells*> rows;
    for (const DbCells& cells : probes) {
        const PgResult result = Execute(conn, table, cells);
        if (!result || !Answered(result.get())) {
            taken = Status::Fail(conn.Why(result.get()));
            break;
        }
        rows.push_back(&cells);
    }
    if (taken) {
        const PgResult landed = Landed(conn, rows);
        if (!landed || !Answered(landed.get()))
            taken = Status::Fail(conn.Why(landed.get()));
        else if (PQntuples(landed.get()) != static_cast<int>(rows.size()))
            taken = Status::Fail("a report row is left out");
    }
    Status rolled_back = Command(conn, "ROLLBACK");
    return taken ? rolled_back : taken;
}

// The one row of `sql`'s answer, "t" for true and "f" for false.
Result<std::vector<bool>> Ask(PgLink& conn, const std::string& sql) {
    const PgResult result = conn.Exec(sql);
    if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1)
        return Error{conn.Why(result.get())};
    std::vector<bool> answers;
    answers.reserve(static_cast<std::size_t>(PQnfields(result.get())));
    for (int c = 0; c < PQnfields(result.get()); ++c)
        answers.push_back(std::string_view(PQgetvalue(result.get(), 0, c)) == "t");
    return answers;
}

Result<std::vector<std::string>> ColumnNames(PgLink& conn) {
    const PgResult result = conn.Exec("SELECT * FROM " + std::string(kReportTable) + " LIMIT 0");
    if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        return Error{conn.Why(result.get())};
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(PQnfields(result.get())));
    for (int c = 0; c < PQnfields(result.get()); ++c) names.emplace_back(PQfname(result.get(), c));
    return names;
}

// Runs `sql` in a transaction under the lock that keeps stations starting at once from making
// or changing the table together; rolled back when it fails.
Status Locked(PgLink& conn, const std::string& sql) {
    Status done = Command(conn, "BEGIN; SELECT pg_advisory_xact_lock(" + std::string(kCreateLock) +
                                    "); " + sql + "; COMMIT");
    if (!done) (void)Command(conn, "ROLLBACK");
    return done;
}

// The table the report writes: made when missing; in one an earlier release made, the run's
// columns and the indexes added. Only what is missing is made: a station's user that may
// insert rows may well not own the table, and PostgreSQL refuses it even a CREATE ... IF NOT
// EXISTS of what is there. A user that may not add them is told so, and the rows go in
// without the columns the table lacks.
Result<PgTable> PrepareTable(PgLink& conn, const ReportNotice& notice) {
    const Result<std::vector<bool>> exists =
        Ask(conn, "SELECT to_regclass('" + std::string(kReportTable) + "') IS NOT NULL");
    if (!exists) return exists.error();
    if (const Status made = exists->at(0) ? Status() : Locked(conn, CreateSql()); !made)
        return made.error();
    Result<std::vector<std::string>> names = ColumnNames(conn);
    if (!names) return names.error();
    std::string missing;
    std::vector<std::size_t> present = ColumnsPresent(*names, &missing);
    if (!missing.empty()) return Error{"it lacks the columns " + missing};
    conn.Within(kRewriteWait);
    TypePostgresColumns(conn, kCreateLock, SqlType, notice);
    conn.Within(kQueryWait);
    std::string upgrade;
    std::string columns;
    for (std::size_t i = 0; i < DbColumns().size(); ++i) {
        if (std::find(present.begin(), present.end(), i) != present.end()) continue;
        const DbColumn& column = DbColumns()[i];
        upgrade += "ALTER TABLE " + std::string(kReportTable) + " ADD COLUMN IF NOT EXISTS \"" +
                   column.name + "\" " + SqlType(column.type) + "; ";
        columns += (columns.empty() ? "" : ", ") + column.name;
    }
    std::string ask;
    for (const auto& [index, column] : DbIndexes())
        ask += (ask.empty() ? "SELECT " : ", ") + ("to_regclass('" + index + "') IS NULL");
    const Result<std::vector<bool>> lacking = Ask(conn, ask);
    if (!lacking) return lacking.error();
    std::string indexes;
    for (std::size_t i = 0; i < DbIndexes().size() && i < lacking->size(); ++i) {
        if (!(*lacking)[i]) continue;
        upgrade += IndexSql(DbIndexes()[i].first, DbIndexes()[i].second) + "; ";
        indexes += (indexes.empty() ? "" : ", ") + DbIndexes()[i].first;
    }
    if (upgrade.empty()) return TableOf(std::move(present));
    upgrade.resize(upgrade.size() - 2);
    if (const Status added = Locked(conn, upgrade); !added) {
        if (notice) {
            std::string what = columns.empty() ? "" : "the columns " + columns;
            if (!indexes.empty())
                what += std::string(what.empty() ? "" : " and ") + "the indexes " + indexes;
            notice("the table " + std::string(kReportTable) + " lacks " + what +
                   ", which this user may not add (" + added.reason() + "); " +
                   (columns.empty() ? "rows go in all the same"
                                    : "rows go in without those columns until the table's "
                                      "owner adds them"));
        }
        return TableOf(std::move(present));
    }
    names = ColumnNames(conn);
    if (!names) return names.error();
    return TableOf(ColumnsPresent(*names, &missing));
}

}  // namespace

// The table checked and made ready (PrepareTable), and the ProbeRows tried, within one
// deadline.
Result<PgTable> CheckTable(PgLink& conn, const ReportNotice& notice) {
    conn.Within(kQueryWait);
    Result<PgTable> table = PrepareTable(conn, notice);
    const Status usable = table ? TakesRows(conn, *table) : Status(table.error());
    if (!usable) return usable.error();
    return table;
}

namespace {

// The columns of the table that a station has checked, kept beside its spool: with them, a
// later run may start while the server is away, its rows kept for it.
std::string CheckedPath(const std::string& spool_path) {
    return spool_path.substr(0, spool_path.size() - 3) + ".columns";
}

}  // namespace

void RememberColumns(const std::string& spool_path, const PgTable& table) {
    std::string names;
    for (const std::size_t i : table.columns) names += DbColumns()[i].name + "\n";
    const std::string path = CheckedPath(spool_path);
    // A record not written only costs a later run its start without the server.
    (void)ReplaceWholeFile(path, names, PathExists(path), NewFileMode(), false);
}

std::optional<PgTable> RememberedColumns(const std::string& spool_path) {
    const Result<std::string> text = ReadWholeFile(CheckedPath(spool_path), 64 << 10);
    if (!text) return std::nullopt;
    std::vector<std::string> names;
    for (std::size_t at = 0, end = 0; (end = text->find('\n', at)) != std::string::npos;
         at = end + 1)
        names.push_back(text->substr(at, end - at));
    std::string missing;
    std::vector<std::size_t> present = ColumnsPresent(names, &missing);
    // "id" is the server's own, never inserted.
    if (missing != "id") return std::nullopt;
    return TableOf(std::move(present));
}

}  // namespace zb
