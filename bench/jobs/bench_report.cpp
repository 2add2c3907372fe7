// The database reports' append (OpenReportSink(...)->Append) with the rows of a 1024-port
// run, against a floor: the same cells inserted with the database's own API in the cheapest
// sound way the sink could use for the same calls.
//  (a) An SQLite file on local disk. The rows in one call: floor, one prepared INSERT per
//      row, all in one transaction. 1024 calls of one row, as watch appends: floor, the same
//      INSERT with each row in a transaction of its own.
//  (b) A private PostgreSQL server on a Unix socket. One call: floor, PQexecParams of the
//      same INSERT per row in one transaction. 1024 calls: floor, the same in autocommit.
//  (c) 1024 rows kept in the spool while the server is stopped, sent by the next Append (of
//      no rows) once it is back, reconnecting included: against (b)'s one-call floor, taken
//      right after.
// Each figure is the median of 3 runs, each into empty tables of the sink's making; within a
// run the sink and its floors take turns call by call. Both sides make the rows' cells and
// new row_ids in their time. The files are in TMPDIR: TMPDIR=/dev/shm leaves out the disk's
// flushes, and so shows the sinks' own work.
// Targets. The SQLite sink commits each row of a call alone, so that a refused row does not
// take the others with it: its one call costs a commit per row, far above the one-transaction
// floor (shown, no target), and is held to a floor of a commit per row instead. On a disk,
// where a commit costs milliseconds, every ratio is 1.0 to 1.5; on a tmpfs the sinks' own
// work shows (a statement prepared and a presence check per row, four round trips per call
// to PostgreSQL against one): 1.5 to 3. So: one-row calls and SQLite's one call <= 4,
// PostgreSQL's one call and the spool <= 3. A commit per row in PostgreSQL's one call or the
// spool's batches (10 and more here), or a lost prepared statement or a second round trip per
// row where no disk hides it, crosses them.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <libpq-fe.h>
#include <sqlite3.h>

#include "jobs/report/report_database.h"
#include "jobs/report/report_open.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Rows = std::vector<zb::ReportRow>;
constexpr int kPorts = 1024;
constexpr int kRuns = 3;

Rows RunRows() {
    const zb::RunLabel label{zb::NewRunId(), {{"operator", "ana"}, {"order", "WO-17"}}};
    Rows rows(kPorts);
    for (int i = 0; i < kPorts; ++i) {
        zb::ReportRow& row = rows[static_cast<std::size_t>(i)];
        zb::DeviceRecord record{};
        std::snprintf(record.devname.data(), record.devname.size(), "B-%d", i + 1);
        row.time = zb::ReportTime(std::chrono::system_clock::now());
        row.run_id = label.run_id;
        row.tags = label.tags;
        row.com = i + 1;
        row.port_id = "/dev/serial/by-id/usb-bench-" + std::to_string(i + 1) + "-port0";
        row.device = "/dev/ttyUSB" + std::to_string(i);
        row.command = "upgrade";
        row.ok = true;
        row.message = "Upgrade successfully";
        row.fw_before = "1.0.0";
        row.fw_after = "1.0.1";
        row.settings = zb::ReportSettings(record);
        row.file = "/srv/line/images/zb-1.0.1.rom";
        row.file_sha256 = std::string(64, 'a');
    }
    return rows;
}

// The sink's insert: "?" placeholders for SQLite, "$1".. for PostgreSQL.
std::string InsertSql(bool numbered) {
    std::string sql =
        "INSERT INTO " + std::string(zb::kReportTable) + " (" + zb::QuotedColumns() + ") VALUES (";
    for (std::size_t i = 0; i < zb::DbColumns().size(); ++i)
        sql += (i == 0 ? "" : ", ") + (numbered ? "$" + std::to_string(i + 1) : std::string("?"));
    return sql + ") ON CONFLICT (\"row_id\") DO NOTHING";
}

