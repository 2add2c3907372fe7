// Files on disk: reading a whole file, the checks of files and folders made before any port
// is touched, atomically replacing a whole file (configuration files, reports), the lock
// that makes the writers of one folder's reports take turns, and the folder where programs
// keep their state between runs. One source file per platform (file_storage_posix.cpp,
// file_storage_win32.cpp). Reasons are the system's words (system_error_text), e.g.
// "Permission denied"; messages are "<path>: <reason>".
//
// Plain functions, safe from any thread; one ReportFolderLock is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "jobs/model/result.h"

namespace zb {

// The whole file when it holds at most `max_size` bytes ("File too large" otherwise); the
// reason alone on failure, with Error::missing when the file does not exist. A FIFO or
// device chosen by mistake does not block the program.
Result<std::string> ReadWholeFile(const std::string& path, std::size_t max_size);

// An image or configuration file: a regular file (through links) that this user may read.
Status CheckReadableFile(const std::string& path);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
struct OpenedFile {
    FilePtr file;
    std::uint64_t size = 0;
};
// Opens a regular file (through links) for reading, others may read it at the same time,
// and takes its size. Anything but a regular file is refused: a directory would open and
// then fail every read.
Result<OpenedFile> OpenFileForReading(const std::string& path);

// A report's content; a missing one reads as empty. Anything but a regular file, a symbolic
// link included, is refused: the report is replaced by a rename.
Result<std::string> ReadReportFile(const std::string& path);

// The folder exists, is a folder, and this user may create files in it; otherwise the
// reason is "<folder>: <reason>".
Status CheckWritableFolder(const std::string& folder);

// The folder a path names: "." for a bare file name.
std::string ReportFolder(const std::string& path);
// Whether the path ends in a folder separator, so names no file.
bool EndsInSeparator(const std::string& path);
// `name` in `folder`, joined with the system's separator (a backslash on Windows, where a
// slash ends a folder too); none is added after one the folder ends in. A bare file name
// when the folder is empty. On Windows "C:" is the drive's current folder: "C:name".
std::string JoinPath(const std::string& folder, std::string_view name);
// The line end of the text files people open with the system's editors: CRLF on Windows,
// whose older editors show a file of bare LFs as one line; LF elsewhere.
std::string_view TextLineEnd();

// What a file that does not exist yet is given: the permission bits 0666 less the umask where
// files have them; unused where a new file takes its folder's permissions. Taken once for a
// whole export.
std::uint32_t NewFileMode();

// Who may read a file that is replaced.
enum class FileReaders {
    AsBefore,   // an existing file's permissions, a new file's `new_mode`
    OwnerOnly,  // the same without any permission for the group and others: a file that holds
                // a secret. Windows keeps the folder's access rules, which are the user's own.
};

// Writes `text` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. The first write of a run into a folder removes the temporary files that crashed
// writers left there (detail::TempFileName). An `existing` file keeps its permissions (and, where
// it may, its owner); a write-protected one is refused when `refuse_protected`, although its folder
// would let us replace it (Windows never replaces one). A new file gets `new_mode`. `readers`
// may take permissions away from either. On failure no temporary file is left and the old
// file is unchanged.
// Fails with the reason alone.
Status ReplaceWholeFile(const std::string& path, std::string_view text, bool existing,
                        std::uint32_t new_mode, bool refuse_protected = true,
                        FileReaders readers = FileReaders::AsBefore);

// CheckWritableFolder, and what ReportFolderLock needs of the folder besides (on POSIX it
// opens the folder for reading), so that a report that passes is not refused only after
// the modems have been touched. Never waits for another writer's lock.
Status CheckReportFolder(const std::string& folder);

// The lock that makes the writers of one folder's reports take turns, other processes
// included; held from Lock until destruction.
class ReportFolderLock {
public:
    ReportFolderLock() = default;
    ~ReportFolderLock();
    ReportFolderLock(const ReportFolderLock&) = delete;
    ReportFolderLock& operator=(const ReportFolderLock&) = delete;

    Status Lock(const std::string& folder);

    // ReplaceWholeFile for a report, protected or not, that must reach the disk renamed.
    // Leaves no temporary file and the old report as it was on failure. Only while the lock
    // is held.
    Status Replace(const std::string& path, const std::string& content);

private:
    std::intptr_t handle_ = -1;  // the folder's descriptor, or the lock file's handle
};

// The system's words for an errno value ("Cannot allocate memory").
std::string ErrnoText(int err);

// A file `name` in the folder where `program` keeps its state between runs: under
// $XDG_STATE_HOME, else ~/.local/state, else the temporary folder; on Windows under
// %LOCALAPPDATA%, else the temporary folder.
std::string StateFilePath(std::string_view program, std::string_view name);
// Creates the folder `path` is in, and those above it, where missing. A folder that cannot
// be made shows when the file is opened.
void MakeParentFolders(const std::string& path);
// Whether something is at `path`; false too when that cannot be told.
bool PathExists(const std::string& path);
// Removes the file if it is there; one that cannot be removed stays.
void RemoveFileIfPresent(const std::string& path);

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
