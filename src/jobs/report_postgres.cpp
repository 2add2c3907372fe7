// The PostgreSQL report: rows go straight into the line's shared database. While its server
// cannot be reached, the rows wait in a spool file on this PC (an SQLite file with the same
// table, one per database URI), and go to the server, oldest first, as soon as an append or
// a later run finds it back. A row sent twice (its insert's answer lost with the
// connection) is added once, by its row_id.
#include <libpq-fe.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "jobs/report_database.h"
#include "jobs/report_sqlite.h"

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

// FNV-1a: the spool's name stays the same from run to run and build to build.
std::string SpoolPath(const std::string& uri) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : uri) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    std::filesystem::path dir;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        dir = state;
    else if (const char* home = std::getenv("HOME"); home && *home)
        dir = std::filesystem::path(home) / ".local" / "state";
    else
        dir = std::filesystem::temp_directory_path();
    char name[48];
    std::snprintf(name, sizeof name, "report-spool-%016llx.db",
                  static_cast<unsigned long long>(hash));
    return (dir / "zbctl" / name).string();
}

std::string CreateSql() {
    std::string sql = "BEGIN; SELECT pg_advisory_xact_lock(" + std::string(kCreateLock) +
                      "); CREATE TABLE IF NOT EXISTS " + std::string(kReportTable) +
                      " (\"id\" bigserial PRIMARY KEY";
    for (const DbColumn& column : DbColumns()) {
        const char* type = column.integer          ? "integer"
                           : column.name == "time" ? "timestamptz"
                                                   : "text";
        sql += ", \"" + column.name + "\" " + type;
        if (column.name == "row_id") sql += " UNIQUE";
    }
    return sql + "); COMMIT";
}

