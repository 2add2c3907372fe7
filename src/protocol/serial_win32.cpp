// The Windows side of the serial link: the only file that touches the communications
// functions. Every read and write is overlapped and waited for with a bound of our own.
// Before <windows.h>: it defines the PURGE_* names as macros (with the same values), which
// would otherwise clash with the link's constants.
#include "protocol/serial_link.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "protocol/dcb_settings_win32.h"
#include "protocol/link_state.h"
#include "protocol/system_error.h"

namespace zb {

namespace detail {

namespace {

// No thread_local object with a destructor here: MinGW's runtime frees a thread's
// thread_local storage before it runs that thread's thread_local destructors, so the
// strings would be destroyed from freed memory, and would free whatever pointers another
// thread had put there by then. Each thread's state is a heap object instead, reached
// through a plain thread_local pointer and deleted by a fiber-local slot's callback when
// the thread ends.
void WINAPI DeleteFailure(void* state) {
    delete static_cast<LastFailure*>(state);
}

thread_local LastFailure* failure_state = nullptr;

}  // namespace

LastFailure& last_failure() {
    if (failure_state == nullptr) {
        static const DWORD slot = ::FlsAlloc(&DeleteFailure);
        auto state = std::make_unique<LastFailure>();
        // Without a slot the state outlives its thread: a leak, never a fault.
        if (slot != FLS_OUT_OF_INDEXES) (void)::FlsSetValue(slot, state.get());
        failure_state = state.release();
    }
    return *failure_state;
}

}  // namespace detail

namespace {

using Clock = std::chrono::steady_clock;

using detail::scaled;

std::int32_t fail(std::int32_t code, std::string text, DWORD err) {
    return detail::fail(code, std::move(text), static_cast<int>(err));
}

std::int32_t fail_system(std::int32_t code, const std::string& what, DWORD err) {
    return fail(code, what + ": " + system_error_text(err), err);
}

struct Link {
    HANDLE port = INVALID_HANDLE_VALUE;
    // The wait event of every read and write of this link: one thread at a time uses a link.
    HANDLE event = nullptr;
    std::int32_t com = 0;
    std::string path;
    detail::InputBuffer input;
};

Link* link_of(ComHandle handle) {
    return reinterpret_cast<Link*>(handle.native());  // NOLINT(performance-no-int-to-ptr)
}

// COM numbers that a link of this process has claimed, so that a second open of one port is
// told apart from a port that another program holds: both refuse with access denied.
std::mutex held_mutex;
std::set<std::int32_t>& held_coms = *new std::set<std::int32_t>;

bool claim(std::int32_t com) {
    const std::lock_guard lock(held_mutex);
    return held_coms.insert(com).second;
}

void forget(std::int32_t com) {
    const std::lock_guard lock(held_mutex);
    held_coms.erase(com);
}

// Returns 0, or the error of a failed CloseHandle on the port.
DWORD release(Link& link) {
    DWORD err = 0;
    if (link.port != INVALID_HANDLE_VALUE && CloseHandle(link.port) == 0) err = GetLastError();
    link.port = INVALID_HANDLE_VALUE;
    if (link.event != nullptr) CloseHandle(link.event);
    link.event = nullptr;
    if (link.com != 0) forget(link.com);
    link.com = 0;
    return err;
}

struct LinkRelease {
    void operator()(Link* link) const {
        release(*link);
        delete link;
    }
};
using LinkOwner = std::unique_ptr<Link, LinkRelease>;

// No time-outs of the driver's own: a read completes once all the bytes it asked for have
// arrived, and the bound on waiting is ours. Writes have no bound.
COMMTIMEOUTS link_timeouts() {
    return COMMTIMEOUTS{};
}

// Ends an overlapped operation that is still pending, so that nothing writes into `ov` or
// the buffer once the call has returned. Bytes that arrived meanwhile are kept in `done`.
void cancel_and_settle(const Link& link, OVERLAPPED& ov, DWORD* done) {
    *done = 0;
    CancelIo(link.port);
    if (GetOverlappedResult(link.port, &ov, done, TRUE) == 0) *done = 0;
}

enum class Got { Bytes, TimedOut, Failed };

// One ReadFile into the link's buffer, waited for until `deadline`: all that the driver
// holds, or when it holds nothing, the `wanted` bytes the caller still needs. (The driver's
// "return what has arrived" time-out mode would save the queue query, but not every driver
// or emulation has it.)
Got read_once(Link& link, DWORD wanted, Clock::time_point deadline, DWORD* n, DWORD* err) {
    OVERLAPPED ov{};
    ov.hEvent = link.event;
    *n = 0;
    *err = 0;
    COMSTAT queue{};
    DWORD line_errors = 0;
    if (ClearCommError(link.port, &line_errors, &queue) == 0) {
        *err = GetLastError();
        return Got::Failed;
    }
    const DWORD size =
        std::min<DWORD>(queue.cbInQue > 0 ? queue.cbInQue : wanted, sizeof link.input.in);
    if (ReadFile(link.port, link.input.in, size, n, &ov) != 0)
        return *n > 0 ? Got::Bytes : Got::TimedOut;
    if (GetLastError() != ERROR_IO_PENDING) {
        *err = GetLastError();
        return Got::Failed;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const DWORD wait_ms = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    const DWORD w = WaitForSingleObject(link.event, wait_ms);
    if (w == WAIT_OBJECT_0) {
        if (GetOverlappedResult(link.port, &ov, n, FALSE) == 0) {
            *err = GetLastError();
            cancel_and_settle(link, ov, n);
            return *n > 0 ? Got::Bytes : Got::Failed;
        }
        return *n > 0 ? Got::Bytes : Got::TimedOut;
    }
    if (w != WAIT_TIMEOUT) *err = GetLastError();
    cancel_and_settle(link, ov, n);
    // A byte that completed the read while it was being cancelled is not lost.
    if (*n > 0) return Got::Bytes;
    return w == WAIT_TIMEOUT ? Got::TimedOut : Got::Failed;
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
    const Clock::time_point deadline = Clock::now() + scaled(wait_ms);
    while (got < count) {
        if (got > 0 && Clock::now() >= deadline) break;
        DWORD n = 0;
        DWORD err = 0;
        const Got r = read_once(link, count - got, deadline, &n, &err);
        if (r == Got::Bytes) {
            link.input.filled(n);
            got += link.input.take(buf + got, count - got);
            continue;
        }
        if (got > 0) break;
        if (r == Got::TimedOut)
            return fail(timeout_code, link.path + ": no data within the wait", 0);
        return fail_system(ST_IO, link.path, err);
    }
    return static_cast<std::int32_t>(got);
}

std::int32_t com_open(std::int32_t n, ComHandle* out) {
    detail::begin_open();
    if (out == nullptr) return fail(ST_NO_PORT, "no place for the handle", 0);
    if (n < 1) return fail(ST_NO_PORT, "COM" + std::to_string(n) + " is no COM number", 0);
    ComPortLookup port = com_lookup_port(n);
    if (!port.problem.empty())
        return fail(ST_NO_PORT, std::move(port.problem), static_cast<DWORD>(port.error));
    const std::string& path = port.path;

    if (!claim(n)) {
        detail::last_failure().note = "already open in this program";
        return fail(ST_NO_PORT, path + " is already open in this program", 0);
    }
    LinkOwner link(new (std::nothrow) Link);
    if (!link) {
        forget(n);
        return fail_system(ST_NO_PORT, path, ERROR_NOT_ENOUGH_MEMORY);
    }
    link->com = n;
    link->path = path;
    link->port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (link->port == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION) {
            detail::last_failure().note = "in use by another program";
            return fail(ST_NO_PORT,
                        path + " is in use by another program (" + system_error_text(err) + ")",
                        err);
        }
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
            return fail(ST_NO_PORT,
                        "COM" + std::to_string(n) + " does not exist on this machine (" + path +
                            ": " + system_error_text(err) + ")",
                        err);
        }
        return fail_system(ST_NO_PORT, path, err);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(link->port, &dcb) == 0) {
        const DWORD err = GetLastError();
        return fail(ST_NO_PORT, path + " is not a serial port (" + system_error_text(err) + ")",
                    err);
    }
    COMMTIMEOUTS timeouts = link_timeouts();
    if (SetCommTimeouts(link->port, &timeouts) == 0)
        return fail_system(ST_NO_PORT, path + ": cannot set the time-outs", GetLastError());
    // Queue sizes are a request the driver may round or ignore.
    (void)SetupComm(link->port, 4096, 4096);
    link->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (link->event == nullptr)
        return fail_system(ST_NO_PORT, path + ": cannot create its wait event", GetLastError());

