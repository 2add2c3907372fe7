#include "jobs/report_sink.h"

#include "jobs/report_append.h"
#include "jobs/report_database.h"
#include "jobs/text_escape.h"

namespace zb {
namespace {

class FileReport final : public ReportSink {
public:
    explicit FileReport(std::string path) : path_(std::move(path)) {}

protected:
    bool AppendRows(const std::vector<ReportRow>& rows, std::string* error) override {
        return rows.empty() || AppendReport(path_, rows, error);
    }

private:
    std::string path_;
};

}  // namespace

ReportKind ReportKindOf(std::string_view target) {
    if (target.starts_with("postgresql://") || target.starts_with("postgres://"))
        return ReportKind::Postgres;
    return EndsIgnoringCase(target, ".db") ? ReportKind::Sqlite : ReportKind::File;
}

std::unique_ptr<ReportSink> OpenReportSink(const std::string& target, std::string* error,
                                           ReportNotice notice) {
    switch (ReportKindOf(target)) {
        case ReportKind::Postgres:
            return OpenPostgresReport(target, std::move(notice), error);
        case ReportKind::Sqlite:
            return OpenSqliteReport(target, error);
        case ReportKind::File:
            break;
    }
    if (!CheckReportFile(target, error)) return nullptr;
    return std::make_unique<FileReport>(target);
}

}  // namespace zb
