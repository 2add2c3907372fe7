// The PostgreSQL report: rows go straight into the line's shared database. While its server
// cannot be reached, the rows wait in a spool file on this PC (an SQLite file with the same
// table, one per database URI), and go to the server, oldest first, as soon as an append or
// a later run finds it back. A row sent twice (its insert's answer lost with the
// connection) is added once, by its row_id.
#include <libpq-fe.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>

#include "jobs/platform/file_storage.h"
#include "jobs/report/report_database.h"
#include "jobs/report/report_migrate.h"
#include "jobs/report/report_sqlite.h"

namespace zb {
namespace {

constexpr const char* kConnectTimeoutSeconds = "5";
constexpr std::size_t kSpoolBatch = 100;
// Taken while creating the table, so that two stations starting at once do not both
// create it; any fixed number of ours.
constexpr const char* kCreateLock = "7472690052";

struct PgResultFree {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultFree>;

// libpq's messages span lines ("...failed: No such file or directory\n\tIs the server
// running...?\n"): the first line says what happened.
std::string FirstLine(const char* message) {
    std::string text = message ? message : "";
    text = text.substr(0, text.find('\n'));
    return text.empty() ? "unknown error" : text;
}

std::string RowCount(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " report row" : " report rows");
}

// FNV-1a: the spool's name stays the same from run to run and build to build. It is made
// from the URI with its password masked (MaskedUri), so that the name gives nothing away
// about the password and a changed password keeps the same spool.
std::string SpoolPath(const std::string& uri) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : uri) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    char name[48];
    std::snprintf(name, sizeof name, "report-spool-%016llx.db",
                  static_cast<unsigned long long>(hash));
    return StateFilePath("zbctl", name);
}

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

// The columns of the table a report writes, and the insert that fills them.
struct PgTable {
    std::vector<std::size_t> columns;  // positions in DbColumns
    std::string insert;
};

PgTable TableOf(std::vector<std::size_t> columns) {
    std::string sql =
        "INSERT INTO " + std::string(kReportTable) + " (" + QuotedColumns(columns) + ") VALUES (";
    for (std::size_t i = 0; i < columns.size(); ++i)
        sql += (i == 0 ? "$" : ", $") + std::to_string(i + 1);
    return {std::move(columns), sql + ") ON CONFLICT (\"row_id\") DO NOTHING"};
}

void Quiet(void*, const char*) {}

PGconn* Connect(const std::string& uri) {
    // A server gone silent (a cable pulled) fails a query within about half a minute rather
    // than TCP's quarter of an hour, so its rows go to the spool. The URI comes last, so
    // that settings of its own win over ours.
    const char* const keys[] = {"connect_timeout",
                                "keepalives_idle",
                                "keepalives_interval",
                                "keepalives_count",
                                "tcp_user_timeout",
                                "dbname",
                                nullptr};
    const char* const values[] = {
        kConnectTimeoutSeconds, "10", "5", "3", "10000", uri.c_str(), nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    // The server's notices ("relation ... already exists, skipping") are not the operator's.
    if (conn) PQsetNoticeProcessor(conn, Quiet, nullptr);
    return conn;
}

Status Command(PGconn* conn, const std::string& sql) {
    const PgResult result(PQexec(conn, sql.c_str()));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return {};
    return Status::Fail(FirstLine(PQerrorMessage(conn)));
}

// Whether the server's answer refuses the row itself, so that sending it again cannot help:
// a value it does not take, a constraint, a column or right it lacks, a trigger that raised
// an error. Any other failure, and one without an answer (the connection broke, and libpq
// may say so only on the next call), is taken for a lost connection: the row is sent again
// or kept.
bool RefusesRow(const PGresult* result) {
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    if (!state || std::strlen(state) != 5) return false;
    const std::string_view refusing[] = {"09", "22", "23", "27", "42", "44", "P0"};
    return std::find(std::begin(refusing), std::end(refusing), std::string_view(state, 2)) !=
           std::end(refusing);
}

// The values go untyped, as texts, so that the server reads each as its column's type: a
// table of an earlier release, whose settings are text, takes them as well.
PGresult* Execute(PGconn* conn, const PgTable& table, const DbCells& cells) {
    std::vector<const char*> values;
    values.reserve(table.columns.size());
    for (const std::size_t i : table.columns)
        values.push_back(i < cells.size() && cells[i] ? cells[i]->c_str() : nullptr);
    return PQexecParams(conn, table.insert.c_str(), static_cast<int>(values.size()), nullptr,
                        values.data(), nullptr, nullptr, 0);
}

// Tries the ProbeRows in a transaction that is rolled back.
Status TakesRows(PGconn* conn, const PgTable& table) {
    if (Status begun = Command(conn, "BEGIN"); !begun) return begun;
    Status taken;
    for (const DbCells& cells : ProbeRows(StationName())) {
        const PgResult result(Execute(conn, table, cells));
        if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
            taken = Status::Fail(FirstLine(PQerrorMessage(conn)));
            break;
        }
        // A trigger that returns no row leaves it out, unsaid.
        if (std::string_view(PQcmdTuples(result.get())) != "1") {
            taken = Status::Fail("a report row is left out");
            break;
        }
    }
    Status rolled_back = Command(conn, "ROLLBACK");
    return taken ? rolled_back : taken;
}

