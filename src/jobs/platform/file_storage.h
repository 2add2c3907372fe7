// Files on disk: reading a whole file, the checks of files and folders made before any port
// is touched, atomically replacing a whole file (configuration files, reports), and the lock
// that makes the writers of one folder's reports take turns. One source file per platform
// (file_storage_posix.cpp, file_storage_win32.cpp). Reasons are the system's words
// (system_error_text), e.g. "Permission denied"; messages are "<path>: <reason>".
//
// Plain functions, safe from any thread; one ReportFolderLock is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zb {

struct FileStatus {
    bool missing = false;  // the file, or a folder on its path, does not exist
    std::string reason;    // empty on success
    bool ok() const { return reason.empty(); }
};

// The whole file when it holds at most `max_size` bytes ("File too large" otherwise). A
// FIFO or device chosen by mistake does not block the program.
FileStatus ReadWholeFile(const std::string& path, std::size_t max_size, std::string* text);

// An image or configuration file: a regular file (through links) that this user may read.
bool CheckReadableFile(const std::string& path, std::string* error);

// A report's content; a missing one reads as empty with *exists false. Anything but a
// regular file, a symbolic link included, is refused: the report is replaced by a rename.
bool ReadReportFile(const std::string& path, std::string* content, bool* exists,
                    std::string* error);

// The folder exists, is a folder, and this user may create files in it; otherwise *error is
// "<folder>: <reason>".
bool CheckWritableFolder(const std::string& folder, std::string* error);

// The folder a path names: "." for a bare file name.
std::string ReportFolder(const std::string& path);
// Whether the path ends in a folder separator, so names no file.
bool EndsInSeparator(const std::string& path);

// What a file that does not exist yet is given: the permission bits 0666 less the umask where
// files have them; unused where a new file takes its folder's permissions. Taken once for a
// whole export.
std::uint32_t NewFileMode();

// Writes `text` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. The first write of a run into a folder removes the temporary files that crashed
// writers left there (detail::TempFileName). An `existing` file keeps its permissions (and, where
// it may, its owner); a write-protected one is refused when `refuse_protected`, although its folder
// would let us replace it (Windows never replaces one). A new file gets `new_mode`. On failure no
// temporary file is left and the old file is unchanged.
FileStatus ReplaceWholeFile(const std::string& path, std::string_view text, bool existing,
                            std::uint32_t new_mode, bool refuse_protected = true);

// CheckWritableFolder, and what ReportFolderLock needs of the folder besides (on POSIX it
// opens the folder for reading), so that a report that passes is not refused only after
// the modems have been touched. Never waits for another writer's lock.
bool CheckReportFolder(const std::string& folder, std::string* error);

// The lock that makes the writers of one folder's reports take turns, other processes
// included; held from Lock until destruction.
class ReportFolderLock {
public:
    ReportFolderLock() = default;
    ~ReportFolderLock();
    ReportFolderLock(const ReportFolderLock&) = delete;
    ReportFolderLock& operator=(const ReportFolderLock&) = delete;

    bool Lock(const std::string& folder, std::string* error);

    // ReplaceWholeFile for a report, protected or not, that must reach the disk renamed.
    // Leaves no temporary file and the old report as it was on failure. Only while the lock
    // is held.
    bool Replace(const std::string& path, const std::string& content, std::string* error);

private:
    std::intptr_t handle_ = -1;  // the folder's descriptor, or the lock file's handle
};

namespace detail {

// A temporary file is "<file>.zbtmp-<pid>-<unique>", so that one left behind by a crash is
// told from any other file, and its writer found.
std::string TempFileName(const std::string& path, unsigned long pid, std::string_view unique);
// The writer's pid in such a file name; 0 for any other name.
unsigned long TempFileOwner(std::string_view name);
// True the first time this run asks about `folder`: its leftovers are looked for once.
bool FirstWriteInto(const std::string& folder);

}  // namespace detail

}  // namespace zb
