// The POSIX side of the serial link: the only file that touches termios, poll and flock.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "protocol/line_settings_posix.h"
#include "protocol/link_state.h"
#include "protocol/port_holder_posix.h"
#include "protocol/serial_link.h"
#include "protocol/system_error.h"

namespace zb {

namespace detail {

LastFailure& last_failure() {
    thread_local LastFailure failure;
    return failure;
}

}  // namespace detail

namespace {

using Clock = std::chrono::steady_clock;

using detail::fail;
using detail::scaled;

std::string with_errno(const std::string& what, int err) {
    return what + ": " + system_error_text(err);
}

// What one open port needs beyond its descriptor.
struct Link {
    int fd = -1;
    dev_t device = 0;
    std::string path;
    bool set_exclusive = false;
    // The UUCP lock file this link created, and its identity, so that close removes only
    // that file and not one another program put in its place.
    std::string lock_file;
    dev_t lock_dev = 0;
    ino_t lock_ino = 0;
    detail::InputBuffer input;
};

Link* link_of(ComHandle handle) {
    return reinterpret_cast<Link*>(handle.native());  // NOLINT(performance-no-int-to-ptr)
}

// The open links of this process, so that a second link to one device (two map entries, or
// two jobs) is told apart from a port held by another program. A link not closed yet stays
// here until the process ends; the list is never destroyed, so that it still holds them
// while the process exits.
std::mutex held_mutex;
std::vector<const Link*>& held_links = *new std::vector<const Link*>;

// Opens and closes hold it shared while they change a link's claims; com_release_all holds
// it alone, and afterwards no link claims anything any more.
std::shared_mutex& claims_mutex = *new std::shared_mutex;
bool claims_given_back = false;  // guarded by claims_mutex

// Creating and removing files takes the lock folder's own lock in the kernel, where 1024
// workers opening at once would spin for it; they wait here instead.
std::mutex lock_files_mutex;

// Whether a link of this process other than `self` has the device open.
bool held_here(dev_t device, const Link* self = nullptr) {
    const std::lock_guard lock(held_mutex);
    return std::any_of(held_links.begin(), held_links.end(), [device, self](const Link* held) {
        return held != self && held->device == device;
    });
}

std::string pid_line(pid_t pid) {
    char line[16];
    const int n = std::snprintf(line, sizeof line, "%10d\n", static_cast<int>(pid));
    return std::string(line, static_cast<std::size_t>(std::clamp(n, 0, 15)));
}

// Whether the link's lock file is still the one it wrote: a program that took it for stale
// may have put its own in its place, maybe on the same inode number.
bool owns_lock_file(const Link& link) {
    const int fd = ::open(link.lock_file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    char text[32];
    const bool same_file =
        ::fstat(fd, &st) == 0 && st.st_dev == link.lock_dev && st.st_ino == link.lock_ino;
    const ssize_t got = same_file ? ::read(fd, text, sizeof text) : -1;
    ::close(fd);
    return got > 0 && std::string(text, static_cast<std::size_t>(got)) == pid_line(::getpid());
}

void forget(const Link* link) {
    const std::lock_guard lock(held_mutex);
    const auto it = std::find(held_links.begin(), held_links.end(), link);
    if (it != held_links.end()) held_links.erase(it);
}

// Gives back what a link took, in reverse order. Returns 0, or the errno of a failed close.
int release(Link& link) {
    const std::shared_lock claims(claims_mutex);
    // Under the claims lock: com_release_all either still finds the link and gives back its
    // claims, or finds it gone and its claims given back here.
    forget(&link);
    if (claims_given_back) {
        // Another process may own the port's exclusive mode and lock file by now.
        link.set_exclusive = false;
        link.lock_file.clear();
    }
    // Exclusive mode belongs to the terminal, not the descriptor: give up only our own, or a
    // terminal that another process also keeps open would stay closed to new opens.
    if (link.fd >= 0 && link.set_exclusive) (void)::ioctl(link.fd, TIOCNXCL);
    // Before the flock goes: a link of this process that got the port in between would take
    // our lock file, naming our pid, for a stale one and put its own in its place, which
    // owns_lock_file could not tell from ours.
    if (!link.lock_file.empty()) {
        const std::lock_guard lock(lock_files_mutex);
        if (owns_lock_file(link)) (void)::unlink(link.lock_file.c_str());
        link.lock_file.clear();
    }
    int err = 0;
    if (link.fd >= 0) {
        if (::close(link.fd) != 0) err = errno;
        link.fd = -1;
    }
    return err;
}

struct LinkRelease {
    void operator()(Link* link) const {
        release(*link);
        delete link;
    }
};
using LinkOwner = std::unique_ptr<Link, LinkRelease>;

std::string permission_text(const std::string& path) {
    detail::last_failure().note = "permission denied";
    std::string text = path + ": " + system_error_text(EACCES);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return text;
    std::vector<char> buf(1024);
    group entry{};
    group* found = nullptr;
    int r = 0;
    while ((r = ::getgrgid_r(st.st_gid, &entry, buf.data(), buf.size(), &found)) == ERANGE &&
           buf.size() < 1 << 20)
        buf.resize(buf.size() * 2);
    if (r == 0 && found != nullptr) {
        detail::last_failure().note =
            std::string("permission denied: add your user to the ") + found->gr_name + " group";
        return text + " (join the group " + found->gr_name + ")";
    }
    return text + " (join the group with id " + std::to_string(st.st_gid) + ")";
}

// A port held by someone else: another link of this process (`self` is the failing link,
// when it is registered already), or another process. The reason names that process when it
// can be found: the live owner of its lock file (lock_pid), else one with the device open.
std::int32_t fail_in_use(const std::string& path, const Link* self, const std::string& how, int err,
                         pid_t lock_pid = 0) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && held_here(st.st_rdev, self)) {
        detail::last_failure().note = "already open in this program";
        return fail(ST_NO_PORT,
                    path + " is already open in this program (through another COM number?)", 0);
    }
    std::optional<PortHolder> holder;
    if (lock_pid > 0) {
        std::string name = ProcessName(static_cast<std::int32_t>(lock_pid));
        if (!name.empty()) holder = PortHolder{static_cast<std::int32_t>(lock_pid), name};
    } else {
        holder = FindPortHolder(path);
    }
    std::string who;
    if (holder) {
        who = holder->name + ", pid " + std::to_string(holder->pid);
        detail::last_failure().holder = {holder->pid, holder->name};
        detail::last_failure().note = "held by " + who;
    } else {
        who = lock_pid > 0 ? "process " + std::to_string(lock_pid) : "another program";
        detail::last_failure().note = "in use by " + who;
    }
    return fail(ST_NO_PORT, path + " is in use by " + who + " (" + how + ")", err);
}

std::string lock_dir() {
    const char* dir = std::getenv("ZBCONFIG_LOCK_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/var/lock";
}

// The process a lock file names, or 0 when its content names none: the ten-character text
// form, or the older binary form (the pid as a native four-byte integer).
pid_t lock_file_pid(const char* text, std::size_t size) {
    std::size_t i = 0;
    while (i < size && (text[i] == ' ' || text[i] == '\t')) ++i;
    long long pid = 0;
    const std::size_t first = i;
    for (; i < size && text[i] >= '0' && text[i] <= '9' && pid <= INT_MAX; ++i)
        pid = pid * 10 + (text[i] - '0');
    while (i > first && i < size && (text[i] == ' ' || text[i] == '\n' || text[i] == '\r')) ++i;
    if (i > first && i == size) return pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
    std::int32_t binary = 0;
    if (size != sizeof binary) return 0;
    std::memcpy(&binary, text, sizeof binary);
    return binary > 0 ? static_cast<pid_t>(binary) : 0;
}

// Whether the process that the lock file `st` names is alive. A file naming this process is
// ours only while one of its links holds that file: otherwise an earlier process with the
// same pid left it (pids repeat in containers, whose lock folder may persist). The caller
// holds lock_files_mutex, under which links take and give back their lock files.
bool holder_alive(pid_t pid, const struct stat& st) {
    if (pid <= 0) return false;
    if (pid != ::getpid()) return ::kill(pid, 0) == 0 || errno == EPERM;
    const std::lock_guard lock(held_mutex);
    return std::any_of(held_links.begin(), held_links.end(), [&st](const Link* held) {
        return !held->lock_file.empty() && held->lock_dev == st.st_dev &&
               held->lock_ino == st.st_ino;
    });
}

// Something other than a file at the lock path. Refused rather than removed as stale: no
// dialler left it, and reading it could block or lead elsewhere.
bool refuse_odd_lock_file(const Link& link, const std::string& file, mode_t mode) {
    const char* kind = S_ISLNK(mode)    ? "a symbolic link"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISDIR(mode)  ? "a folder"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "a device";
    std::string& note = detail::last_failure().note;
    note = file + " is " + kind + ", not a lock file";
    fail(ST_NO_PORT, link.path + ": " + note, 0);
    return false;
}

// Honours and takes the UUCP lock file of the link's device. False, with the reason set,
// when a live process holds it or something other than a file is in its place. Without a
// lock folder, or with one this user may not write to or that is full, the link goes on
// without a lock file, though a live holder still refuses the port.
bool take_lock_file(Link& link) {
    const std::string dir = lock_dir();
    struct stat dst {};
    if (::stat(dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) return true;
    const bool writable = ::access(dir.c_str(), W_OK) == 0;

    char real[PATH_MAX];
    const std::string device = ::realpath(link.path.c_str(), real) != nullptr ? real : link.path;
    const std::string file = dir + "/LCK.." + device.substr(device.find_last_of('/') + 1);

    const std::lock_guard lock(lock_files_mutex);
    // Two rounds: a stale file removed in the first leaves room for ours in the second.
    for (int round = 0; round < 2; ++round) {
        if (writable) {
            const int fd =
                ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (fd >= 0) {
                const std::string pid = pid_line(::getpid());
                struct stat st {};
                const ssize_t wrote = ::write(fd, pid.data(), pid.size());
                // A short write to a file means that the file system ran out of room.
                int err = wrote < 0 ? errno : ENOSPC;
                bool ok = wrote == static_cast<ssize_t>(pid.size());
                if (ok && ::fstat(fd, &st) != 0) {
                    ok = false;
                    err = errno;
                }
                if (::close(fd) != 0 && ok) {
                    ok = false;
                    err = errno;
                }
                if (!ok) {
                    (void)::unlink(file.c_str());
                    // A full folder holds no lock file, like one we may not write to.
                    if (err == ENOSPC || err == EDQUOT) return true;
                    fail(ST_NO_PORT, with_errno("cannot write the lock file " + file, err), err);
                    return false;
                }
                link.lock_file = file;
                link.lock_dev = st.st_dev;
                link.lock_ino = st.st_ino;
                return true;
            }
            // The folder refuses us after all (no right, read-only, no free inodes): no lock
            // file.
            if (errno != EEXIST) return true;
        }

        // Looked at before opening: opening a FIFO or a device could block or act on it.
        struct stat st {};
        int fd = -1;
        if (::lstat(file.c_str(), &st) == 0) {
            if (!S_ISREG(st.st_mode)) return refuse_odd_lock_file(link, file, st.st_mode);
            fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        }
        if (fd < 0) {
            const int err = errno;
            if (err == ENOENT) {
                if (!writable) return true;
                continue;
            }
            if (err == ELOOP) return refuse_odd_lock_file(link, file, S_IFLNK);
            fail_in_use(link.path, &link,
                        "lock file " + file + ", unreadable: " + system_error_text(err), err);
            return false;
        }
        // Put in place of the file between the two looks.
        if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
            ::close(fd);
            return refuse_odd_lock_file(link, file, st.st_mode);
        }
        char text[64];
        const ssize_t got = ::read(fd, text, sizeof text);
        ::close(fd);
        const pid_t pid = got > 0 ? lock_file_pid(text, static_cast<std::size_t>(got)) : 0;
        if (holder_alive(pid, st)) {
            fail_in_use(link.path, &link, "lock file " + file, 0, pid);
            return false;
        }
        // Stale: its process is gone or it names none.
        if (!writable) return true;
        if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
            const int err = errno;
            fail(ST_NO_PORT, with_errno("cannot remove the stale lock file " + file, err), err);
            return false;
        }
    }
    fail_in_use(link.path, &link, "lock file " + file, 0);
    return false;
}

enum class Wait { Ready, TimedOut, Failed };

// One deadline per wait on the monotonic clock; EINTR retries with the remaining time.
Wait wait_for(int fd, short events, Clock::time_point deadline, bool unbounded) {
    for (;;) {
        int timeout_ms = -1;
        if (!unbounded) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            timeout_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, timeout_ms);
        if (r < 0) {
            if (errno == EINTR) continue;
            return Wait::Failed;
        }
        if (r == 0) {
            if (unbounded || Clock::now() >= deadline) return Wait::TimedOut;
            continue;
        }
        // Data that arrived before a hang-up is still delivered.
        if (p.revents & events) return Wait::Ready;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return Wait::Failed;
    }
}

}  // namespace

