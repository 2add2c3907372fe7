#include "jobs/win32_error.h"

#include <windows.h>

namespace zb {

std::string Win32ErrorText(unsigned long code) {
    char text[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, text, sizeof text, nullptr);
    std::string s(text, n < sizeof text ? n : sizeof text - 1);
    while (!s.empty() &&
           (s.back() == '\n' || s.back() == '\r' || s.back() == '.' || s.back() == ' '))
        s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}

}  // namespace zb
