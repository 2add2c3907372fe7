// A build without SQLite and libpq (the Windows one): database reports are refused, and the
// CSV and JSON files remain.
#include "jobs/report/report_database.h"
#include "jobs/report/report_open.h"

namespace zb {
namespace {

// The target is not quoted: a PostgreSQL URI may hold a password.
Error Refuse() {
    return {"this build writes no database reports (SQLite, PostgreSQL); use a .csv or .json file"};
}

}  // namespace

bool DatabaseReportsBuilt() {
    return false;
}

Result<std::unique_ptr<ReportSink>> OpenSqliteReport(const std::string&, const ReportNotice&) {
    return Refuse();
}

Result<std::unique_ptr<ReportSink>> OpenPostgresReport(const std::string&, ReportNotice) {
    return Refuse();
}

}  // namespace zb