// Gathers up to count bytes before the deadline. Bytes already taken are always returned,
// so a failure never loses data; with none, the time-out or failure code is returned.
std::int32_t detail::bounded_read(ComHandle handle, std::uint8_t* buf, std::uint32_t count,
                                  int wait_ms, std::int32_t timeout_code) {
    if (handle.is_null() || buf == nullptr)
        return fail(ST_BAD_ARG, handle.is_null() ? "no link" : "no buffer", 0);
    Link& link = *link_of(handle);
    std::uint32_t got = link.input.take(buf, count);
    if (got == count) return static_cast<std::int32_t>(got);
    Clock::time_point deadline{};
    // An empty queue costs one read before the first wait instead of a poll and a read.
    bool try_read = true;
    while (got < count) {
        if (!try_read) {
            if (deadline == Clock::time_point{}) deadline = Clock::now() + scaled(wait_ms);
            const Wait w = wait_for(link.fd, POLLIN, deadline, false);
            if (w == Wait::TimedOut) {
                if (got > 0) return static_cast<std::int32_t>(got);
                return fail(timeout_code, link.path + ": no data within the wait", 0);
            }
            if (w == Wait::Failed) {
                if (got > 0) return static_cast<std::int32_t>(got);
                return fail(ST_IO, link.path + " has hung up or failed", 0);
            }
        }
        const ssize_t n = ::read(link.fd, link.input.in, sizeof link.input.in);
        if (n > 0) {
            link.input.filled(static_cast<std::uint32_t>(n));
            got += link.input.take(buf + got, count - got);
            try_read = true;
            continue;
        }
        const int err = n < 0 ? errno : 0;
        if (err == EINTR) continue;
        // With VMIN and VTIME zero an empty queue reads as 0 rather than EAGAIN.
        if (try_read && (n == 0 || err == EAGAIN)) {
            try_read = false;
            continue;
        }
        if (err == EAGAIN) continue;
        // Readable and then no bytes, or an error: the device has gone (unplugged, hung up).
        if (got > 0) return static_cast<std::int32_t>(got);
        return fail(ST_IO, err != 0 ? with_errno(link.path, err) : link.path + " has gone", err);
    }
    return static_cast<std::int32_t>(got);
}

