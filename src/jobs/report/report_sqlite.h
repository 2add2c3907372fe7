// The job_report table (report_database.h) in one SQLite file: the SQLite report, and the
// spool where the PostgreSQL report keeps rows while its server is unreachable.
//
// Several processes may share a file on a local disk: it is kept in write-ahead-log mode,
// and a writer waits up to ten seconds for another's transaction. One object belongs to one
// thread at a time.
#pragma once

#include <cstdint>
#include <memory>
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

    // Adds one row in its own transaction; a row whose row_id is there already is left out.
    // Any other row the table does not take is a failure.
    Status Insert(const DbCells& cells);

    struct Kept {
        std::int64_t id = 0;
        DbCells cells;
    };
    // The oldest rows, at most `limit`, in the order they were added.
    Result<std::vector<Kept>> Oldest(std::size_t limit);
    // Whether this call took the row out, and not another process sharing the file.
    Result<bool> Remove(std::int64_t id);
    // The rows in the table; 0 when it cannot be read.
    std::int64_t Count();

    const std::string& path() const { return path_; }

private:
    SqliteTable(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    Error Fail() const;
    int Step(const DbCells& cells, std::string* message);
    bool Exec(const std::string& sql);
    Status Ready(bool* retry);
    Error Failed(bool* retry);

    sqlite3* db_;
    std::string path_;
    std::string typed_;  // what typing an earlier release's table tells, "" for nothing
};

}  // namespace zb
