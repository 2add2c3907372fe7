#include "jobs/report_sink.h"

#include "jobs/report_append.h"
#include "jobs/report_database.h"

namespace zb {
namespace {

bool EndsInNoCase(std::string_view text, std::string_view end) {
    if (text.size() < end.size()) return false;
    text.remove_prefix(text.size() - end.size());
    for (std::size_t i = 0; i < end.size(); ++i) {
        const char c =
            text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != end[i]) return false;
    }
    return true;
}

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
    return EndsInNoCase(target, ".db") ? ReportKind::Sqlite : ReportKind::File;
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
