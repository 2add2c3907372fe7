#include "jobs/file_storage.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "jobs/win32_error.h"

namespace zb::detail {
namespace {

// Kept from a replaced file. Its permissions need nothing: a new file takes the folder's
// inherited ones, as the old file did unless someone gave it others by hand.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool IsMissing(DWORD err) {
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

FileStatus Failed(DWORD err) {
    return {IsMissing(err), Win32ErrorText(err)};
}

// The same words as the other platforms for what Windows has no error code of its own.
FileStatus Failed(std::errc err) {
    return {false, std::make_error_code(err).message()};
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

}  // namespace

bool CheckWritableFolder(const std::string& folder, std::string* error) {
    const DWORD attributes = ::GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        *error = folder + ": " + Win32ErrorText(::GetLastError());
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *error = folder + ": not a directory";
        return false;
    }
    // Whether files may be made there shows only by making one; it goes when it is closed.
    const std::string probe =
        folder + "\\.zbconfig-probe-" + std::to_string(::GetCurrentProcessId());
    const HANDLE file = ::CreateFileA(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = folder + ": " + Win32ErrorText(::GetLastError());
        return false;
    }
    ::CloseHandle(file);
    return true;
}

FileStatus ReadWholeFile(const std::string& path, std::size_t max_size, std::string* text) {
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
    std::string data;
    char buffer[4096];
    FileStatus status;
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
            status = Failed(::GetLastError());
            break;
        }
        if (n == 0) break;
        if (data.size() + n > max_size) {
            status = Failed(std::errc::file_too_large);
            break;
        }
        data.append(buffer, n);
    }
    ::CloseHandle(file);
    if (status.ok()) *text = std::move(data);
    return status;
}

std::uint32_t NewFileMode() {
    return 0;
}

FileStatus ReplaceWholeFile(const std::string& path, std::string_view text, bool existing,
                            std::uint32_t /*new_mode*/, bool /*refuse_protected*/) {
    DWORD old_attributes = 0;
    if (existing) {
        old_attributes = ::GetFileAttributesA(path.c_str());
        if (old_attributes == INVALID_FILE_ATTRIBUTES) return Failed(::GetLastError());
        if ((old_attributes & FILE_ATTRIBUTE_READONLY) != 0) return Failed(ERROR_ACCESS_DENIED);
    }
    std::string temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD err = 0;
    for (int i = 0; i < 100 && file == INVALID_HANDLE_VALUE; ++i) {
        temp = path + ".tmp." + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(i);
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

}  // namespace zb::detail
