// The POSIX side of the serial link: the only file that touches termios, poll and flock.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "line_settings.h"
#include "serial_link.h"

namespace zb {
namespace {

using Clock = std::chrono::steady_clock;

thread_local std::string last_error;
thread_local int last_errno = 0;

std::int32_t fail_open(std::int32_t code, const std::string& text, int err) {
    last_error = text;
    last_errno = err;
    return code;
}

int fd_of(ComHandle link) {
    return static_cast<int>(link.native());
}

// Owns a descriptor until every step of opening has succeeded.
class FdOwner {
public:
    explicit FdOwner(int fd) : fd_(fd) {}
    ~FdOwner() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdOwner(const FdOwner&) = delete;
    FdOwner& operator=(const FdOwner&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

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

// Gathers up to count bytes before the deadline. Bytes already taken are always returned,
// so a failure never loses data; with none, the time-out or failure code is returned.
std::int32_t bounded_read(ComHandle link, std::uint8_t* buf, std::uint32_t count, int wait_ms,
                          std::int32_t timeout_code) {
    if (link.is_null() || buf == nullptr) return ST_BAD_ARG;
    const int fd = fd_of(link);
    const auto deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
    std::uint32_t got = 0;
    // Replies are read a byte per call, so try the read first: a byte already queued then
    // costs one system call instead of two.
    bool try_read = true;
    while (got < count) {
        if (!try_read) {
            const Wait w = wait_for(fd, POLLIN, deadline, false);
            if (w == Wait::TimedOut) return got > 0 ? static_cast<std::int32_t>(got) : timeout_code;
            if (w == Wait::Failed) return got > 0 ? static_cast<std::int32_t>(got) : ST_IO;
        }
        const ssize_t n = ::read(fd, buf + got, count - got);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            try_read = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // With VMIN and VTIME zero an empty queue reads as 0 rather than EAGAIN.
        if (try_read && (n == 0 || errno == EAGAIN)) {
            try_read = false;
            continue;
        }
        if (n < 0 && errno == EAGAIN) continue;
        // Readable and then no bytes, or an error: the device has gone (unplugged, hung up).
        return got > 0 ? static_cast<std::int32_t>(got) : ST_IO;
    }
    return static_cast<std::int32_t>(got);
}

}  // namespace

std::int32_t com_open(std::int32_t n, ComHandle* out) {
    if (out == nullptr || n < 1) return fail_open(ST_NO_PORT, "no such COM number", 0);
    const std::string path = com_device_path(n);
    FdOwner fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        const int err = errno;
        return fail_open(ST_NO_PORT, path + ": " + std::strerror(err), err);
    }
    // The lock comes before TIOCEXCL so that a port held by someone else is left untouched.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EWOULDBLOCK)
            return fail_open(ST_NO_PORT, path + " is in use by another program", 0);
        return fail_open(ST_NO_PORT, path + ": " + std::strerror(err), err);
    }
    // Also keeps out other programs that open without locking (root is exempt from this).
    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        const int err = errno;
        if (err == ENOTTY) return fail_open(ST_NO_PORT, path + " is not a serial port", err);
        return fail_open(ST_NO_PORT, path + ": " + std::strerror(err), err);
    }
    *out = ComHandle::from_native(fd.release());
    last_error.clear();
    last_errno = 0;
    return ST_OK;
}

std::string com_last_error() {
    return last_error;
}

int com_last_errno() {
    return last_errno;
}

std::int32_t com_setup(ComHandle link, std::uint32_t baud, std::uint32_t parity,
                       std::uint8_t databits, std::uint8_t two_stop, std::uint32_t flow) {
    if (link.is_null()) return ST_BAD_ARG;
    const int fd = fd_of(link);
    termios current{};
    if (::tcgetattr(fd, &current) != 0) return ST_IO;
    const std::optional<termios> wanted =
        make_termios(current, baud, parity, databits, two_stop, flow);
    if (!wanted) return ST_IO;
    if (::tcsetattr(fd, TCSANOW, &*wanted) != 0) return ST_IO;

    // tcsetattr succeeds when any part was taken; read back what the line depends on.
    termios applied{};
    if (::tcgetattr(fd, &applied) != 0) return ST_IO;
    constexpr tcflag_t line_bits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    if ((applied.c_cflag & line_bits) != (wanted->c_cflag & line_bits) ||
        cfgetospeed(&applied) != cfgetospeed(&*wanted))
        return ST_IO;

    // Modem lines: a pseudo-terminal or a three-wire adapter has none, which is no failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIS, &lines);
    return ST_OK;
}

std::int32_t com_set_timeouts(ComHandle link, std::uint32_t, std::uint32_t, std::uint32_t,
                              std::uint32_t, std::uint32_t) {
    if (link.is_null() || ::fcntl(fd_of(link), F_GETFD) < 0) return ST_IO;
    return ST_OK;
}

std::int32_t com_purge(ComHandle link, std::uint32_t flags) {
    if (link.is_null()) return ST_IO;
    const int fd = fd_of(link);
    const bool in = (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
    const bool out = (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
    int r = 0;
    if (in && out)
        r = ::tcflush(fd, TCIOFLUSH);
    else if (in)
        r = ::tcflush(fd, TCIFLUSH);
    else if (out)
        r = ::tcflush(fd, TCOFLUSH);
    else
        r = ::fcntl(fd, F_GETFD) < 0 ? -1 : 0;
    return r == 0 ? ST_OK : ST_IO;
}

std::int32_t com_read_long(ComHandle link, std::uint8_t* buf, std::uint32_t count) {
    return bounded_read(link, buf, count, READ_LONG_WAIT_MS, ST_IO);
}

std::int32_t com_read_short(ComHandle link, std::uint8_t* buf, std::uint32_t count) {
    return bounded_read(link, buf, count, READ_SHORT_WAIT_MS, ST_TIMEOUT);
}

std::int32_t com_write(ComHandle link, const std::uint8_t* buf, std::uint32_t count) {
    if (link.is_null()) return ST_BAD_ARG;
    if (buf == nullptr && count > 0) return ST_IO;
    const int fd = fd_of(link);
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, buf + done, count - done);
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            if (wait_for(fd, POLLOUT, Clock::now(), true) != Wait::Ready) return ST_IO;
            continue;
        }
        return ST_IO;
    }
    return static_cast<std::int32_t>(done);
}

std::int32_t com_close(ComHandle link) {
    if (link.is_null()) return ST_IO;
    const int fd = fd_of(link);
    // Exclusivity belongs to the terminal, not the descriptor: give it up explicitly, or a
    // terminal that another process also keeps open would stay closed to every new open.
    (void)::ioctl(fd, TIOCNXCL);
    return ::close(fd) == 0 ? ST_OK : ST_IO;
}

}  // namespace zb
