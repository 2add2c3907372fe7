#include "jobs/report_file.h"

#include <windows.h>

#include "jobs/file_storage.h"
#include "jobs/win32_error.h"

namespace zb::detail {
namespace {

// Byte-range locks work on files, not folders: the folder's writers lock this file instead.
// It stays in the folder; removing it would let a writer lock a file about to vanish.
constexpr const char* kLockFileName = ".zbconfig-report.lock";

std::string SystemError(const std::string& what, DWORD err) {
    return what + ": " + Win32ErrorText(err);
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string LockFilePath(const std::string& folder) {
    return folder + (IsSeparator(folder.back()) ? "" : "\\") + kLockFileName;
}

HANDLE OpenLockFile(const std::string& folder) {
    return ::CreateFileA(LockFilePath(folder).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN, nullptr);
}

}  // namespace

std::string ReportFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    const bool drive = path.size() >= 2 && path[1] == ':';
    if (slash == std::string::npos) return drive ? path.substr(0, 2) : ".";
    // "\r.csv" and "C:\r.csv" are in a root folder, which keeps its separator.
    if (slash == 0 || (drive && slash == 2)) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

bool EndsInSeparator(const std::string& path) {
    return !path.empty() && IsSeparator(path.back());
}

bool ReadReportFile(const std::string& path, std::string* content, bool* exists,
                    std::string* error) {
    content->clear();
    *exists = false;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return true;
        *error = SystemError(path, err);
        return false;
    }
    constexpr DWORD kNotAFile =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if ((attributes & kNotAFile) != 0) {
        *error = path + ": not a regular file";
        return false;
    }
    const HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = SystemError(path, ::GetLastError());
        return false;
    }
    // A device name ("NUL", "COM1") passes the attribute test; it would never end.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        *error = path + ": not a regular file";
        return false;
    }
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, buf, sizeof buf, &n, nullptr)) {
            *error = SystemError(path, ::GetLastError());
            ::CloseHandle(file);
            return false;
        }
        if (n == 0) break;
        content->append(buf, n);
    }
    ::CloseHandle(file);
    *exists = true;
    return true;
}

ReportFolderLock::~ReportFolderLock() {
    // Closing the handle also releases the lock.
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool ReportFolderLock::Lock(const std::string& folder, std::string* error) {
    const HANDLE lock = OpenLockFile(folder);
    if (lock == INVALID_HANDLE_VALUE) {
        *error = SystemError(folder, ::GetLastError());
        return false;
    }
    OVERLAPPED whole{};
    if (!::LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        *error = SystemError(LockFilePath(folder), ::GetLastError());
        ::CloseHandle(lock);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(lock);
    return true;
}

bool ReportFolderLock::Replace(const std::string& path, const std::string& content,
                               std::string* error) {
    const bool exists = ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    // The move is written through: it has reached the disk when the call returns, so a crash
    // cannot bring the old report back.
    const FileStatus written = ReplaceWholeFile(path, content, exists, NewFileMode(), false);
    if (!written.ok()) {
        *error = path + ": " + written.reason;
        return false;
    }
    return true;
}

}  // namespace zb::detail
