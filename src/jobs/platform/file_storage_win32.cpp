#include "jobs/platform/file_storage.h"

#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>

#include "protocol/system_error.h"

namespace zb {
namespace {

// Kept from a replaced file. Its permissions need nothing: a new file takes the folder's
// inherited ones, as the old file did unless someone gave it others by hand.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Byte-range locks work on files, not folders: the folder's writers lock this file instead.
// It stays in the folder; removing it would let a writer lock a file about to vanish.
constexpr const char* kLockFileName = ".zbconfig-report.lock";

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsMissing(DWORD err) {
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

Error Failed(DWORD err) {
    return {system_error_text(err), IsMissing(err)};
}

// The same words as the other platforms for what Windows has no error code of its own.
Error Failed(std::errc err) {
    return {std::make_error_code(err).message()};
}

// When this run began; a temporary file older than that is no write of this run's.
const ULONGLONG kRunStart = [] {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}();

bool BeforeRunStart(const FILETIME& t) {
    return ((ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime) < kRunStart;
}

// Whether the writer of a temporary file may still be at work. A pid of ours on a file older
// than this run was another process's before ours.
bool WriterMayLive(unsigned long owner) {
    if (owner > MAXDWORD || owner == ::GetCurrentProcessId()) return false;
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(owner));
    // No such process; any other refusal (access denied) is a process that exists.
    if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool running = !::GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

// Removes the temporary files that writers which are gone left in `folder` before this run
// began. A folder that cannot be listed is left as it is.
void RemoveStaleTempFiles(const std::string& folder) {
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA(JoinPath(folder, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const unsigned long owner = detail::TempFileOwner(found.cFileName);
        if (owner == 0 || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (BeforeRunStart(found.ftLastWriteTime) && !WriterMayLive(owner))
            (void)::DeleteFileA(JoinPath(folder, found.cFileName).c_str());
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

Error SystemError(const std::string& what, DWORD err) {
    return {what + ": " + system_error_text(err), IsMissing(err)};
}

std::string LockFilePath(const std::string& folder) {
    return JoinPath(folder, kLockFileName);
}

bool WriteAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, data.data(), chunk, &written, nullptr)) return false;
        if (written == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data.remove_prefix(written);
    }
    return true;
}

// The rest of `file`, at most `max_size` bytes.
Result<std::string> ReadRest(HANDLE file, std::size_t max_size) {
    std::string data;
    char buffer[4096];  // workers have small stacks
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr)) return Failed(::GetLastError());
        if (n == 0) break;
        if (data.size() + n > max_size) return Failed(std::errc::file_too_large);
        data.append(buffer, n);
    }
    return data;
}

// Opens `path` for reading when it is a regular file on a disk: folders and devices are
// refused, and with `follow_links` false reparse points (links) too. Error::missing tells
// that nothing is there.
Result<HANDLE> OpenRegular(const std::string& path, bool follow_links) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return SystemError(path, ::GetLastError());
    const DWORD not_a_file = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE |
                             (follow_links ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
    if ((attributes & not_a_file) != 0) return Error{path + ": not a regular file"};
    const HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SystemError(path, ::GetLastError());
    // A device name ("NUL", "COM1") passes the attribute test; it could block or never end.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return Error{path + ": not a regular file"};
    }
    return file;
}

// The lock file that ReportFolderLock locks.
Result<HANDLE> OpenLockFile(const std::string& folder) {
    const HANDLE lock = ::CreateFileA(LockFilePath(folder).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (lock == INVALID_HANDLE_VALUE) return SystemError(folder, ::GetLastError());
    return lock;
}

}  // namespace

Result<std::string> ReadWholeFile(const std::string& path, std::size_t max_size) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(::GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Failed(std::errc::is_a_directory);
    const HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed(::GetLastError());
    // A device name chosen by mistake ("COM1", "CON") could block or never end.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return Failed(std::errc::invalid_argument);
    }
    Result<std::string> read = ReadRest(file, max_size);
    ::CloseHandle(file);
    return read;
}

Status CheckReadableFile(const std::string& path) {
    const Result<HANDLE> file = OpenRegular(path, true);
    if (!file) return file.error();
    ::CloseHandle(*file);
    return {};
}

Result<OpenedFile> OpenFileForReading(const std::string& path) {
    OpenedFile opened;
    opened.file.reset(std::fopen(path.c_str(), "rb"));
    if (!opened.file) return Error{path + ": " + std::generic_category().message(errno)};
    struct _stat64 st {};
    if (::_fstat64(::_fileno(opened.file.get()), &st) != 0)
        return Error{path + ": " + std::generic_category().message(errno)};
    if ((st.st_mode & _S_IFMT) != _S_IFREG) return Error{path + ": not a regular file"};
    opened.size = static_cast<std::uint64_t>(st.st_size);
    return opened;
}

