// The PostgreSQL report: rows go straight into the line's shared database. While its server
// cannot be reached, the rows wait in a spool file on this PC (an SQLite file with the same
// table, one per database URI), and go to the server, oldest first, as soon as an append or
// a later run finds it back. A row sent twice (its insert's answer lost with the
// connection) is added once, by its row_id.
#include <libpq-fe.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string_view>
#include <system_error>
#include <utility>

#include "jobs/report/report_database.h"
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

PGresult* Execute(PGconn* conn, const DbCells& cells) {
    std::vector<const char*> values;
    values.reserve(cells.size());
    for (const std::optional<std::string>& cell : cells)
        values.push_back(cell ? cell->c_str() : nullptr);
    return PQexecParams(conn, InsertSql().c_str(), static_cast<int>(values.size()), nullptr,
                        values.data(), nullptr, nullptr, 0);
}

// Tries the ProbeRows in a transaction that is rolled back.
bool TakesRows(PGconn* conn, std::string* error) {
    if (!Command(conn, "BEGIN", error)) return false;
    bool ok = true;
    for (const DbCells& cells : ProbeRows(StationName())) {
        const PgResult result(Execute(conn, cells));
        if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
            *error = FirstLine(PQerrorMessage(conn));
            ok = false;
            break;
        }
        // A trigger that returns no row leaves it out, unsaid.
        if (std::string_view(PQcmdTuples(result.get())) != "1") {
            *error = "a report row is left out";
            ok = false;
            break;
        }
    }
    std::string why;
    return Command(conn, "ROLLBACK", ok ? error : &why) && ok;
}

enum class Sent { Added, Refused, Offline };

// Earlier releases named the spool after the whole URI, password included: rows such a
// spool still holds move into today's, oldest first, and the old file goes.
bool AdoptOldSpool(const std::string& old_path, SqliteTable& spool, std::string* error) {
    std::error_code ec;
    if (old_path == spool.path() || !std::filesystem::exists(old_path, ec)) return true;
    std::unique_ptr<SqliteTable> old = SqliteTable::Open(old_path, error);
    if (!old) return false;
    std::vector<SqliteTable::Kept> rows;
    do {
        if (!old->Oldest(kSpoolBatch, &rows, error)) return false;
        for (const SqliteTable::Kept& row : rows) {
            bool removed = false;
            if (!spool.Insert(row.cells, error) || !old->Remove(row.id, &removed, error))
                return false;
        }
    } while (!rows.empty());
    old.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(old_path + suffix, ec);
    return true;
}

class PostgresReport final : public ReportSink {
public:
    PostgresReport(PGconn* conn, ReportNotice notice, std::unique_ptr<SqliteTable> spool)
        : conn_(conn),
          notice_(std::move(notice)),
          spool_(std::move(spool)),
          station_(StationName()) {}

    ~PostgresReport() override {
        std::string error;
        if (spool_->Count() > 0) {
            (void)Online();
            // Nobody hears of an error now: a row the server refuses stays for the next run,
            // which says so.
            (void)SendSpool(&error, false);
            if (const std::int64_t left = spool_->Count(); left > 0)
                Tell(RowCount(left) + " wait in " + spool_->path() +
                     "; the next run that reports into this database sends them");
        }
        PQfinish(conn_);
    }
    PostgresReport(const PostgresReport&) = delete;
    PostgresReport& operator=(const PostgresReport&) = delete;

