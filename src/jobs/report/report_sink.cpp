#include "jobs/report/report_sink.h"

#include <algorithm>
#include <utility>

#include "jobs/model/text_escape.h"

namespace zb {
namespace {

// libpq decodes a parameter's name as it does its value: "pass%77ord" is "password".
std::string PercentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            decoded +=
                static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// Where the user information's password lies, read leniently: from the first ':' to the
// last '@' (or, `strict`, the last before the query that follows the first '@'), the ':'
// coming before the first '@' and the first '/'. Empty when there is none.
std::pair<std::size_t, std::size_t> PasswordSpan(std::string_view text, bool strict = false) {
    const std::size_t scheme = text.find("://");
    if (scheme == std::string_view::npos) return {0, 0};
    const std::size_t start = scheme + 3;
    const std::size_t first_at = text.find('@', start);
    std::size_t at = text.rfind('@');
    if (strict && first_at != std::string_view::npos)
        at = text.rfind('@', std::min(text.find('?', first_at), text.size()));
    const std::size_t colon = text.find(':', start);
    if (at == std::string_view::npos || colon == std::string_view::npos || colon + 1 >= at ||
        colon > first_at || colon > text.find('/', start))
        return {0, 0};
    return {colon + 1, at};
}

}  // namespace

ReportKind ReportKindOf(std::string_view target) {
    if (target.starts_with("postgresql://") || target.starts_with("postgres://"))
        return ReportKind::Postgres;
    return EndsIgnoringCase(target, ".db") ? ReportKind::Sqlite : ReportKind::File;
}

std::string MaskedUri(std::string_view target) {
    std::string text(target);
    if (ReportKindOf(text) != ReportKind::Postgres) return text;
    // libpq ends the password at its first '@'. A password typed with '@', '/' or '?' in it
    // makes the URI malformed, and is still a password: it is masked up to the last '@',
    // which may mask more than the password, never less.
    std::size_t params = text.find("://") + 3;
    if (const auto [begin, end] = PasswordSpan(text); end > begin) {
        text.replace(begin, end - begin, "***");
        params = begin + 3;
    }
    for (params = text.find('?', params); params != std::string::npos;
         params = text.find('&', params + 1)) {
        const std::size_t name = params + 1;
        const std::size_t end = std::min(text.find('&', name), text.size());
        const std::size_t equals = text.find('=', name);
        if (equals < end && equals + 1 < end &&
            SameIgnoringCase(PercentDecoded(std::string_view(text).substr(name, equals - name)),
                             "password"))
            text.replace(equals + 1, end - equals - 1, "***");
    }
    return text;
}

Status CheckPasswordForm(std::string_view target) {
    const auto [begin, end] = PasswordSpan(target, true);
    const std::string_view password = target.substr(begin, end - begin);
    // A port and a query whose value holds an '@' ("db:5432/line?user=ana@corp") read as a
    // password too; they are no password with a '/' in it.
    const std::string_view before_slash = password.substr(0, password.find('/'));
    const bool port = !before_slash.empty() &&
                      before_slash.find_first_not_of("0123456789") == std::string_view::npos &&
                      password.find('?') != std::string_view::npos;
    if (password.find_first_of("@/") == std::string_view::npos || port) return {};
    // libpq would read part of the password as the host, port or database, and quote it in
    // its complaint.
    return Status::Fail("the PostgreSQL URI is malformed: " + MaskedUri(target) +
                        " (a password's '@' and '/' are written %40 and %2F)");
}

}  // namespace zb
