// Internal: the report's file operations, one source file per platform (report_file_posix.cpp,
// report_file_win32.cpp). Every failure is said in *error as "<path>: <the system's reason>".
#pragma once

#include <cstdint>
#include <string>

namespace zb::detail {

// The folder a report path names: "." for a bare file name.
std::string ReportFolder(const std::string& path);
// Whether the path ends in a folder separator, so names no file.
bool EndsInSeparator(const std::string& path);

// An existing report's content; a missing one reads as empty with *exists false. Anything
// but a regular file, a symbolic link included, is refused.
bool ReadReportFile(const std::string& path, std::string* content, bool* exists,
                    std::string* error);

// The lock that makes the writers of one folder's reports take turns, other processes
// included; held from Lock until destruction.
class ReportFolderLock {
public:
    ReportFolderLock() = default;
    ~ReportFolderLock();
    ReportFolderLock(const ReportFolderLock&) = delete;
    ReportFolderLock& operator=(const ReportFolderLock&) = delete;

    bool Lock(const std::string& folder, std::string* error);

    // Writes `content` beside `path` under a temporary name, flushes it to disk and renames
    // it over `path`; an existing file keeps its permissions. Leaves no temporary file and
    // the old report as it was on failure. Only while the lock is held.
    bool Replace(const std::string& path, const std::string& content, std::string* error);

private:
    std::intptr_t handle_ = -1;  // the folder's descriptor, or the lock file's handle
};

}  // namespace zb::detail
