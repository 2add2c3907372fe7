#include "jobs/report_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "jobs/file_storage.h"

namespace zb::detail {
namespace {

std::string SystemError(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

}  // namespace

std::string ReportFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool EndsInSeparator(const std::string& path) {
    return !path.empty() && path.back() == '/';
}

bool ReadReportFile(const std::string& path, std::string* content, bool* exists,
                    std::string* error) {
    content->clear();
    *exists = false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        *error = SystemError(path, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + ": not a regular file";
        return false;
    }
    const FileStatus read = ReadWholeFile(path, std::numeric_limits<std::size_t>::max(), content);
    if (!read.ok()) {
        *error = path + ": " + read.reason;
        return false;
    }
    *exists = true;
    return true;
}

ReportFolderLock::~ReportFolderLock() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));  // also releases the lock
}

bool ReportFolderLock::Lock(const std::string& folder, std::string* error) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = SystemError(folder, errno);
        return false;
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            *error = SystemError(folder, errno);
            ::close(fd);
            return false;
        }
    }
    handle_ = fd;
    return true;
}

bool ReportFolderLock::Replace(const std::string& path, const std::string& content,
                               std::string* error) {
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        *error = SystemError(path, errno);
        return false;
    }
    // A report the user protected is replaced all the same: it only ever grows.
    const FileStatus written = ReplaceWholeFile(path, content, exists, NewFileMode(), false);
    if (!written.ok()) {
        *error = path + ": " + written.reason;
        return false;
    }
    // The rename itself must reach the disk, or a crash could bring the old report back.
    (void)::fsync(static_cast<int>(handle_));
    return true;
}

}  // namespace zb::detail
