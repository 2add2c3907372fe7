// A build without SQLite and libpq (the Windows one): database reports are refused, and the
// CSV and JSON files remain.
#include "jobs/report/report_database.h"

namespace zb {
namespace {

// The target is not quoted: a PostgreSQL URI may hold a password.
std::unique_ptr<ReportSink> Refuse(std::string* error) {
    *error = "this build writes no database reports (SQLite, PostgreSQL); use a .csv or .json file";
    return nullptr;
}

}  // namespace

bool DatabaseReportsBuilt() {
    return false;
}

std::unique_ptr<ReportSink> OpenSqliteReport(const std::string&, std::string* error) {
    return Refuse(error);
}

std::unique_ptr<ReportSink> OpenPostgresReport(const std::string&, ReportNotice,
                                               std::string* error) {
    return Refuse(error);
}

}  // namespace zb
