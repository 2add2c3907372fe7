// Reports into databases: a real PostgreSQL server, started by the test on a Unix socket in
// a private folder, and SQLite files; zbctl runs as scripts run it. And a row's cells.
#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include "firmware_image.h"
#include "jobs/report/report_database.h"
#include "jobs/report/report_format.h"
#include "jobs/report/report_open.h"
#include "modem_bank.h"
#include "scratch_dir.h"
#include "spawned_program.h"
#include "wait_until.h"

namespace {

namespace fs = std::filesystem;

const std::string kServerBin = "/usr/lib/postgresql/15/bin/";

using zbtest::ReadAll;

// The rows of a query, each as its cells joined by '|', NULL as "NULL"; or a change's none.
std::vector<std::string> PostgresRows(const std::string& uri, const std::string& sql) {
    std::vector<std::string> rows;
    PGconn* conn = PQconnectdb(uri.c_str());
    PGresult* result = PQexec(conn, sql.c_str());
    EXPECT_LE(PQresultStatus(result), PGRES_TUPLES_OK) << PQerrorMessage(conn);
    for (int r = 0; r < PQntuples(result); ++r) {
        std::string row;
        for (int c = 0; c < PQnfields(result); ++c)
            row += (c ? "|" : "") +
                   std::string(PQgetisnull(result, r, c) ? "NULL" : PQgetvalue(result, r, c));
        rows.push_back(row);
    }
    PQclear(result);
    PQfinish(conn);
    return rows;
}

std::vector<std::string> SqliteRows(const std::string& path, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
        SQLITE_OK);
    const auto add = [](void* out, int n, char** cells, char**) {
        std::string row;
        for (int c = 0; c < n; ++c)
            row += (c ? "|" : "") + std::string(cells[c] ? cells[c] : "NULL");
        static_cast<std::vector<std::string>*>(out)->push_back(row);
        return 0;
    };
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), add, &rows, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    return rows;
}

class DatabaseReport : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kServerBin + "initdb"))
            GTEST_SKIP() << "no PostgreSQL server in " << kServerBin;
        ASSERT_FALSE(scratch_.path().empty());
        dir_ = scratch_.path();
        pg_ = dir_ + "/pg";
        fs::create_directory(pg_);
        // The server refuses to run as root: as root, it runs as nobody in a folder of its own.
        if (::geteuid() == 0) {
            if (std::system("id -u nobody >/dev/null 2>&1 && command -v runuser >/dev/null") != 0)
                GTEST_SKIP() << "running as root, and no user nobody or runuser to run the server";
            fs::permissions(dir_, fs::perms::others_exec, fs::perm_options::add);
            ASSERT_EQ(std::system(("chown nobody " + pg_).c_str()), 0);
            as_server_ = "runuser -u nobody -- ";
        }
        ASSERT_EQ(Server("initdb -D " + pg_ + "/data -U zbtest --auth=trust -E UTF8 --no-sync"), 0)
            << ReadAll(pg_ + "/out");
        Start();
        // The spool files go to the test's folder.
        ::setenv("XDG_STATE_HOME", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (!pg_.empty()) (void)Server("pg_ctl -D " + pg_ + "/data -w -s -m immediate stop");
    }

    int Server(const std::string& command) {
        return std::system((as_server_ + kServerBin + command + " >" + pg_ + "/out 2>&1").c_str());
    }
    void Start() {
        ASSERT_EQ(Server("pg_ctl -D " + pg_ + "/data -w -s -l " + pg_ + "/log -o \"-k " + pg_ +
                         " -c listen_addresses=''\" start"),
                  0)
            << ReadAll(pg_ + "/log");
    }
    void Stop() { ASSERT_EQ(Server("pg_ctl -D " + pg_ + "/data -w -s -m fast stop"), 0); }
    std::string Uri() const { return "postgresql:///postgres?host=" + pg_ + "&user=zbtest"; }

    // zbctl on the test's port map; its stdout and stderr go to NAME.out and NAME.err.
    pid_t Spawn(std::vector<std::string> args, const std::string& name) {
        args.insert(args.begin(), {ZBCTL_PATH, "--ports-dir", dir_, "--no-pauses"});
        const pid_t pid = zbtest::SpawnProgram(std::move(args), dir_ + "/" + name + ".out",
                                               dir_ + "/" + name + ".err");
        EXPECT_NE(pid, -1);
        return pid;
    }
    int Wait(pid_t pid) {
        int status = 0;
        EXPECT_EQ(::waitpid(pid, &status, 0), pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }

    zbtest::ScratchDir scratch_{"zbctl-db"};
    std::string dir_;
    std::string pg_;
    std::string as_server_;
};

