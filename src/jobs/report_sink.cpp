#include "jobs/report_sink.h"

#include <algorithm>

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

std::string MaskedUri(std::string_view target) {
    std::string text(target);
    const std::size_t scheme = text.find("://");
    if (ReportKindOf(text) != ReportKind::Postgres || scheme == std::string::npos) return text;
    const std::size_t start = scheme + 3;
    // libpq ends the user information at its first '@'; the last '@' before the query is
    // taken here, so that a password holding '@', '/' or '?' is masked whole.
    const std::size_t slash = std::min(text.find('/', start), text.size());
    const std::size_t query = std::min(text.find_first_of("?#", slash), text.size());
    const std::size_t at = text.rfind('@', query == 0 ? 0 : query - 1);
    std::size_t params = text.find('?', start);
    if (at != std::string::npos && at >= start) {
        const std::size_t colon = text.find(':', start);
        if (colon < at - 1) text.replace(colon + 1, at - colon - 1, "***");
        params = text.find('?', text.find('@', start));
    }
    while (params != std::string::npos) {
        const std::size_t name = params + 1;
        const std::size_t end = std::min(text.find('&', name), text.size());
        const std::size_t equals = text.find('=', name);
        if (equals < end && equals + 1 < end &&
            SameIgnoringCase(std::string_view(text).substr(name, equals - name), "password"))
            text.replace(equals + 1, end - equals - 1, "***");
        params = text.find('&', name);
    }
    return text;
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