// Built once: every row, and every row sent from the spool, is inserted with it.
const std::string& InsertSql() {
    static const std::string sql = [] {
        std::string text =
            "INSERT INTO " + std::string(kReportTable) + " (" + QuotedColumns() + ") VALUES (";
        for (std::size_t i = 0; i < DbColumns().size(); ++i)
            text += (i == 0 ? "$" : ", $") + std::to_string(i + 1);
        return text + ") ON CONFLICT (\"row_id\") DO NOTHING";
    }();
    return sql;
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

bool Command(PGconn* conn, const std::string& sql, std::string* error) {
    const PgResult result(PQexec(conn, sql.c_str()));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
    *error = FirstLine(PQerrorMessage(conn));
    return false;
}

class PostgresReport final : public ReportSink {
public:
    PostgresReport(PGconn* conn, ReportNotice notice, std::string spool_path)
        : conn_(conn),
          notice_(std::move(notice)),
          spool_path_(std::move(spool_path)),
          station_(StationName()) {}

    ~PostgresReport() override {
        std::string error;
        if (spool_ && spool_->Count() > 0) {
            (void)SendSpool(&error);
            if (const std::int64_t left = spool_->Count(); left > 0)
                Tell(RowCount(left) + " wait in " + spool_path_ +
                     "; the next run that reports into this database sends them");
        }
        PQfinish(conn_);
    }
    PostgresReport(const PostgresReport&) = delete;
    PostgresReport& operator=(const PostgresReport&) = delete;

    // Sends what an earlier run left in the spool file, if there is one.
    bool SendEarlierRows(std::string* error) {
        std::error_code ec;
        if (!std::filesystem::exists(spool_path_, ec)) return true;
        return Spool(error) && SendSpool(error);
    }

protected:
    bool AppendRows(const std::vector<ReportRow>& rows, std::string* error) override {
        if (!SendSpool(error)) return false;
        std::size_t kept = 0;
        for (const ReportRow& row : rows) {
            const DbCells cells = DbCellsOf(row, station_, NewRowId());
            if (online_) {
                if (Insert(cells)) continue;
                if (online_) return Refused(error);
            }
            if (!Spool(error) || !spool_->Insert(cells, error)) return false;
            ++kept;
        }
        if (kept > 0)
            Tell("the PostgreSQL database is unreachable (" + lost_reason_ + "); " +
                 RowCount(static_cast<std::int64_t>(kept)) + " kept in " + spool_path_ +
                 " until it is back");
        return true;
    }

private:
    // Whether the row went in. A connection that broke leaves online_ false.
    bool Insert(const DbCells& cells) {
        std::vector<const char*> values;
        values.reserve(cells.size());
        for (const std::optional<std::string>& cell : cells)
            values.push_back(cell ? cell->c_str() : nullptr);
        const PgResult result(PQexecParams(conn_, InsertSql().c_str(),
                                           static_cast<int>(values.size()), nullptr, values.data(),
                                           nullptr, nullptr, 0));
        if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) return true;
        if (PQstatus(conn_) != CONNECTION_OK) {
            online_ = false;
            lost_reason_ = FirstLine(PQerrorMessage(conn_));
        }
        return false;
    }

    bool Refused(std::string* error) const {
        *error = "the PostgreSQL database refused a row: " + FirstLine(PQerrorMessage(conn_));
        return false;
    }

    // The spool file, opened (and created) on first need.
    bool Spool(std::string* error) {
        if (spool_) return true;
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(spool_path_).parent_path(), ec);
        spool_ = SqliteTable::Open(spool_path_, error);
        return spool_ != nullptr;
    }

    // Whether the connection is up, reconnecting once if it was lost.
    bool Online() {
        if (online_) return true;
        PQreset(conn_);
        online_ = PQstatus(conn_) == CONNECTION_OK;
        if (!online_) lost_reason_ = FirstLine(PQerrorMessage(conn_));
        return online_;
    }

    // Sends the spooled rows, oldest first. A server still unreachable is no failure: the
    // rows stay.
    bool SendSpool(std::string* error) {
        if (!spool_) return true;
        std::int64_t sent = 0;
        bool ok = true;
        std::vector<SqliteTable::Kept> rows;
        while (ok) {
            ok = spool_->Oldest(kSpoolBatch, &rows, error);
            if (!ok || rows.empty() || !Online()) break;
            for (const SqliteTable::Kept& row : rows) {
                if (!Insert(row.cells)) {
                    if (online_) ok = Refused(error);
                    break;
                }
                ok = spool_->Remove(row.id, error);
                if (!ok) break;
                ++sent;
            }
            if (!online_) break;
        }
        if (sent > 0)
            Tell(RowCount(sent) + " kept in " + spool_path_ + " sent to the PostgreSQL database");
        return ok;
    }

    void Tell(const std::string& text) const {
        if (notice_) notice_(text);
    }

    PGconn* conn_;
    ReportNotice notice_;
    std::string spool_path_;
    std::string station_;
    std::unique_ptr<SqliteTable> spool_;
    bool online_ = true;
    std::string lost_reason_;
};

}  // namespace

std::unique_ptr<ReportSink> OpenPostgresReport(const std::string& uri, ReportNotice notice,
                                               std::string* error) {
    PGconn* conn = Connect(uri);
    if (!conn) {
        *error = "cannot reach the PostgreSQL database: out of memory";
        return nullptr;
    }
    if (PQstatus(conn) != CONNECTION_OK) {
        *error = "cannot reach the PostgreSQL database: " + FirstLine(PQerrorMessage(conn));
        PQfinish(conn);
        return nullptr;
    }
    std::string why;
    // Naming every column in a query refuses a table of another shape before any row.
    if (!Command(conn, CreateSql(), &why) || !Command(conn, SelectRowsSql() + " LIMIT 0", &why)) {
        *error =
            "the PostgreSQL database has no usable table " + std::string(kReportTable) + ": " + why;
        PQfinish(conn);
        return nullptr;
    }
    auto report = std::make_unique<PostgresReport>(conn, std::move(notice), SpoolPath(uri));
    if (!report->SendEarlierRows(error)) return nullptr;
    return report;
}

}  // namespace zb