std::string HostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

TEST_F(DatabaseReport, TwoRunsAtOnceEachAddEveryRowWhole) {
    const auto modems = zbtest::StartModems(dir_, 8, 3);
    const std::string sqlite = dir_ + "/station.db";
    for (const std::string& target : {Uri(), sqlite}) {
        SCOPED_TRACE(target);
        const pid_t a = Spawn({"--report", target, "read", "COM3", "COM4", "COM5", "COM6"}, "a");
        const pid_t b = Spawn({"--report", target, "read", "COM7", "COM8", "COM9", "COM10"}, "b");
        EXPECT_EQ(Wait(a), 0) << ReadAll(dir_ + "/a.err");
        EXPECT_EQ(Wait(b), 0) << ReadAll(dir_ + "/b.err");
        const auto rows = target == sqlite ? SqliteRows : PostgresRows;
        std::vector<std::string> expected;
        for (int com = 3; com <= 10; ++com)
            expected.push_back(std::to_string(com) + "|" + HostName() + "|read|1|ok");
        EXPECT_EQ(rows(target,
                       "SELECT com, station, command, try, result FROM job_report "
                       "ORDER BY com"),
                  expected);
        EXPECT_EQ(rows(target,
                       "SELECT count(*) FROM job_report WHERE baud IS NULL OR "
                       "devname IS NULL OR aeskey IS NULL OR verify IS NOT NULL"),
                  std::vector<std::string>{"0"});
        // Numbers compare as numbers: 115200 > 9600, which as texts it is not.
        EXPECT_EQ(rows(target,
                       "SELECT count(*) FROM job_report WHERE baud > 9600 AND fw_type = 257 AND "
                       "channel = 11 AND outpower = 1 AND time >= '2026-01-01' AND run_id > ''"),
                  std::vector<std::string>{"8"});
    }
}

zb::ReportRow Row(std::int32_t com, const std::string& message) {
    zb::ReportRow row;
    row.time = "2026-12-07T10:00:00Z";
    row.com = com;
    row.command = "read";
    row.message = message;
    return row;
}