double Seconds(const std::function<bool()>& work, bool* ok) {
    const auto t0 = Clock::now();
    *ok = work() && *ok;
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Adds the run's rows [at, at + n): to a sink, or with the database's own API.
using Adder = std::function<bool(std::size_t at, std::size_t n)>;

// n is 1 or every row.
Adder SinkAdder(zb::ReportSink& sink, const Rows& rows) {
    return [&sink, &rows](std::size_t at, std::size_t n) {
        return (n == rows.size() ? sink.Append(rows) : sink.Append({rows[at]})).ok();
    };
}

// Each side's time for all the rows, n a call. The sides take turns call by call, so that a
// disk or a machine that changes speed meanwhile slows each alike.
std::vector<double> Race(const std::vector<Adder>& sides, std::size_t n, bool* ok) {
    std::vector<double> seconds(sides.size());
    for (std::size_t at = 0; *ok && at < kPorts; at += n)
        for (std::size_t s = 0; s < sides.size(); ++s)
            seconds[s] += Seconds([&] { return sides[s](at, n); }, ok);
    return seconds;
}

// Of each side, the median over the runs.
std::vector<double> Medians(const std::vector<std::vector<double>>& runs) {
    std::vector<double> medians;
    for (std::size_t s = 0; !runs.empty() && s < runs[0].size(); ++s) {
        std::vector<double> side;
        side.reserve(runs.size());
        for (const std::vector<double>& run : runs) side.push_back(run[s]);
        std::sort(side.begin(), side.end());
        medians.push_back(side[side.size() / 2]);
    }
    return medians;
}

class SqliteFloor {
public:
    explicit SqliteFloor(const std::string& path) {
        ok_ = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db_, InsertSql(false).c_str(), -1, &insert_, nullptr) == SQLITE_OK;
    }
    ~SqliteFloor() {
        sqlite3_finalize(insert_);
        sqlite3_close(db_);
    }
    SqliteFloor(const SqliteFloor&) = delete;
    SqliteFloor& operator=(const SqliteFloor&) = delete;

    // In one transaction, or `each_alone` each row in one of its own.
    bool Add(const Rows& rows, std::size_t at, std::size_t n, bool each_alone) {
        bool ok = ok_ && (each_alone || Exec("BEGIN IMMEDIATE"));
        for (std::size_t r = at; ok && r < at + n; ++r) {
            const zb::DbCells cells = zb::DbCellsOf(rows[r], station_, zb::NewRowId());
            for (std::size_t i = 0; i < cells.size(); ++i)
                (void)(cells[i] ? sqlite3_bind_text(insert_, static_cast<int>(i + 1),
                                                    cells[i]->c_str(), -1, SQLITE_TRANSIENT)
                                : sqlite3_bind_null(insert_, static_cast<int>(i + 1)));
            ok = sqlite3_step(insert_) == SQLITE_DONE && sqlite3_reset(insert_) == SQLITE_OK;
        }
        return ok && (each_alone || Exec("COMMIT"));
    }

private:
    bool Exec(const char* sql) {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    bool ok_ = false;
    std::string station_ = zb::StationName();
};

long long SqliteCount(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_stmt* count = nullptr;
    long long n = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT count(*) FROM job_report", -1, &count, nullptr) == 0 &&
        sqlite3_step(count) == SQLITE_ROW)
        n = sqlite3_column_int64(count, 0);
    sqlite3_finalize(count);
    sqlite3_close(db);
    return n;
}

bool PgOk(PGresult* result) {
    const bool ok =
        PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
    PQclear(result);
    return ok;
}

class PgFloor {
public:
    explicit PgFloor(const std::string& uri) : conn_(PQconnectdb(uri.c_str())) {}
    ~PgFloor() { PQfinish(conn_); }
    PgFloor(const PgFloor&) = delete;
    PgFloor& operator=(const PgFloor&) = delete;
    PGconn* conn() const { return conn_; }

