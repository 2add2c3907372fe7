#include "protocol/system_error.h"

#include <windows.h>

#include <algorithm>

namespace zb {

std::string system_error_text(unsigned long code) {
    char text[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, text, sizeof text, nullptr);
    std::string s(text, std::min<std::size_t>(n, sizeof text - 1));
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s.empty() ? "system error " + std::to_string(code) : s;
}

}  // namespace zb