    // Sends what an earlier run left in the spool file.
    bool SendEarlierRows(std::string* error) { return SendSpool(error); }

protected:
    bool AppendRows(const std::vector<ReportRow>& rows, std::string* error) override {
        if (!online_) (void)Online();
        // A row refused, or one the spool could not keep, does not stop the others.
        std::string first_error;
        bool ok = SendSpool(&first_error);
        std::int64_t kept = 0;
        for (const ReportRow& row : rows) {
            const DbCells cells = DbCellsOf(row, station_, NewRowId());
            const Sent sent = online_ ? Send(cells) : Sent::Offline;
            std::string why;
            if (sent == Sent::Added) continue;
            if (sent == Sent::Refused)
                why = RefusedText(cells);
            else if (spool_->Insert(cells, &why))
                ++kept;
            else
                why = RowName(cells) + " not kept: " + why;
            if (!why.empty() && ok) first_error = why;
            ok = ok && why.empty();
        }
        if (kept > 0 && !keeping_) {
            keeping_ = true;
            Tell("the PostgreSQL database is unreachable (" + lost_reason_ + "); " +
                 RowCount(kept) + " kept in " + spool_->path() + " until it is back");
        }
        if (!ok) *error = first_error;
        return ok;
    }

private:
    // Sends one row; a failure that is no refusal reconnects once and sends it again (its
    // row_id adds it once should the first try have gone in after all).
    Sent Send(const DbCells& cells) {
        for (int attempt = 0;; ++attempt) {
            const PgResult result(Execute(conn_, cells));
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
    bool SendSpool(std::string* error, bool drop_refused = true) {
        std::int64_t sent = 0;
        std::string refused;
        std::string why;
        bool ok = true;
        std::vector<SqliteTable::Kept> rows;
        while (ok && online_ && (drop_refused || refused.empty())) {
            ok = spool_->Oldest(kSpoolBatch, &rows, &why);
            if (!ok || rows.empty()) break;
            for (const SqliteTable::Kept& row : rows) {
                const Sent result = Send(row.cells);
                if (result == Sent::Refused && refused.empty()) refused = RefusedText(row.cells);
                if (result == Sent::Offline || (result == Sent::Refused && !drop_refused)) break;
                bool removed = false;
                ok = spool_->Remove(row.id, &removed, &why);
                if (!ok) break;
                if (removed && result == Sent::Added) ++sent;
            }
        }
        if (sent > 0)
            Tell(RowCount(sent) + " kept in " + spool_->path() +
                 " sent to the PostgreSQL database");
        if (!ok)
            *error = why;
        else if (!refused.empty())
            *error = refused;
        return ok && refused.empty();
    }

    void Tell(const std::string& text) const {
        if (notice_) notice_(text);
    }

    PGconn* conn_;
    ReportNotice notice_;
    std::unique_ptr<SqliteTable> spool_;
    std::string station_;
    bool online_ = true;
    bool keeping_ = false;  // rows went to the spool since the connection was last up
    std::string lost_reason_;
    std::string refusal_;
};

}  // namespace

std::unique_ptr<ReportSink> OpenPostgresReport(const std::string& uri, ReportNotice notice,
                                               std::string* error) {
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
        *error = "the PostgreSQL URI is malformed: " + shown;
        if (shown == uri && parse_error) *error += " (" + FirstLine(parse_error) + ")";
        PQfreemem(parse_error);
        return nullptr;
    }
    PQconninfoFree(options);
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
    if (!Command(conn, CreateSql(), &why) || !Command(conn, SelectRowsSql() + " LIMIT 0", &why) ||
        !TakesRows(conn, &why)) {
        *error =
            "the PostgreSQL database has no usable table " + std::string(kReportTable) + ": " + why;
        PQfinish(conn);
        return nullptr;
    }
    // The spool is opened now, so that a station whose spool cannot be written learns it
    // before its rows depend on it.
    const std::string spool_path = SpoolPath(shown);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(spool_path).parent_path(), ec);
    std::unique_ptr<SqliteTable> spool = SqliteTable::Open(spool_path, error);
    if (!spool) {
        PQfinish(conn);
        return nullptr;
    }
    if (!AdoptOldSpool(SpoolPath(uri), *spool, error)) {
        PQfinish(conn);
        return nullptr;
    }
    auto report = std::make_unique<PostgresReport>(conn, std::move(notice), std::move(spool));
    if (!report->SendEarlierRows(error)) return nullptr;
    return report;
}

}  // namespace zb