// A table an earlier release made, every setting a text and the AES key itself: its rows stay,
// with typed columns and the keys' fingerprints (said once), new rows go in, and it gets the
// run's columns and the indexes; a user that may change none of it adds rows without.
TEST_F(DatabaseReport, ATableOfAnEarlierReleaseKeepsTakingRows) {
    std::string old = " PRIMARY KEY, station text, row_id text UNIQUE, \"";
    for (const char c : zb::CsvHeader(false)) old += c == ',' ? "\" text, \"" : std::string(1, c);
    old.replace(old.size() - 1, 1, "\" text");  // the header's newline
    zb::ReportRow tagged = Row(4, "Get device's settings");
    tagged.settings = zb::ReportSettings(zb::DeviceRecord{});
    tagged.tags = {{"operator", "ana"}};
    PostgresRows(Uri(), "CREATE ROLE station LOGIN");
    const struct {
        std::string target;
        const char* tag;
        const char* tagged;   // what the new row's tag reads
        const char* indexes;  // ours, and PostgreSQL's for the key and row_id
        bool typed;           // by its owner; the station may not change it
    } rows[] = {
        {dir_ + "/old.db", "json_extract(tags, '$.operator')", "ana", "4", true},
        {Uri(), "tags->>'operator'", "ana", "6", true},
        {Uri() + "&user=station", "NULL", "NULL", "2", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.target);
        const bool pg = row.target != rows[0].target;
        const auto query = pg ? PostgresRows : SqliteRows;
        const std::string owner = pg ? Uri() : row.target;
        query(owner, "DROP TABLE IF EXISTS job_report");
        query(owner, "CREATE TABLE job_report (\"id\" " +
                         std::string(pg ? "bigserial" : "INTEGER") + old + ")");
        query(owner,
              "INSERT INTO job_report (row_id, com, lnodeid, channel, aeskey) VALUES ('r', '3', "
              "'12', '20', '00112233445566778899aabbccddEEFF'), ('s', '5', '10', '20', NULL), "
              "('t', '6', '?20', '20', 'sha256:20aff5a3')");
        if (!pg) query(owner, "CREATE VIEW routers AS SELECT * FROM job_report");
        if (!row.typed)
            query(owner,
                  "GRANT SELECT, INSERT ON job_report TO station; GRANT USAGE ON "
                  "job_report_id_seq TO station");
        std::vector<std::string> notices;
        const auto tell = [&notices](const std::string& text) { notices.push_back(text); };
        auto sink = zb::OpenReportSink(row.target, tell);
        ASSERT_TRUE(sink) << sink.error().reason;
        ASSERT_TRUE((*sink)->Append({tagged}).ok());
        ASSERT_TRUE(zb::OpenReportSink(row.target, tell).ok());  // says nothing of the types again
        const bool typed = row.typed;
        ASSERT_EQ(notices.size(), typed ? 1 : 4) << ::testing::PrintToString(notices);
        EXPECT_NE(
            notices[0].find(typed ? "job_report of an earlier release now has typed columns "
                                    "(3 rows kept; 1 plain AES key replaced by its fingerprint)"
                                  : "which could not be given their types (ERROR:  must be "
                                    "owner of table job_report)"),
            std::string::npos)
            << notices[0];
        EXPECT_TRUE(typed || notices[1].find("may not add") != std::string::npos);
        const std::string key = typed ? "sha256:20aff5a3" : "00112233445566778899aabbccddEEFF";
        EXPECT_EQ(query(owner, std::string("SELECT com, lnodeid, aeskey, ") + row.tag +
                                   " FROM job_report ORDER BY id"),
                  (std::vector<std::string>{
                      "3|12|" + key + "|NULL", "5|10|NULL|NULL",
                      typed ? "6|NULL|sha256:20aff5a3|NULL" : "6|?20|sha256:20aff5a3|NULL",
                      std::string("4|0||") + row.tagged}));
        // Numbers compare as numbers ("12" > "5" as texts); PostgreSQL's text refuses the query.
        const char* numbers = "SELECT count(*) FROM job_report WHERE lnodeid > 5 AND channel = 20";
        if (typed) {
            EXPECT_EQ(query(owner, numbers), std::vector<std::string>{"2"});
        }
        EXPECT_EQ(
            query(owner, std::string("SELECT count(*) FROM ") +
                             (pg ? "pg_indexes WHERE indexname" : "sqlite_master WHERE name") +
                             " LIKE 'job_report_%'"),
            std::vector<std::string>{row.indexes});
    }
}

