// Where a job report's rows go: a CSV or JSON file (report_append.h), an SQLite database
// file that one station's programs share, or a PostgreSQL database that all of a line's
// stations share. A sink is opened once (report_open.h), before any port is touched, so that
// a report that cannot be written stops a run before it starts; rows are then added as ports
// finish.
//
// Append may be called from any thread; a sink adds one call's rows at a time. Open and the
// destructor belong to one thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/model/result.h"
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

    // Adds the rows in order: an SQLite database each in a transaction of its own, a
    // PostgreSQL one a call's rows in one transaction. A row that a PostgreSQL database
    // cannot take because its connection is lost is kept in the spool file, which counts as
    // added. Fails with the reason, naming every row lost ("COM3 upgrade try 1"); a row not
    // added does not stop the others. While a PostgreSQL database is unreachable,
    // each call tries to reconnect once, which may take its connect timeout.
    Status Append(const std::vector<ReportRow>& rows) {
        const std::lock_guard lock(mutex_);
        return AppendRows(rows);
    }

    // From any thread, when the program is about to end at once: every wait of the sink on
    // its database or file ends within a moment; from then on, rows a PostgreSQL database has
    // not taken go to the spool file, and rows an SQLite database or a file has not taken
    // fail, named. Never blocks.
    void Hurry() { hurry_.store(true); }

protected:
    virtual Status AppendRows(const std::vector<ReportRow>& rows) = 0;
    bool Hurried() const { return hurry_.load(); }

private:
    std::mutex mutex_;
    std::atomic<bool> hurry_{false};
};

enum class ReportKind { File, Sqlite, Postgres };

// Postgres for a libpq URI ("postgresql://..." or "postgres://..."), Sqlite for a path ending
// in ".db" (any case), File otherwise.
ReportKind ReportKindOf(std::string_view target);

// `target` with "***" in place of a PostgreSQL URI's password, in its user information
// (postgresql://op:***@db/line) or a password= parameter (its name percent-encoded or not);
// any other target as it is. Every message that shows a report target shows it masked, and
// a target that masking changes holds a password.
std::string MaskedUri(std::string_view target);
// Refuses a PostgreSQL URI whose password holds an '@' or a '/' not percent-encoded, which
// libpq would read as part of the host or database, naming it masked.
Status CheckPasswordForm(std::string_view target);

}  // namespace zb