// The one row of `sql`'s answer, "t" for true and "f" for false.
Result<std::vector<bool>> Ask(PGconn* conn, const std::string& sql) {
    const PgResult result(PQexec(conn, sql.c_str()));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1)
        return Error{FirstLine(PQerrorMessage(conn))};
    std::vector<bool> answers;
    answers.reserve(static_cast<std::size_t>(PQnfields(result.get())));
    for (int c = 0; c < PQnfields(result.get()); ++c)
        answers.push_back(std::string_view(PQgetvalue(result.get(), 0, c)) == "t");
    return answers;
}

Result<std::vector<std::string>> ColumnNames(PGconn* conn) {
    const PgResult result(
        PQexec(conn, ("SELECT * FROM " + std::string(kReportTable) + " LIMIT 0").c_str()));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        return Error{FirstLine(PQerrorMessage(conn))};
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(PQnfields(result.get())));
    for (int c = 0; c < PQnfields(result.get()); ++c) names.emplace_back(PQfname(result.get(), c));
    return names;
}

// Runs `sql` in a transaction under the lock that keeps stations starting at once from making
// or changing the table together; rolled back when it fails.
Status Locked(PGconn* conn, const std::string& sql) {
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
Result<PgTable> PrepareTable(PGconn* conn, const ReportNotice& notice) {
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
    TypePostgresColumns(conn, kCreateLock, SqlType, notice);
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

enum class Sent { Added, Refused, Offline };

// Earlier releases named the spool after the whole URI, password included: rows such a
// spool still holds move into today's, oldest first, and the old file goes.
Status AdoptOldSpool(const std::string& old_path, SqliteTable& spool) {
    if (old_path == spool.path() || !PathExists(old_path)) return {};
    Result<std::unique_ptr<SqliteTable>> old = SqliteTable::Open(old_path);
    if (!old) return old.error();
    for (;;) {
        const Result<std::vector<SqliteTable::Kept>> rows = (*old)->Oldest(kSpoolBatch);
        if (!rows) return rows.error();
        if (rows->empty()) break;
        for (const SqliteTable::Kept& row : *rows) {
            if (Status inserted = spool.Insert(row.cells); !inserted) return inserted;
            if (const Result<bool> removed = (*old)->Remove(row.id); !removed)
                return removed.error();
        }
    }
    old->reset();
    for (const char* suffix : {"", "-wal", "-shm"}) RemoveFileIfPresent(old_path + suffix);
    return {};
}

class PostgresReport final : public ReportSink {
public:
    PostgresReport(PGconn* conn, PgTable table, ReportNotice notice,
                   std::unique_ptr<SqliteTable> spool)
        : conn_(conn),
          table_(std::move(table)),
          notice_(std::move(notice)),
          spool_(std::move(spool)),
          station_(StationName()) {}

    ~PostgresReport() override {
        try {
            if (spool_->Count() > 0) {
                (void)Online();
                // Nobody hears of an error now: a row the server refuses stays for the next
                // run, which says so.
                (void)SendSpool(false);
                if (const std::int64_t left = spool_->Count(); left > 0)
                    Tell(RowCount(left) + " wait in " + spool_->path() +
                         "; the next run that reports into this database sends them");
            }
        } catch (...) {
            // Out of memory, or a notice that failed: the rows stay in the spool all the same.
        }
        PQfinish(conn_);
    }
    PostgresReport(const PostgresReport&) = delete;
    PostgresReport& operator=(const PostgresReport&) = delete;

    // Sends what an earlier run left in the spool file.
    Status SendEarlierRows() { return SendSpool(); }

protected:
    Status AppendRows(const std::vector<ReportRow>& rows) override {
        if (!online_) (void)Online();
        // A row refused, or one the spool could not keep, does not stop the others; the
        // first failure is the one told.
        Status appended = SendSpool();
        std::int64_t kept = 0;
        for (const ReportRow& row : rows) {
            const DbCells cells = DbCellsOf(row, station_, NewRowId());
            const Sent sent = online_ ? Send(cells) : Sent::Offline;
            if (sent == Sent::Added) continue;
            Status lost;
            if (sent == Sent::Refused) {
                lost = Status::Fail(RefusedText(cells));
            } else if (const Status inserted = spool_->Insert(cells); inserted) {
                ++kept;
            } else {
                lost = Status::Fail(RowName(cells) + " not kept: " + inserted.reason());
            }
            if (appended && !lost) appended = lost;
        }
        if (kept > 0 && !keeping_) {
            keeping_ = true;
            Tell("the PostgreSQL database is unreachable (" + lost_reason_ + "); " +
                 RowCount(kept) + " kept in " + spool_->path() + " until it is back");
        }
        return appended;
    }

private:
    // Sends one row; a failure that is no refusal reconnects once and sends it again (its
    // row_id adds it once should the first try have gone in after all).
    Sent Send(const DbCells& cells) {
        for (int attempt = 0;; ++attempt) {
            const PgResult result(Execute(conn_, table_, cells));
            if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) return Sent::Added;
            if (RefusesRow(result.get())) {
                refusal_ = FirstLine(PQerrorMessage(conn_));
                return Sent::Refused;
            }
            lost_reason_ = FirstLine(PQerrorMessage(conn_));
            online_ = false;
            if (attempt > 0 || !Online()) return Sent::Offline;
        }
    }

    std::string RefusedText(const DbCells& cells) const {
        return "the PostgreSQL database refused a row (" + RowName(cells) + "): " + refusal_;
    }

    // Whether the connection is up, reconnecting once if it was lost.
    bool Online() {
        if (online_) return true;
        PQreset(conn_);
        online_ = PQstatus(conn_) == CONNECTION_OK;
        if (online_)
            keeping_ = false;
        else
            lost_reason_ = FirstLine(PQerrorMessage(conn_));
        return online_;
    }

    // Sends the spooled rows, oldest first, while the connection holds. A row the server
    // refuses leaves the spool with the error naming it, so that it does not hold back the
    // rows after it; or, not `drop_refused`, stops the sending. Counts the rows this process
    // took out of the spool: another one that shares it may be sending the same rows.
    Status SendSpool(bool drop_refused = true) {
        std::int64_t sent = 0;
        std::string refused;
        Status ok;
        while (ok && online_ && (drop_refused || refused.empty())) {
            const Result<std::vector<SqliteTable::Kept>> rows = spool_->Oldest(kSpoolBatch);
            if (!rows) ok = rows.error();
            if (!ok || rows->empty()) break;
            for (const SqliteTable::Kept& row : *rows) {
                const Sent result = Send(row.cells);
                if (result == Sent::Refused && refused.empty()) refused = RefusedText(row.cells);
                if (result == Sent::Offline || (result == Sent::Refused && !drop_refused)) break;
                const Result<bool> removed = spool_->Remove(row.id);
                if (!removed) {
                    ok = removed.error();
                    break;
                }
                if (*removed && result == Sent::Added) ++sent;
            }
        }
        if (sent > 0)
            Tell(RowCount(sent) + " kept in " + spool_->path() +
                 " sent to the PostgreSQL database");
        if (!ok) return ok;
        if (!refused.empty()) return Status::Fail(refused);
        return {};
    }

    void Tell(const std::string& text) const {
        if (notice_) notice_(text);
    }

    PGconn* conn_;
    PgTable table_;
    ReportNotice notice_;
    std::unique_ptr<SqliteTable> spool_;
    std::string station_;
    bool online_ = true;
    bool keeping_ = false;  // rows went to the spool since the connection was last up
    std::string lost_reason_;
    std::string refusal_;
};

}  // namespace