// A connection lost keeps the rows in the spool file, which the sink names; they go to the
// server, before newer rows, when it is back: within the run, or with the next run's open.
TEST_F(DatabaseReport, RowsWaitInTheSpoolWhileTheServerIsAway) {
    std::vector<std::string> notices;
    const auto tell = [&notices](const std::string& text) {
        if (!text.starts_with("the PostgreSQL URI holds a password")) notices.push_back(text);
    };
    // This server asks for no password; the spool is the same whatever the URI's password.
    auto sink = zb::OpenReportSink(Uri() + "&password=old", tell);
    ASSERT_TRUE(sink) << sink.error().reason;
    ASSERT_TRUE((*sink)->Append({Row(3, "before")}).ok());

    Stop();
    // One notice as rows start being kept, not one per append.
    ASSERT_TRUE((*sink)->Append({Row(4, "away")}).ok());
    ASSERT_TRUE((*sink)->Append({Row(5, "away")}).ok());
    ASSERT_EQ(notices.size(), 1u);
    const std::string spool = dir_ + "/zbctl/report-spool-";
    EXPECT_NE(notices[0].find("1 report row kept in " + spool), std::string::npos) << notices[0];
    // An unreachable database that this station never checked (the spool goes by the URI
    // with its password masked) stops a run before any port is touched.
    const auto modems = zbtest::StartModems(dir_, 1, 3);
    EXPECT_EQ(Wait(Spawn({"--report", Uri(), "read", "COM3"}, "down")), 2);
    EXPECT_NE(
        ReadAll(dir_ + "/down.err").find("zbctl: --report cannot reach the PostgreSQL database"),
        std::string::npos);

    Start();
    ASSERT_TRUE((*sink)->Append({Row(6, "back")}).ok());
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[1].find("2 report rows kept in " + spool), std::string::npos) << notices[1];
    EXPECT_NE(notices[1].find("sent to the PostgreSQL database"), std::string::npos);

    Stop();
    ASSERT_TRUE((*sink)->Append({Row(7, "left over")}).ok());
    sink->reset();
    ASSERT_EQ(notices.size(), 4u);
    EXPECT_NE(notices[3].find("1 report row wait in " + spool), std::string::npos) << notices[3];
    Start();
    const std::string kept = notices[3].substr(0, notices[3].find(';')).substr(21);
    sink = zb::OpenReportSink(Uri() + "&password=new", tell);
    ASSERT_TRUE(sink) << sink.error().reason;
    ASSERT_EQ(notices.size(), 5u);
    EXPECT_EQ(notices[4], "1 report row kept in " + kept + " sent to the PostgreSQL database");

    EXPECT_EQ(PostgresRows(Uri(), "SELECT com, message FROM job_report ORDER BY id"),
              (std::vector<std::string>{"3|before", "4|away", "5|away", "6|back", "7|left over"}));
}

// The server killed mid-run answers the run's first insert with nothing, while libpq still
// calls the connection up: the rows wait in the spool, the next run sends them, and each
// arrives once.
TEST_F(DatabaseReport, RowsOfARunWhoseServerDiesArriveOnceLater) {
    const auto modems = zbtest::StartModems(dir_, 6, 1, true);
    const std::string image = dir_ + "/fw.rom";
    ASSERT_TRUE(zbtest::WriteFile(image, zbtest::MakeImage("0101", zbtest::PatternBody(48 << 10))));
    const pid_t run =
        Spawn({"--report", Uri(), "upgrade", image, "COM1", "COM2", "COM3", "COM4", "COM5", "COM6"},
              "run");
    // A port touched: zbctl is past its open, and the upgrade takes seconds.
    ASSERT_TRUE(zbtest::WaitUntil([&modems] { return modems->snapshot(1).commands > 0; }));
    ASSERT_EQ(Server("pg_ctl -D " + pg_ + "/data -w -s -m immediate stop"), 0);
    EXPECT_EQ(Wait(run), 0) << ReadAll(dir_ + "/run.err");
    EXPECT_NE(ReadAll(dir_ + "/run.err").find("6 report rows wait in"), std::string::npos);
    Start();
    EXPECT_EQ(Wait(Spawn({"--report", Uri(), "read", "COM1"}, "later")), 0);
    EXPECT_EQ(PostgresRows(Uri(),
                           "SELECT command, count(DISTINCT com), count(*) FROM job_report "
                           "WHERE result = 'ok' GROUP BY command ORDER BY command"),
              (std::vector<std::string>{"read|1|1", "upgrade|6|6"}));
}

