#include "jobs/platform/file_storage.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>

#include "protocol/system_error.h"

namespace zb {
namespace {

Error Failed(int err) {
    return {system_error_text(err), err == ENOENT};
}

// When this run began; a temporary file older than that is no write of this run's.
const timespec kRunStart = [] {
    timespec now{};
    (void)::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}();

bool BeforeRunStart(const timespec& t) {
    return t.tv_sec < kRunStart.tv_sec ||
           (t.tv_sec == kRunStart.tv_sec && t.tv_nsec < kRunStart.tv_nsec);
}

// Whether the writer of a temporary file may still be at work. A pid of ours on a file older
// than this run was another process's before ours (containers reuse pids).
bool WriterMayLive(unsigned long owner) {
    if (owner > static_cast<unsigned long>(INT_MAX)) return false;
    const auto pid = static_cast<pid_t>(owner);
    if (pid == ::getpid()) return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// Removes the temporary files that writers which are gone left in `folder` before this run
// began. A folder that cannot be listed is left as it is.
void RemoveStaleTempFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const unsigned long owner = detail::TempFileOwner(entry->d_name);
        if (owner == 0) continue;
        struct stat st {};
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (BeforeRunStart(st.st_mtim) && !WriterMayLive(owner))
            (void)::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(dir);
}

Error SystemError(const std::string& what, int err) {
    return {what + ": " + system_error_text(err), err == ENOENT};
}

// Refuses anything but a regular file at `path`, and with `follow_links` false a symbolic
// link too; Error::missing tells that nothing is there.
Status CheckRegular(const std::string& path, bool follow_links) {
    struct stat st {};
    if ((follow_links ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
        return SystemError(path, errno);
    if (!S_ISREG(st.st_mode)) return Status::Fail(path + ": not a regular file");
    return {};
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The process's umask without changing it (umask() would, for a moment, for every thread).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) != 0) continue;
        std::string_view digits = std::string_view(line).substr(6);
        while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t'))
            digits.remove_prefix(1);
        unsigned value = 0;
        const auto [end, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, 8);
        if (ec == std::errc()) return static_cast<mode_t>(value & 0777);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// The folder's descriptor that ReportFolderLock locks.
Result<int> OpenLockFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return SystemError(folder, errno);
    return fd;
}

}  // namespace

Result<std::string> ReadWholeFile(const std::string& path, std::size_t max_size) {
    // O_NONBLOCK: a FIFO or a terminal chosen by mistake must not block the program.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Failed(errno);
    std::string data;
    char buffer[4096];
    int err = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            err = errno;
            break;
        }
        if (n == 0) break;
        if (data.size() + static_cast<std::size_t>(n) > max_size) {
            err = EFBIG;
            break;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (err != 0) return Failed(err);
    return data;
}

Status CheckReadableFile(const std::string& path) {
    if (Status regular = CheckRegular(path, true); !regular) return regular;
    if (::access(path.c_str(), R_OK) != 0) return SystemError(path, errno);
    return {};
}

Result<OpenedFile> OpenFileForReading(const std::string& path) {
    OpenedFile opened;
    opened.file.reset(std::fopen(path.c_str(), "rb"));
    if (!opened.file) return SystemError(path, errno);
    struct stat st {};
    if (::fstat(::fileno(opened.file.get()), &st) != 0) return SystemError(path, errno);
    if (!S_ISREG(st.st_mode)) return Error{path + ": not a regular file"};
    opened.size = static_cast<std::uint64_t>(st.st_size);
    return opened;
}

Result<std::string> ReadReportFile(const std::string& path) {
    if (Status regular = CheckRegular(path, false); !regular) {
        if (regular.missing()) return std::string();
        return regular.error();
    }
    Result<std::string> read = ReadWholeFile(path, std::numeric_limits<std::size_t>::max());
    if (!read) return Error{path + ": " + read.error().reason};
    return read;
}

Status CheckWritableFolder(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return SystemError(folder, errno);
    if (!S_ISDIR(st.st_mode)) return Status::Fail(folder + ": not a directory");
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return SystemError(folder, errno);
    return {};
}

std::string ReportFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool EndsInSeparator(const std::string& path) {
    return !path.empty() && path.back() == '/';
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (!path.empty() && !EndsInSeparator(path)) path += '/';
    return path.append(name);
}

std::string_view TextLineEnd() {
    return "\n";
}

std::uint32_t NewFileMode() {
    return 0666 & ~CurrentUmask();
}

Status ReplaceWholeFile(const std::string& path, std::string_view text, bool existing,
                        std::uint32_t new_mode, bool refuse_protected, FileReaders readers) {
    struct stat old_stat {};
    if (existing) {
        if (::stat(path.c_str(), &old_stat) != 0) return Failed(errno);
        if (refuse_protected && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
            return Failed(errno);
    }
    const std::string folder = ReportFolder(path);
    if (detail::FirstWriteInto(folder)) RemoveStaleTempFiles(folder);
    std::string temp = detail::TempFileName(path, static_cast<unsigned long>(::getpid()), "XXXXXX");
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return Failed(errno);
    mode_t mode = existing ? (old_stat.st_mode & 07777) : static_cast<mode_t>(new_mode);
    if (readers == FileReaders::OwnerOnly) mode &= ~static_cast<mode_t>(077);
    bool done = WriteAll(fd, text) && ::fsync(fd) == 0 && ::fchmod(fd, mode) == 0;
    if (done && existing && (old_stat.st_uid != ::geteuid() || old_stat.st_gid != ::getegid())) {
        // Keeps the owner of a file replaced by a privileged run; others may not, and
        // then the file simply becomes theirs.
        (void)!::fchown(fd, old_stat.st_uid, old_stat.st_gid);
    }
    int err = done ? 0 : errno;
    if (::close(fd) != 0 && done) {
        done = false;
        err = errno;
    }
    if (done && ::rename(temp.c_str(), path.c_str()) != 0) {
        done = false;
        err = errno;
    }
    if (!done) {
        ::unlink(temp.c_str());
        return Failed(err);
    }
    return {};
}

ReportFolderLock::~ReportFolderLock() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));  // also releases the lock
}

Status CheckReportFolder(const std::string& folder) {
    if (Status writable = CheckWritableFolder(folder); !writable) return writable;
    const Result<int> fd = OpenLockFolder(folder);
    if (!fd) return fd.error();
    // Held by another writer is fine: the append waits for it.
    Status lockable;
    if (::flock(*fd, LOCK_SH | LOCK_NB) != 0 && errno != EWOULDBLOCK)
        lockable = SystemError(folder, errno);
    ::close(*fd);
    return lockable;
}

Status ReportFolderLock::Lock(const std::string& folder) {
    const Result<int> fd = OpenLockFolder(folder);
    if (!fd) return fd.error();
    while (::flock(*fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const Error failed = SystemError(folder, errno);
            ::close(*fd);
            return failed;
        }
    }
    handle_ = *fd;
    return {};
}

Status ReportFolderLock::Replace(const std::string& path, const std::string& content) {
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return SystemError(path, errno);
    // A report the user protected is replaced all the same: it only ever grows.
    const Status written = ReplaceWholeFile(path, content, exists, NewFileMode(), false);
    if (!written) return Status::Fail(path + ": " + written.reason());
    // The rename itself must reach the disk, or a crash could bring the old report back.
    (void)::fsync(static_cast<int>(handle_));
    return {};
}

std::string ErrnoText(int err) {
    return system_error_text(static_cast<unsigned long>(err));
}

std::string StateFilePath(std::string_view program, std::string_view name) {
    std::filesystem::path dir;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        dir = state;
    else if (const char* home = std::getenv("HOME"); home && *home)
        dir = std::filesystem::path(home) / ".local" / "state";
    else
        dir = std::filesystem::temp_directory_path();
    return (dir / program / name).string();
}

}  // namespace zb