std::int32_t com_open(std::int32_t n, ComHandle* out) {
    detail::begin_open();
    if (out == nullptr) return fail(ST_NO_PORT, "no place for the handle", 0);
    if (n < 1) return fail(ST_NO_PORT, "COM" + std::to_string(n) + " is no COM number", 0);
    ComPortLookup port = com_lookup_port(n);
    if (!port.problem.empty()) return fail(ST_NO_PORT, std::move(port.problem), port.error);
    const std::string& path = port.path;

    // Checked before opening: our own exclusive mode would make the open fail as if another
    // program held the port.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && held_here(st.st_rdev)) {
        detail::last_failure().note = "already open in this program";
        return fail(ST_NO_PORT,
                    path + " is already open in this program (through another COM number?)", 0);
    }

    LinkOwner link(new (std::nothrow) Link);
    if (!link) return fail(ST_NO_PORT, with_errno(path, ENOMEM), ENOMEM);
    link->path = path;
    link->fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (link->fd < 0) {
        const int err = errno;
        if (err == EBUSY) return fail_in_use(path, nullptr, "exclusive mode set", err);
        if (err == EACCES) return fail(ST_NO_PORT, permission_text(path), err);
        return fail(ST_NO_PORT, with_errno(path, err), err);
    }
    const int fd = link->fd;
    const std::shared_lock claims(claims_mutex);
    if (claims_given_back) return fail(ST_NO_PORT, path + ": the program is ending", 0);
    if (::fstat(fd, &st) == 0) link->device = st.st_rdev;
    // Known before any claim is taken, so that another link of this process that meets a
    // claim of this one is told so, not that another program holds the port.
    {
        const std::lock_guard lock(held_mutex);
        held_links.push_back(link.get());
    }

    // Root opens a port in exclusive mode anyway; its holder still expects to be alone.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0) {
        const int err = errno;
        if (err == ENOTTY) return fail(ST_NO_PORT, path + " is not a serial port", err);
        if (err != EINVAL) return fail(ST_NO_PORT, with_errno(path, err), err);
    } else if (exclusive != 0) {
        return fail_in_use(path, link.get(), "exclusive mode set", 0);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EWOULDBLOCK) return fail_in_use(path, link.get(), "it holds a flock", 0);
        return fail(ST_NO_PORT, with_errno(path, err), err);
    }
    if (!take_lock_file(*link)) return ST_NO_PORT;
    // Last, so that no failure above has exclusive mode to undo.
    if (::ioctl(fd, TIOCEXCL) != 0) {
        const int err = errno;
        return fail(ST_NO_PORT, with_errno(path + ": cannot set exclusive mode", err), err);
    }
    link->set_exclusive = true;

    *out = ComHandle::from_native(reinterpret_cast<std::intptr_t>(link.release()));
    detail::open_succeeded();
    return ST_OK;
}