// A table that cannot take the rows stops the run before any port is touched: a column
// missing (which SQLite reads as a text when quoted in a query), one that refuses every row
// or a failed port's; and an SQLite file that the user may only read.
TEST_F(DatabaseReport, ATableThatCannotTakeRowsIsRefusedOnOpen) {
    const struct {
        const char* change;
        const char* named;
    } rows[] = {
        {"ALTER TABLE job_report DROP COLUMN verify", "verify"},
        {"ALTER TABLE job_report ADD COLUMN line text CHECK (line IS NOT NULL)", "line"},
        {"ALTER TABLE job_report ADD COLUMN fw_known text CHECK (fw_after IS NOT NULL)", "fw_"},
    };
    int n = 0;
    for (const auto& row : rows) {
        for (const std::string& target : {Uri(), dir_ + "/" + std::to_string(++n) + ".db"}) {
            SCOPED_TRACE(target + ": " + row.change);
            const auto change = target == Uri() ? PostgresRows : SqliteRows;
            if (target == Uri()) change(target, "DROP TABLE IF EXISTS job_report");
            ASSERT_TRUE(zb::OpenReportSink(target).ok());
            change(target, row.change);
            const auto refused = zb::OpenReportSink(target);
            const std::string error = refused ? std::string() : refused.error().reason;
            EXPECT_NE(error.find("usable table job_report"), std::string::npos) << error;
            EXPECT_NE(error.find(row.named), std::string::npos) << error;
        }
    }
    // In WAL mode, only a write finds out; root writes anyway, so nobody tries.
    const std::string shared = dir_ + "/shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all);
    ASSERT_TRUE(zb::OpenReportSink(shared + "/station.db").ok());
    fs::permissions(shared + "/station.db",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const pid_t child = ::fork();
    if (child == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() == 0 && (!nobody || ::setgroups(0, nullptr) != 0 ||
                                 ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0))
            ::_exit(3);
        const auto opened = zb::OpenReportSink(shared + "/station.db");
        ::_exit(!opened && opened.error().reason.find("readonly") != std::string::npos ? 0 : 1);
    }
    EXPECT_EQ(Wait(child), 0);
}

// A row the server refuses, unlike one the connection lost, is not kept (Append fails): the
// error names it, and the rows after it still go in.
TEST_F(DatabaseReport, ARowRefusedIsNamedAndTheOthersGoIn) {
    auto sink = zb::OpenReportSink(Uri());
    ASSERT_TRUE(sink) << sink.error().reason;
    PostgresRows(Uri(), "ALTER TABLE job_report ADD CHECK (message <> 'refused')");
    const zb::Status added = (*sink)->Append({Row(3, "refused"), Row(4, "taken")});
    ASSERT_FALSE(added.ok());
    EXPECT_NE(added.reason().find("refused a row (COM3 read try 1): ERROR:  new row"),
              std::string::npos)
        << added.reason();
    sink->reset();
    EXPECT_EQ(PostgresRows(Uri(), "SELECT com FROM job_report"), std::vector<std::string>{"4"});
}

// A spool that one station fills while its server is away, and that three others drain
// meanwhile, sends each of its rows to the server once: a row leaves it only by its row_id.
TEST_F(DatabaseReport, ASpoolSharedByStationsSendsEachRowOnce) {
    const std::string uri = "postgresql:///postgres?user=zbtest";  // the host is PGHOST's
    ::setenv("PGHOST", pg_.c_str(), 1);
    ASSERT_TRUE(zb::OpenReportSink(uri).ok());
    std::vector<pid_t> stations;
    for (int com = 1; com <= 4; ++com) {
        stations.push_back(::fork());
        if (stations.back() != 0) continue;
        if (com == 1) ::setenv("PGHOST", (dir_ + "/nowhere").c_str(), 1);
        auto sink = zb::OpenReportSink(uri);
        bool added = sink.ok();
        for (int i = 0; added && i < 1000; ++i)
            added = (*sink)->Append({Row(com, std::to_string(i))}).ok();
        ::_exit(added ? 0 : 1);
    }
    for (const pid_t station : stations) EXPECT_EQ(Wait(station), 0);
    ASSERT_TRUE(zb::OpenReportSink(uri).ok());
    EXPECT_EQ(
        PostgresRows(Uri(),
                     "SELECT com, count(*), count(DISTINCT message) FROM job_report "
                     "GROUP BY com ORDER BY com"),
        (std::vector<std::string>{"1|1000|1000", "2|1000|1000", "3|1000|1000", "4|1000|1000"}));
    ::unsetenv("PGHOST");
}

