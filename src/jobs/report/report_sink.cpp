#include "jobs/report/report_sink.h"

#include <algorithm>

#include "jobs/model/text_escape.h"

namespace zb {

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
    // libpq ends the password at its first '@'. A password typed with '@', '/' or '?' in it
    // makes the URI malformed, and is still a password: it is masked up to the last '@',
    // which may mask more than the password, never less.
    std::size_t params = start;
    const std::size_t at = text.rfind('@');
    const std::size_t colon = text.find(':', start);
    // The password follows the user name, which ends at the first ':' or '@' and holds no
    // '/'.
    if (at != std::string::npos && colon != std::string::npos && colon + 1 < at &&
        colon < text.find('@', start) && colon < text.find('/', start)) {
        text.replace(colon + 1, at - colon - 1, "***");
        params = colon + 4;
    }
    for (params = text.find('?', params); params != std::string::npos;
         params = text.find('&', params + 1)) {
        const std::size_t name = params + 1;
        const std::size_t end = std::min(text.find('&', name), text.size());
        const std::size_t equals = text.find('=', name);
        if (equals < end && equals + 1 < end &&
            SameIgnoringCase(std::string_view(text).substr(name, equals - name), "password"))
            text.replace(equals + 1, end - equals - 1, "***");
    }
    return text;
}

}  // namespace zb