    // In one transaction, or `each_alone` each row in autocommit.
    bool Add(const Rows& rows, std::size_t at, std::size_t n, bool each_alone) {
        bool ok = PQstatus(conn_) == CONNECTION_OK && (each_alone || PgOk(PQexec(conn_, "BEGIN")));
        for (std::size_t r = at; ok && r < at + n; ++r) {
            const zb::DbCells cells = zb::DbCellsOf(rows[r], station_, zb::NewRowId());
            std::vector<const char*> values;
            for (const auto& cell : cells) values.push_back(cell ? cell->c_str() : nullptr);
            ok = PgOk(PQexecParams(conn_, sql_.c_str(), static_cast<int>(values.size()), nullptr,
                                   values.data(), nullptr, nullptr, 0));
        }
        return ok && (each_alone || PgOk(PQexec(conn_, "COMMIT")));
    }

private:
    PGconn* conn_;
    std::string sql_ = InsertSql(true);
    std::string station_ = zb::StationName();
};

long long PgCount(PGconn* conn) {
    PGresult* result = PQexec(conn, "SELECT count(*) FROM job_report");
    const long long n = PQntuples(result) == 1 ? std::atoll(PQgetvalue(result, 0, 0)) : -1;
    PQclear(result);
    return n;
}

// A private server, as the tests start one; as root, run as nobody.
class PgServer {
public:
    PgServer(const std::string& bin, const std::string& dir) : bin_(bin), dir_(dir + "/pg") {
        fs::create_directory(dir_);
        if (::geteuid() == 0) {
            fs::permissions(dir, fs::perms::others_exec, fs::perm_options::add);
            ok_ = std::system(("chown nobody " + dir_).c_str()) == 0;
            as_ = "runuser -u nobody -- ";
        }
        ok_ = ok_ && Run("initdb -D " + dir_ + "/data -U zbbench --auth=trust -E UTF8") && Start();
    }
    ~PgServer() { (void)Run("pg_ctl -D " + dir_ + "/data -w -s -m immediate stop"); }
    bool ok() const { return ok_; }
    bool Start() {
        return Run("pg_ctl -D " + dir_ + "/data -w -s -l " + dir_ + "/log -o \"-k " + dir_ +
                   " -c listen_addresses=''\" start");
    }
    bool Stop() { return Run("pg_ctl -D " + dir_ + "/data -w -s -m fast stop"); }
    std::string Uri() const { return "postgresql:///postgres?host=" + dir_ + "&user=zbbench"; }

private:
    bool Run(const std::string& command) {
        return std::system((as_ + bin_ + command + " >>" + dir_ + "/out 2>&1").c_str()) == 0;
    }
    std::string bin_, dir_, as_;
    bool ok_ = true;
};

std::string ServerBin() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec))
        if (fs::exists(entry.path() / "bin/initdb")) return (entry.path() / "bin/").string();
    return {};
}

struct Case {
    const char* name;
    double time, floor;
    double target;  // the largest ratio met; 0 for none
};

void Print(const Case& c) {
    std::printf("%-46s %5d %9.3f %9.3f %8.2f %9.0f%s\n", c.name, kPorts, c.time, c.floor,
                c.time / c.floor, kPorts / c.time, c.target > 0 ? "" : "  (no target)");
}

}  // namespace