// Rows a table's trigger or rule leaves out, or deletes once added, are named, however the
// database calls the insert done; the others go in.
TEST_F(DatabaseReport, RowsATableDoesNotKeepAreNamed) {
    const std::string all =
        "4 report rows not added (COM1 apply try 1, COM2 apply try 1, COM3 "
        "apply try 1, COM4 apply try 1): ";
    const std::string pg_delete =
        "CREATE FUNCTION f() RETURNS trigger LANGUAGE plpgsql AS "
        "$$BEGIN DELETE FROM job_report WHERE id = NEW.id; RETURN ";
    const struct {
        std::string target;
        std::string change;
        std::string named;
        std::vector<std::string> kept;
    } rows[] = {
        {"1.db",
         "CREATE TRIGGER t BEFORE INSERT ON job_report WHEN NEW.command = 'apply' BEGIN SELECT "
         "RAISE(IGNORE); END",
         all + dir_ + "/1.db: the table job_report did not keep the row",
         {}},
        {"2.db",
         "CREATE TRIGGER t AFTER INSERT ON job_report WHEN NEW.com = 3 BEGIN DELETE FROM "
         "job_report WHERE id = NEW.id; END",
         "COM3 apply try 1 not added: " + dir_ + "/2.db: the table",
         {"1", "2", "4"}},
        {Uri(),
         pg_delete + "NULL; END$$; CREATE TRIGGER t BEFORE INSERT ON job_report FOR EACH ROW "
                     "WHEN (NEW.command = 'apply') EXECUTE FUNCTION f()",
         all + "the PostgreSQL database refused them: the table job_report did not keep the row",
         {}},
        {Uri(),
         pg_delete + "NULL; END$$; CREATE TRIGGER t AFTER INSERT ON job_report FOR EACH ROW "
                     "WHEN (NEW.com = 3) EXECUTE FUNCTION f()",
         "refused a row (COM3 apply try 1): the table job_report did not keep the row",
         {"1", "2", "4"}},
        {Uri(),
         "CREATE RULE r AS ON INSERT TO job_report WHERE NEW.command = 'apply' DO INSTEAD "
         "NOTHING",
         all,
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.change);
        const bool pg = row.target == Uri();
        const std::string target = pg ? Uri() : dir_ + "/" + row.target;
        const auto query = pg ? PostgresRows : SqliteRows;
        if (pg) query(target, "DROP TABLE IF EXISTS job_report; DROP FUNCTION IF EXISTS f");
        auto sink = zb::OpenReportSink(target);
        ASSERT_TRUE(sink) << sink.error().reason;
        query(target, row.change);
        std::vector<zb::ReportRow> apply;
        for (int com = 1; com <= 4; ++com) apply.push_back(Row(com, "Apply OK"));
        for (zb::ReportRow& r : apply) r.command = "apply";
        const zb::Status added = (*sink)->Append(apply);
        const std::string told = added.ok() ? "added" : added.reason();
        EXPECT_NE(told.find(row.named), std::string::npos) << told;
        EXPECT_EQ(query(target, "SELECT com FROM job_report ORDER BY com"), row.kept);
    }
}

// An SQLite file another process holds locked: an append waits for it, but only until a
// hurry, and names the rows it could not add.
TEST_F(DatabaseReport, AHurryEndsTheWaitForALockedSqliteFile) {
    const std::string path = dir_ + "/station.db";
    auto sink = zb::OpenReportSink(path);
    ASSERT_TRUE(sink) << sink.error().reason;
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread hurry([&sink] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        (*sink)->Hurry();
    });
    const auto start = std::chrono::steady_clock::now();
    const zb::Status added = (*sink)->Append({Row(3, "a"), Row(4, "b")});
    hurry.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    ASSERT_FALSE(added.ok());
    EXPECT_TRUE(
        added.reason().starts_with("2 report rows not added (COM3 read try 1, COM4 read "
                                   "try 1): " +
                                   path + ": database is locked"))
        << added.reason();
    sqlite3_close(holder);
}

