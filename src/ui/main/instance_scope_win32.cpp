#include "ui/main/instance_scope.h"

#include <windows.h>

#include <sddl.h>

namespace zb::ui {
namespace {

// The token's user as "S-1-5-21-...", or empty when the token cannot be read.
QString UserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    QString sid;
    union {
        TOKEN_USER user;
        unsigned char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info{};
    DWORD size = 0;
    LPWSTR text = nullptr;
    if (::GetTokenInformation(token, TokenUser, &info, sizeof info, &size) &&
        ::ConvertSidToStringSidW(info.user.User.Sid, &text)) {
        sid = QString::fromWCharArray(text);
        ::LocalFree(text);
    }
    ::CloseHandle(token);
    return sid;
}

}  // namespace

QString InstanceScope() {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) session = 0;
    return QString::number(session) + QLatin1Char('-') + UserSid();
}

}  // namespace zb::ui