std::int32_t com_setup(ComHandle handle, std::uint32_t baud, std::uint32_t parity,
                       std::uint8_t databits, std::uint8_t two_stop, std::uint32_t flow) {
    if (handle.is_null()) return fail(ST_BAD_ARG, "no link", 0);
    const Link& link = *link_of(handle);
    const int fd = link.fd;
    termios current{};
    if (::tcgetattr(fd, &current) != 0) {
        const int err = errno;
        return fail(ST_IO, with_errno(link.path + ": cannot read the line settings", err), err);
    }
    const std::optional<termios> wanted =
        make_termios(current, baud, parity, databits, two_stop, flow);
    if (!wanted) {
        return fail(ST_IO,
                    link.path + ": no such line here (" + std::to_string(baud) + " baud, parity " +
                        std::to_string(parity & 0xFF) + ", " + std::to_string(databits) +
                        " data bits)",
                    0);
    }
    if (::tcsetattr(fd, TCSANOW, &*wanted) != 0) {
        const int err = errno;
        return fail(ST_IO, with_errno(link.path + ": refused the line settings", err), err);
    }

    // tcsetattr succeeds when any part was taken; read back what the line depends on.
    termios applied{};
    if (::tcgetattr(fd, &applied) != 0) {
        const int err = errno;
        return fail(ST_IO, with_errno(link.path + ": cannot read the line settings", err), err);
    }
    constexpr tcflag_t line_bits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    if ((applied.c_cflag & line_bits) != (wanted->c_cflag & line_bits) ||
        cfgetospeed(&applied) != cfgetospeed(&*wanted)) {
        return fail(ST_IO,
                    link.path + " did not take the line settings (" + std::to_string(baud) +
                        " baud, parity " + std::to_string(parity & 0xFF) + ", " +
                        std::to_string(databits) + " data bits)",
                    0);
    }

    // Modem lines: a pseudo-terminal or a three-wire adapter has none, which is no failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIS, &lines);
    return ST_OK;
}