// A database this station checked before may be away when a run starts: the rows are kept
// until it is back. A login the server refuses stops a run, checked before or not.
TEST_F(DatabaseReport, ADatabaseCheckedBeforeMayBeAwayWhenARunStarts) {
    const auto modems = zbtest::StartModems(dir_, 1, 1);
    ASSERT_TRUE(zb::OpenReportSink(Uri()).ok());
    Stop();
    EXPECT_EQ(Wait(Spawn({"--report", Uri(), "read", "COM1"}, "away")), 0);
    const std::string err = ReadAll(dir_ + "/away.err");
    EXPECT_NE(err.find("zbctl: the PostgreSQL database is unreachable ("), std::string::npos);
    EXPECT_NE(err.find("); report rows are kept in " + dir_ + "/zbctl/"), std::string::npos);
    EXPECT_NE(err.find("1 report row wait in"), std::string::npos) << err;
    Start();
    ASSERT_TRUE(zb::OpenReportSink(Uri()).ok());
    EXPECT_EQ(PostgresRows(Uri(), "SELECT com, command FROM job_report"),
              std::vector<std::string>{"1|read"});

    PostgresRows(Uri(),
                 "CREATE ROLE op LOGIN PASSWORD 'right'; GRANT SELECT, INSERT ON job_report TO op; "
                 "GRANT USAGE ON job_report_id_seq TO op");
    const std::string hba = pg_ + "/data/pg_hba.conf";
    const std::string rules = "local all op scram-sha-256\n" + ReadAll(hba);
    std::ofstream(hba) << rules;
    ASSERT_EQ(Server("pg_ctl -D " + pg_ + "/data -s reload"), 0);
    const std::string op = "postgresql:///postgres?host=" + pg_ + "&user=op&password=";
    ASSERT_TRUE(zbtest::WaitUntil([&op] { return zb::OpenReportSink(op + "right").ok(); }));
    for (const char* password : {"wrong", ""}) {
        const auto refused = zb::OpenReportSink(op + password);
        ASSERT_FALSE(refused.ok());
        EXPECT_TRUE(
            refused.error().reason.starts_with("cannot log in to the PostgreSQL database: "))
            << refused.error().reason;
    }
}

// A proxy between the program and the server, on 127.0.0.1 at `*port`, that the test may stop
// (SIGSTOP) while the kernel still takes every packet.
pid_t StartProxy(const std::string& server_socket, int* port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    EXPECT_EQ(::listen(listener, 16), 0);
    EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    *port = ntohs(address.sin_port);
    const pid_t proxy = ::fork();
    if (proxy != 0) {
        ::close(listener);
        return proxy;
    }
    std::vector<pollfd> fds = {{listener, POLLIN, 0}};  // then pairs: client, server
    for (;;) {
        (void)::poll(fds.data(), fds.size(), -1);
        if (fds[0].revents & POLLIN) {
            const int client = ::accept(listener, nullptr, nullptr);
            const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un to{};
            to.sun_family = AF_UNIX;
            std::snprintf(to.sun_path, sizeof to.sun_path, "%s", server_socket.c_str());
            if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) ::_exit(1);
            fds.push_back({client, POLLIN, 0});
            fds.push_back({server, POLLIN, 0});
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            const std::size_t peer = i % 2 == 1 ? i + 1 : i - 1;
            char buffer[8192];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0 || ::write(fds[peer].fd, buffer, static_cast<std::size_t>(n)) != n) {
                ::close(fds[i].fd);
                ::close(fds[peer].fd);
                fds[i].fd = fds[peer].fd = -1;
            }
        }
    }
}

// A server gone silent behind a proxy that still acknowledges every packet: an append
// waits for it no longer than its deadline, or a moment after a hurry, and its rows are
// kept; the next run sends them.
TEST_F(DatabaseReport, AServerGoneSilentHoldsAnAppendNoLongerThanItsDeadline) {
    const auto modems = zbtest::StartModems(dir_, 1, 1, true);
    int port = 0;
    const pid_t proxy = StartProxy(pg_ + "/.s.PGSQL.5432", &port);
    const std::string uri =
        "postgresql://127.0.0.1:" + std::to_string(port) + "/postgres?user=zbtest";
    std::vector<std::string> notices;
    auto sink = zb::OpenReportSink(uri, [&notices](const std::string& t) { notices.push_back(t); });
    ASSERT_TRUE(sink) << sink.error().reason;
    ::kill(proxy, SIGSTOP);
    auto start = std::chrono::steady_clock::now();
    std::thread hurry([&sink] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        (*sink)->Hurry();
    });
    EXPECT_TRUE((*sink)->Append({Row(3, "hurried")}).ok());
    hurry.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    sink->reset();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[1].find("1 report row wait in"), std::string::npos) << notices[1];

    ::kill(proxy, SIGCONT);
    const std::string image = dir_ + "/fw.rom";
    ASSERT_TRUE(zbtest::WriteFile(image, zbtest::MakeImage("0101", zbtest::PatternBody(48 << 10))));
    const pid_t run = Spawn({"--report", uri, "upgrade", image, "COM1"}, "run");
    ASSERT_TRUE(zbtest::WaitUntil([&modems] { return modems->snapshot(1).commands > 0; }));
    ::kill(proxy, SIGSTOP);
    start = std::chrono::steady_clock::now();
    // The upgrade, the insert's 10 s and the end's 5 s reconnect.
    EXPECT_EQ(Wait(run), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_NE(ReadAll(dir_ + "/run.err").find("1 report row wait in"), std::string::npos);
    ::kill(proxy, SIGCONT);
    ASSERT_TRUE(zb::OpenReportSink(uri).ok());
    ::kill(proxy, SIGKILL);
    EXPECT_EQ(Wait(proxy), 128);
    EXPECT_EQ(PostgresRows(Uri(), "SELECT com, command FROM job_report ORDER BY id"),
              (std::vector<std::string>{"3|read", "1|upgrade"}));
}

