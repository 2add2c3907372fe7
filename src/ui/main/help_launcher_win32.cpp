#include <windows.h>

#include <shellapi.h>

#include <array>

#include <QDir>

#include "ui/main/help_launcher.h"

namespace zb::ui {

bool SystemOpensChm(const QString& path) {
    // The program that "open" would start for the file; Windows and Wine ship hh.exe for it.
    const std::wstring file = QDir::toNativeSeparators(path).toStdWString();
    std::array<wchar_t, MAX_PATH> program{};
    const auto found =
        reinterpret_cast<INT_PTR>(FindExecutableW(file.c_str(), nullptr, program.data()));
    return found > 32;
}

}  // namespace zb::ui
