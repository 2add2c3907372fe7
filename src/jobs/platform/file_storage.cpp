#include "jobs/platform/file_storage.h"

#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

namespace zb {

void MakeParentFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
}

bool PathExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

void RemoveFileIfPresent(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

}  // namespace zb

namespace zb::detail {
namespace {

constexpr std::string_view kTempMark = ".zbtmp-";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAlphanumeric(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

std::string TempFileName(const std::string& path, unsigned long pid, std::string_view unique) {
    return path + std::string(kTempMark) + std::to_string(pid) + "-" + std::string(unique);
}

unsigned long TempFileOwner(std::string_view name) {
    const std::size_t mark = name.rfind(kTempMark);
    if (mark == std::string_view::npos || mark == 0) return 0;
    std::string_view rest = name.substr(mark + kTempMark.size());
    const std::size_t dash = rest.find('-');
    // Ten digits hold every pid of both platforms.
    if (dash == 0 || dash == std::string_view::npos || dash > 10) return 0;
    const std::string_view pid = rest.substr(0, dash);
    const std::string_view unique = rest.substr(dash + 1);
    if (unique.empty() || unique.size() > 16) return 0;
    for (const char c : pid)
        if (!IsDigit(c)) return 0;
    for (const char c : unique)
        if (!IsAlphanumeric(c)) return 0;
    unsigned long long owner = 0;
    for (const char c : pid) owner = owner * 10 + static_cast<unsigned>(c - '0');
    return owner > 0xFFFFFFFFull ? 0 : static_cast<unsigned long>(owner);
}

bool FirstWriteInto(const std::string& folder) {
    static std::mutex mutex;
    static std::set<std::string>& seen = *new std::set<std::string>;
    const std::lock_guard lock(mutex);
    return seen.insert(folder).second;
}

}  // namespace zb::detail