// A second stop ends zbctl at once though its report waits on an SQLite file another
// program holds locked; the rows not written are named.
TEST_F(DatabaseReport, ASecondStopEndsARunWhoseReportWaits) {
    const auto modems = zbtest::StartModems(dir_, 2, 3);
    modems->add_fault(4, zbsim::Fault::Of(zbsim::FaultKind::Silent));  // the job outlasts the lock
    const pid_t pid = Spawn({"--report", dir_ + "/s.db", "read", "COM3", "COM4"}, "z");
    const auto said = [&](const char* text) {
        return zbtest::WaitUntil(
            [&] { return ReadAll(dir_ + "/z.err").find(text) != std::string::npos; });
    };
    ASSERT_TRUE(said("COM3: Inital serial port"));  // the report is open
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ + "/s.db").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_TRUE(said("COM4: Connection fail"));
    ::kill(pid, SIGINT);
    EXPECT_TRUE(said("zbctl: stopping"));
    const auto second = std::chrono::steady_clock::now();
    ::kill(pid, SIGINT);
    EXPECT_EQ(Wait(pid), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - second, std::chrono::seconds(7));  // not 10
    sqlite3_close(holder);
    EXPECT_TRUE(
        said("zbctl: report not written: 2 report rows not added (COM3 read try 1, COM4 "
             "read try 1)"))
        << ReadAll(dir_ + "/z.err");
}

// The texts the program made itself are stored as they are, UTF-8 and backslashes included,
// in every form: a tag with a backslash, Windows paths.
TEST(ReportForms, MadeTextsAreStoredAsTheyAre) {
    zb::ReportRow row;
    row.device = R"(\\.\COM3)";
    row.port_id = R"(\\?\USB#VID_0403&PID_6001#A5)";
    row.tags = {{"bs", "a\\b \xc3\xbc"}};
    row.file = R"(C:\images\zb 1.rom)";
    const zb::DbCells cells = zb::DbCellsOf(row, R"(st\1)", "id");
    const std::string csv = zb::CsvLine(row);
    const auto json = nlohmann::json::parse(zb::JsonObject(row));
    // In the order of the table's columns.
    const std::pair<std::string, std::string> stored[] = {{"station", R"(st\1)"},
                                                          {"device", row.device},
                                                          {"tags", "{\"bs\":\"a\\\\b \xc3\xbc\"}"},
                                                          {"port_id", row.port_id},
                                                          {"file", row.file}};
    for (std::size_t i = 0; const auto& [column, text] : stored) {
        while (i + 1 < cells.size() && zb::DbColumns()[i].name != column) ++i;
        EXPECT_EQ(cells[i].value_or("NULL"), text) << column;
        const bool in_csv = csv.find("," + text + ",") != std::string::npos;
        EXPECT_EQ(in_csv, column != "station" && column != "tags") << column << ": " << csv;
        EXPECT_TRUE(!json.contains(column) || column == "tags" || json[column] == text) << column;
    }
    EXPECT_NE(csv.find(",\"{\"\"bs\"\":\"\"a\\\\b \xc3\xbc\"\"}\","), std::string::npos) << csv;
    EXPECT_EQ(json["tags"]["bs"], row.tags[0].second);
}

}  // namespace
