#include "jobs/report/report_open.h"

#include <utility>

#include "jobs/report/report_append.h"
#include "jobs/report/report_database.h"

namespace zb {
namespace {

class FileReport final : public ReportSink {
public:
    explicit FileReport(std::string path) : path_(std::move(path)) {}

protected:
    Status AppendRows(const std::vector<ReportRow>& rows) override {
        if (rows.empty()) return {};
        return AppendReport(path_, rows);
    }

private:
    std::string path_;
};

}  // namespace

Result<std::unique_ptr<ReportSink>> OpenReportSink(const std::string& target, ReportNotice notice) {
    switch (ReportKindOf(target)) {
        case ReportKind::Postgres:
            if (notice && DatabaseReportsBuilt() && MaskedUri(target) != target)
                notice(
                    "the PostgreSQL URI holds a password, which other users can see in the "
                    "process list; keep it in ~/.pgpass or a PGPASSFILE instead");
            if (Status form = CheckPasswordForm(target); !form) return form.error();
            return OpenPostgresReport(target, std::move(notice));
        case ReportKind::Sqlite:
            return OpenSqliteReport(target, notice);
        case ReportKind::File:
            break;
    }
    if (Status checked = CheckReportFile(target); !checked) return checked.error();
    return std::unique_ptr<ReportSink>(std::make_unique<FileReport>(target));
}

}  // namespace zb