Result<std::unique_ptr<ReportSink>> OpenPostgresReport(const std::string& uri,
                                                       ReportNotice notice) {
    const std::string shown = MaskedUri(uri);
    // libpq's complaint about a URI quotes the part it stumbled on, which may be the
    // password: with one in the URI, only the masked URI is shown.
    char* parse_error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &parse_error);
    bool password = !options && shown != uri;
    for (const PQconninfoOption* option = options; option && option->keyword; ++option)
        if (std::string_view(option->keyword) == "password" && option->val && *option->val)
            password = true;
    if (password && notice)
        notice(
            "the PostgreSQL URI holds a password, which other users can see in the process "
            "list; keep it in ~/.pgpass or a PGPASSFILE instead");
    if (!options) {
        std::string malformed = "the PostgreSQL URI is malformed: " + shown;
        if (shown == uri && parse_error) malformed += " (" + FirstLine(parse_error) + ")";
        PQfreemem(parse_error);
        return Error{std::move(malformed)};
    }
    PQconninfoFree(options);
    PGconn* conn = Connect(uri);
    if (!conn) return Error{"cannot reach the PostgreSQL database: out of memory"};
    if (PQstatus(conn) != CONNECTION_OK) {
        Error unreachable{"cannot reach the PostgreSQL database: " +
                          FirstLine(PQerrorMessage(conn))};
        PQfinish(conn);
        return unreachable;
    }
    Result<PgTable> table = PrepareTable(conn, notice);
    const Status usable = table ? TakesRows(conn, *table) : Status(table.error());
    if (!usable) {
        PQfinish(conn);
        return Error{"the PostgreSQL database has no usable table " + std::string(kReportTable) +
                     ": " + usable.reason()};
    }
    // The spool is opened now, so that a station whose spool cannot be written learns it
    // before its rows depend on it.
    const std::string spool_path = SpoolPath(shown);
    MakeParentFolders(spool_path);
    Result<std::unique_ptr<SqliteTable>> spool = SqliteTable::Open(spool_path);
    if (!spool) {
        PQfinish(conn);
        return spool.error();
    }
    if (Status adopted = AdoptOldSpool(SpoolPath(uri), **spool); !adopted) {
        PQfinish(conn);
        return adopted.error();
    }
    auto report = std::make_unique<PostgresReport>(conn, std::move(*table), std::move(notice),
                                                   std::move(*spool));
    if (Status sent = report->SendEarlierRows(); !sent) return sent.error();
    return std::unique_ptr<ReportSink>(std::move(report));
}

}  // namespace zb
