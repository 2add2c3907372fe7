// The job_report table (report_database.h) in one SQLite file: the SQLite report, and the
// spool where the PostgreSQL report keeps rows while its server is unreachable.
//
// Several processes may share a file on a local disk: it is kept in write-ahead-log mode,
// and a writer waits up to ten seconds for another's transaction, less when GiveUpWhen says
// so. One object belongs to one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jobs/model/result.h"
#include "jobs/report/report_database.h"

struct sqlite3;

namespace zb {

class SqliteTable {
public:
    // Opens the file, creating it and its table when missing. Refuses a file that is no
    // SQLite database or cannot be written, and a table that lacks a column or does not
    // take the ProbeRows (tried in a transaction that is rolled back). A table of an earlier
    // release gets today's column types (report_migrate.h), and `notice` hears of it.
    static Result<std::unique_ptr<SqliteTable>> Open(const std::string& path,
                                                     const ReportNotice& notice = {});
    ~SqliteTable();
    SqliteTable(const SqliteTable&) = delete;
    SqliteTable& operator=(const SqliteTable&) = delete;

    // Asked while a wait for another's transaction lasts: true ends it, and the call fails.
    void GiveUpWhen(std::function<bool()> give_up) { give_up_ = std::move(give_up); }

    // Adds one row in its own transaction, and checks there that the table holds it: a
    // trigger may leave it out or delete it, and SQLite calls either done. A row whose
    // row_id is there already counts as added. Any other row the table does not keep is a
    // failure.
    Status Insert(const DbCells& cells);

    // The oldest rows, at most `limit`, in the order they were added.
    Result<std::vector<DbCells>> Oldest(std::size_t limit);
    // Takes the rows of these row_ids out, in one transaction: for each, whether this call
    // took it out, and not another process sharing the file. A row goes only by the key it
    // was sent under: SQLite gives a removed row's number to the next row added.
    Result<std::vector<bool>> Remove(const std::vector<std::optional<std::string>>& row_ids);
    // The rows in the table; 0 when it cannot be read.
    std::int64_t Count();

    const std::string& path() const { return path_; }

private:
    SqliteTable(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    Error Fail() const;
    int Step(const DbCells& cells, std::string* message);
    // SQLITE_ROW when the table holds the row's row_id, SQLITE_DONE when not.
    int Holds(const DbCells& cells);
    static int OnBusy(void* table, int count);
    bool Exec(const std::string& sql);
    Status Ready(bool* retry);
    Error Failed(bool* retry);

    sqlite3* db_;
    std::string path_;
    std::function<bool()> give_up_;
    std::chrono::steady_clock::time_point busy_since_;
    std::string typed_;  // what typing an earlier release's table tells, "" for nothing
};

}  // namespace zb