Result<std::string> ReadReportFile(const std::string& path) {
    const Result<HANDLE> file = OpenRegular(path, false);
    if (!file) {
        if (file.error().missing) return std::string();
        return file.error();
    }
    Result<std::string> read = ReadRest(*file, std::numeric_limits<std::size_t>::max());
    ::CloseHandle(*file);
    if (!read) return Error{path + ": " + read.error().reason};
    return read;
}

Status CheckWritableFolder(const std::string& folder) {
    const DWORD attributes = ::GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return SystemError(folder, ::GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return Status::Fail(folder + ": not a directory");
    // Whether files may be made there shows only by making one; it goes when it is closed.
    const std::string probe =
        JoinPath(folder, ".zbconfig-probe-" + std::to_string(::GetCurrentProcessId()));
    const HANDLE file = ::CreateFileA(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SystemError(folder, ::GetLastError());
    ::CloseHandle(file);
    return {};
}

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

std::string JoinPath(const std::string& folder, std::string_view name) {
    std::string path = folder;
    const bool bare_drive = path.size() == 2 && path[1] == ':';
    if (!path.empty() && !bare_drive && !EndsInSeparator(path)) path += '\\';
    return path.append(name);
}

std::string_view TextLineEnd() {
    return "\r\n";
}

std::uint32_t NewFileMode() {
    return 0;
}

Status ReplaceWholeFile(const std::string& path, std::string_view text, bool existing,
                        std::uint32_t /*new_mode*/, bool /*refuse_protected*/,
                        FileReaders /*readers*/) {
    DWORD old_attributes = 0;
    if (existing) {
        old_attributes = ::GetFileAttributesA(path.c_str());
        if (old_attributes == INVALID_FILE_ATTRIBUTES) return Failed(::GetLastError());
        if ((old_attributes & FILE_ATTRIBUTE_READONLY) != 0) return Failed(ERROR_ACCESS_DENIED);
    }
    std::string temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD err = 0;
    const std::string folder = ReportFolder(path);
    if (detail::FirstWriteInto(folder)) RemoveStaleTempFiles(folder);
    for (int i = 0; i < 100 && file == INVALID_HANDLE_VALUE; ++i) {
        temp = detail::TempFileName(path, ::GetCurrentProcessId(), std::to_string(i));
        file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        err = ::GetLastError();
        if (file == INVALID_HANDLE_VALUE && err != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) return Failed(err);
    bool done = WriteAll(file, text) && ::FlushFileBuffers(file);
    err = done ? 0 : ::GetLastError();
    if (!::CloseHandle(file) && done) {
        done = false;
        err = ::GetLastError();
    }
    if (done && (old_attributes & kKeptAttributes) != 0 &&
        !::SetFileAttributesA(temp.c_str(), old_attributes & kKeptAttributes)) {
        done = false;
        err = ::GetLastError();
    }
    if (done && !::MoveFileExA(temp.c_str(), path.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        done = false;
        err = ::GetLastError();
    }
    if (!done) {
        (void)::DeleteFileA(temp.c_str());
        return Failed(err);
    }
    return {};
}

ReportFolderLock::~ReportFolderLock() {
    // Closing the handle also releases the lock.
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

Status CheckReportFolder(const std::string& folder) {
    if (Status writable = CheckWritableFolder(folder); !writable) return writable;
    const Result<HANDLE> lock = OpenLockFile(folder);
    if (!lock) return lock.error();
    // Held by another writer is fine: the append waits for it.
    OVERLAPPED whole{};
    Status lockable;
    if (!::LockFileEx(*lock, LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole) &&
        ::GetLastError() != ERROR_LOCK_VIOLATION)
        lockable = SystemError(LockFilePath(folder), ::GetLastError());
    ::CloseHandle(*lock);  // also releases the lock
    return lockable;
}

Status ReportFolderLock::Lock(const std::string& folder) {
    const Result<HANDLE> lock = OpenLockFile(folder);
    if (!lock) return lock.error();
    OVERLAPPED whole{};
    if (!::LockFileEx(*lock, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        const Error failed = SystemError(LockFilePath(folder), ::GetLastError());
        ::CloseHandle(*lock);
        return failed;
    }
    handle_ = reinterpret_cast<std::intptr_t>(*lock);
    return {};
}

Status ReportFolderLock::Replace(const std::string& path, const std::string& content) {
    const bool exists = ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    // The move is written through: it has reached the disk when the call returns, so a crash
    // cannot bring the old report back.
    const Status written = ReplaceWholeFile(path, content, exists, NewFileMode(), false);
    if (!written) return Status::Fail(path + ": " + written.reason());
    return {};
}

// errno values are the C runtime's, whose words are the standard library's.
std::string ErrnoText(int err) {
    return std::generic_category().message(err);
}

// Windows keeps a program's local state under %LOCALAPPDATA% (C:\Users\op\AppData\Local).
std::string StateFilePath(std::string_view program, std::string_view name) {
    std::filesystem::path dir;
    if (const char* local = std::getenv("LOCALAPPDATA"); local && *local)
        dir = local;
    else
        dir = std::filesystem::temp_directory_path();
    return (dir / program / name).string();
}

}  // namespace zb