int main() {
    zbtest::ScratchDir scratch("zbbench-report");
    const std::string& dir = scratch.path();
    if (dir.empty()) return 1;
    ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
    const Rows rows = RunRows();
    bool ok = true;
    std::vector<Case> cases;
    std::printf(
        "Report append, %d-port run, median of %d (floor: the same cells inserted with "
        "the database's own API)\n%-46s %5s %9s %9s %8s %9s\n",
        kPorts, kRuns, "case", "rows", "time [s]", "floor [s]", "ratio", "rows/s");

    int files = 0;
    const auto fresh = [&] {
        const std::string path = dir + "/t" + std::to_string(files++) + ".db";
        return zb::OpenReportSink(path) ? path : std::string();  // the table made as the sink does
    };
    for (const bool one_call : {true, false}) {
        std::vector<std::vector<double>> runs;
        for (int run = 0; ok && run < kRuns; ++run) {
            const std::string a = fresh(), b = fresh(), c = fresh();
            auto sink = zb::OpenReportSink(a);
            SqliteFloor floor(b), alone(c);
            ok = sink && !c.empty();
            if (!ok) break;
            std::vector<Adder> sides{SinkAdder(**sink, rows), [&](std::size_t at, std::size_t n) {
                                         return floor.Add(rows, at, n, !one_call);
                                     }};
            if (one_call)
                sides.push_back(
                    [&](std::size_t at, std::size_t n) { return alone.Add(rows, at, n, true); });
            runs.push_back(Race(sides, one_call ? kPorts : 1, &ok));
            for (const std::string& path : {a, b, c})
                ok = ok && SqliteCount(path) == (one_call || path != c ? kPorts : 0);
        }
        if (!ok) break;
        const std::vector<double> t = Medians(runs);
        if (one_call) {
            cases.push_back({"(a) SQLite, one call", t[0], t[1], 0});
            Print(cases.back());
            cases.push_back({"(a) SQLite, one call; floor a commit per row", t[0], t[2], 4});
        } else {
            cases.push_back({"(a) SQLite, 1024 calls of one row", t[0], t[1], 4});
        }
        Print(cases.back());
    }

    const std::string bin = ServerBin();
    if (bin.empty()) {
        std::printf("(b), (c) skipped: no PostgreSQL server binaries in /usr/lib/postgresql\n");
    } else {
        PgServer server(bin, dir);
        ok = ok && server.ok();
        const auto count = [&] {
            const PgFloor look(server.Uri());
            return PgCount(look.conn());
        };
        const auto empty = [&] {
            const PgFloor look(server.Uri());
            return PgOk(PQexec(look.conn(), "TRUNCATE job_report"));
        };
        for (const bool one_call : {true, false}) {
            std::vector<std::vector<double>> runs;
            for (int run = 0; ok && run < kRuns; ++run) {
                auto sink = zb::OpenReportSink(server.Uri());
                PgFloor floor(server.Uri());
                ok = sink && empty();
                if (!ok) break;
                runs.push_back(Race({SinkAdder(**sink, rows),
                                     [&](std::size_t at, std::size_t n) {
                                         return floor.Add(rows, at, n, !one_call);
                                     }},
                                    one_call ? kPorts : 1, &ok));
                ok = ok && count() == 2LL * kPorts;
            }
            if (!ok) break;
            const std::vector<double> t = Medians(runs);
            cases.push_back(
                {one_call ? "(b) PostgreSQL, one call" : "(b) PostgreSQL, 1024 calls of one row",
                 t[0], t[1], one_call ? 3.0 : 4.0});
            Print(cases.back());
        }
        // The floor right after the spool is sent, on the same server.
        std::vector<std::vector<double>> runs;
        for (int run = 0; ok && run < kRuns; ++run) {
            auto sink = zb::OpenReportSink(server.Uri(), [](const std::string&) {});
            ok = sink && empty() && server.Stop() && (*sink)->Append(rows).ok() && count() == -1 &&
                 server.Start();
            if (!ok) break;
            PgFloor floor(server.Uri());
            runs.push_back({Seconds([&] { return (*sink)->Append({}).ok(); }, &ok),
                            Seconds([&] { return floor.Add(rows, 0, kPorts, false); }, &ok)});
            ok = ok && count() == 2LL * kPorts;
        }
        if (ok) {
            const std::vector<double> t = Medians(runs);
            cases.push_back({"(c) PostgreSQL, the spool sent", t[0], t[1], 3});
            Print(cases.back());
        }
    }

    for (const Case& c : cases) ok = ok && (c.target == 0 || c.time / c.floor <= c.target);
    std::printf(
        "Targets (ratio <= 4 for one-row calls and SQLite's one call, <= 3 for "
        "PostgreSQL's one call and the spool): %s\n",
        ok ? "met" : "MISSED (or a case failed)");
    return ok ? 0 : 1;
}