    *out = ComHandle::from_native(reinterpret_cast<std::intptr_t>(link.release()));
    detail::open_succeeded();
    return ST_OK;
}

std::int32_t com_setup(ComHandle handle, std::uint32_t baud, std::uint32_t parity,
                       std::uint8_t databits, std::uint8_t two_stop, std::uint32_t flow) {
    if (handle.is_null()) return fail(ST_BAD_ARG, "no link", 0);
    const Link& link = *link_of(handle);
    DCB current{};
    current.DCBlength = sizeof current;
    if (GetCommState(link.port, &current) == 0)
        return fail_system(ST_IO, link.path + ": cannot read the line settings", GetLastError());
    DCB wanted = make_dcb(current, baud, parity, databits, two_stop, flow);
    if (SetCommState(link.port, &wanted) == 0) {
        return fail_system(ST_IO,
                           link.path + ": refused the line settings (" + std::to_string(baud) +
                               " baud, parity " + std::to_string(parity & 0xFF) + ", " +
                               std::to_string(databits) + " data bits)",
                           GetLastError());
    }
    return ST_OK;
}

std::int32_t com_set_timeouts(ComHandle handle, std::uint32_t, std::uint32_t, std::uint32_t,
                              std::uint32_t, std::uint32_t) {
    if (handle.is_null()) return fail(ST_IO, "no link", 0);
    const Link& link = *link_of(handle);
    // Clients pass all zero; other values would make the driver end reads early with no
    // data, which the bounded reads must not see, so the link keeps its own.
    COMMTIMEOUTS timeouts = link_timeouts();
    if (SetCommTimeouts(link.port, &timeouts) == 0)
        return fail_system(ST_IO, link.path + ": cannot set the time-outs", GetLastError());
    return ST_OK;
}

std::int32_t com_purge(ComHandle handle, std::uint32_t flags) {
    if (handle.is_null()) return fail(ST_IO, "no link", 0);
    Link& link = *link_of(handle);
    if ((flags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0) link.input.clear();
    const DWORD mask = flags & (PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    DWORD events = 0;
    const BOOL ok = mask != 0 ? PurgeComm(link.port, mask) : GetCommMask(link.port, &events);
    if (ok == 0)
        return fail_system(ST_IO, link.path + ": cannot discard buffered data", GetLastError());
    return ST_OK;
}

std::int32_t com_write(ComHandle handle, const std::uint8_t* buf, std::uint32_t count) {
    if (handle.is_null()) return fail(ST_BAD_ARG, "no link", 0);
    if (buf == nullptr && count > 0) return fail(ST_IO, "no buffer", 0);
    const Link& link = *link_of(handle);
    std::uint32_t done = 0;
    while (done < count) {
        OVERLAPPED ov{};
        ov.hEvent = link.event;
        DWORD n = 0;
        if (WriteFile(link.port, buf + done, count - done, &n, &ov) == 0) {
            DWORD err = GetLastError();
            if (err != ERROR_IO_PENDING) return fail_system(ST_IO, link.path, err);
            if (WaitForSingleObject(link.event, INFINITE) != WAIT_OBJECT_0) {
                err = GetLastError();
                cancel_and_settle(link, ov, &n);
                return fail_system(ST_IO, link.path, err);
            }
            if (GetOverlappedResult(link.port, &ov, &n, FALSE) == 0) {
                err = GetLastError();
                cancel_and_settle(link, ov, &n);
                return fail_system(ST_IO, link.path, err);
            }
        }
        if (n == 0) return fail(ST_IO, link.path + " took no bytes", 0);
        done += n;
    }
    return static_cast<std::int32_t>(done);
}

std::int32_t com_close(ComHandle handle) {
    if (handle.is_null()) return fail(ST_IO, "no link", 0);
    Link* link = link_of(handle);
    const std::string path = link->path;
    const DWORD err = release(*link);
    delete link;
    return err == 0 ? ST_OK : fail_system(ST_IO, path, err);
}

// A port is claimed by its handle alone, and the system closes that when the process ends.
void com_release_all() {}

}  // namespace zb
