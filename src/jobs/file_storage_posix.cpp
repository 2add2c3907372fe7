#include "jobs/file_storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <system_error>

namespace zb::detail {
namespace {

FileStatus Failed(int err) {
    return {err == ENOENT, std::generic_category().message(err)};
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

}  // namespace

FileStatus ReadWholeFile(const std::string& path, std::size_t max_size, std::string* text) {
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
    *text = std::move(data);
    return {};
}

bool CheckWritableFolder(const std::string& folder, std::string* error) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        *error = folder + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = folder + ": not a directory";
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        *error = folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::uint32_t NewFileMode() {
    return 0666 & ~CurrentUmask();
}

FileStatus ReplaceWholeFile(const std::string& path, std::string_view text, bool existing,
                            std::uint32_t new_mode, bool refuse_protected) {
    struct stat old_stat {};
    if (existing) {
        if (::stat(path.c_str(), &old_stat) != 0) return Failed(errno);
        if (refuse_protected && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
            return Failed(errno);
    }
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return Failed(errno);
    const mode_t mode = existing ? (old_stat.st_mode & 07777) : static_cast<mode_t>(new_mode);
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

}  // namespace zb::detail