std::int32_t com_set_timeouts(ComHandle handle, std::uint32_t, std::uint32_t, std::uint32_t,
                              std::uint32_t, std::uint32_t) {
    if (handle.is_null()) return fail(ST_IO, "no link", 0);
    if (::fcntl(link_of(handle)->fd, F_GETFD) < 0) {
        const int err = errno;
        return fail(ST_IO, with_errno(link_of(handle)->path, err), err);
    }
    return ST_OK;
}

std::int32_t com_purge(ComHandle handle, std::uint32_t flags) {
    if (handle.is_null()) return fail(ST_IO, "no link", 0);
    Link& link = *link_of(handle);
    const bool in = (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
    const bool out = (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
    if (in) link.input.clear();
    int r = 0;
    if (in && out)
        r = ::tcflush(link.fd, TCIOFLUSH);
    else if (in)
        r = ::tcflush(link.fd, TCIFLUSH);
    else if (out)
        r = ::tcflush(link.fd, TCOFLUSH);
    else
        r = ::fcntl(link.fd, F_GETFD) < 0 ? -1 : 0;
    if (r != 0) {
        const int err = errno;
        return fail(ST_IO, with_errno(link.path + ": cannot discard buffered data", err), err);
    }
    return ST_OK;
}

std::int32_t com_write(ComHandle handle, const std::uint8_t* buf, std::uint32_t count) {
    if (handle.is_null()) return fail(ST_BAD_ARG, "no link", 0);
    if (buf == nullptr && count > 0) return fail(ST_IO, "no buffer", 0);
    const Link& link = *link_of(handle);
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(link.fd, buf + done, count - done);
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
            continue;
        }
        const int err = n < 0 ? errno : 0;
        if (err == EINTR) continue;
        if (err == EAGAIN) {
            if (wait_for(link.fd, POLLOUT, Clock::now(), true) != Wait::Ready)
                return fail(ST_IO, link.path + " has hung up or failed", 0);
            continue;
        }
        return fail(ST_IO, err != 0 ? with_errno(link.path, err) : link.path + " took no bytes",
                    err);
    }
    return static_cast<std::int32_t>(done);
}

void com_release_all() {
    const std::unique_lock claims(claims_mutex);
    claims_given_back = true;
    // In the order of an open that meets a held lock file: lock files, then held links.
    const std::lock_guard files(lock_files_mutex);
    const std::lock_guard held(held_mutex);
    for (const Link* link : held_links) {
        if (link->set_exclusive) (void)::ioctl(link->fd, TIOCNXCL);
        (void)::flock(link->fd, LOCK_UN);
        if (!link->lock_file.empty() && owns_lock_file(*link))
            (void)::unlink(link->lock_file.c_str());
    }
}

std::int32_t com_close(ComHandle handle) {
    if (handle.is_null()) return fail(ST_IO, "no link", 0);
    Link* link = link_of(handle);
    const std::string path = link->path;
    const int err = release(*link);
    delete link;
    return err == 0 ? ST_OK : fail(ST_IO, with_errno(path, err), err);
}

}  // namespace zb
