// Where a job report's rows go: a CSV or JSON file (report_append.h), an SQLite database
// file that one station's programs share, or a PostgreSQL database that all of a line's
// stations share. A sink is opened once, before any port is touched, so that a report that
// cannot be written stops a run before it starts; rows are then added as ports finish.
//
// Append may be called from any thread; a sink adds one call's rows at a time. Open and the
// destructor belong to one thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/report/report_row.h"

namespace zb {

// What a sink has to tell beside its rows, one line each: a PostgreSQL URI that holds a
// password (when opened); the connection lost and rows kept in the spool file (once as
// rows start being kept, not for every append); rows of the spool sent; the rows still
// kept when the sink closes. Called on the thread that opens, appends or closes.
using ReportNotice = std::function<void(const std::string&)>;

class ReportSink {
public:
    ReportSink() = default;
    ReportSink(const ReportSink&) = delete;
    ReportSink& operator=(const ReportSink&) = delete;
    virtual ~ReportSink() = default;

    // Adds the rows in order; a database gets each in a transaction of its own. A row that a
    // PostgreSQL database cannot take because its connection is lost is kept in the spool
    // file, which counts as added. False with the reason, naming the row ("COM3 upgrade try
    // 1"), in *error when a row is lost: for SQLite, the rows before it are kept; a
    // PostgreSQL server that refuses a row still gets the others. While a PostgreSQL
    // database is unreachable, each call tries to reconnect once, which may take its
    // connect timeout.
    bool Append(const std::vector<ReportRow>& rows, std::string* error) {
        const std::lock_guard lock(mutex_);
        return AppendRows(rows, error);
    }

protected:
    virtual bool AppendRows(const std::vector<ReportRow>& rows, std::string* error) = 0;

private:
    std::mutex mutex_;
};

enum class ReportKind { File, Sqlite, Postgres };

// Postgres for a libpq URI ("postgresql://..." or "postgres://..."), Sqlite for a path ending
// in ".db" (any case), File otherwise.
ReportKind ReportKindOf(std::string_view target);

// `target` with "***" in place of a PostgreSQL URI's password, in its user information
// (postgresql://op:***@db/line) or a password= parameter; any other target as it is. Every
// message that shows a report target shows it masked.
std::string MaskedUri(std::string_view target);

// Whether this build writes database reports; without them, opening one is refused.
bool DatabaseReportsBuilt();

// Opens the report `target` names: for a file, checks that rows can be appended to it
// (CheckReportFile); for a database, opens it and creates its table when missing, and
// sends the rows an earlier run kept in the spool file. A database table must take a
// sample of rows (tried in a transaction that is rolled back) and its spool file must be
// writable, so that rows are not refused only once ports are done. Null with the reason in
// *error.
std::unique_ptr<ReportSink> OpenReportSink(const std::string& target, std::string* error,
                                           ReportNotice notice = {});

}  // namespace zb
