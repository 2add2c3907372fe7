// Opening the report a target names: a CSV or JSON file, an SQLite database file or a
// PostgreSQL database (report_sink.h tells them apart by name).
//
// Plain functions; an opened sink belongs to the thread that opened it (report_sink.h).
#pragma once

#include <memory>
#include <string>

#include "jobs/model/result.h"
#include "jobs/report/report_sink.h"

namespace zb {

// Whether this build writes database reports; without them, opening one is refused.
bool DatabaseReportsBuilt();

// Opens the report `target` names: for a file, checks that rows can be appended to it
// (CheckReportFile); for a database, opens it and creates its table when missing, and
// sends the rows an earlier run kept in the spool file. A database table must take a
// sample of rows (tried in a transaction that is rolled back) and its spool file must be
// writable, so that rows are not refused only once ports are done.
Result<std::unique_ptr<ReportSink>> OpenReportSink(const std::string& target,
                                                   ReportNotice notice = {});

}  // namespace zb
