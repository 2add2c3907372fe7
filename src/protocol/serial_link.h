// Serial link: open a COM port by number, set its line, move bytes with bounded waits.
//
// An open link keeps a little state of its own (a small input buffer, and on POSIX what it
// must undo at close: its lock file and the exclusive mode it set); everything else is looked
// up afresh on every call. Operations on different links may run at the same time; one link
// is used by one thread at a time. Nothing above this layer touches the platform's
// descriptors. One source file per platform (serial_posix.cpp, serial_win32.cpp).
//
// Environment on POSIX, read at every com_open: ZBCONFIG_PORTS (the port-map directory,
// below) and ZBCONFIG_LOCK_DIR (the folder of UUCP lock files, /var/lock when unset or
// empty).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "protocol/status.h"

namespace zb {

// Handle of one open port. A default-constructed handle is null: there is no link.
// The owner releases it with com_close; copies refer to the same port and are invalid once
// it is closed.
class ComHandle {
public:
    constexpr ComHandle() = default;
    constexpr bool is_null() const { return native_ == 0; }
    constexpr explicit operator bool() const { return !is_null(); }
    friend constexpr bool operator==(ComHandle, ComHandle) = default;

    // For the platform file only.
    static constexpr ComHandle from_native(std::intptr_t native) { return ComHandle(native); }
    constexpr std::intptr_t native() const { return native_; }

private:
    constexpr explicit ComHandle(std::intptr_t native) : native_(native) {}
    std::intptr_t native_ = 0;
};

inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;
// What every client purges before a new phase of work: pending reads and the input buffer.
inline constexpr std::uint32_t PURGE_INPUT = PURGE_RXABORT | PURGE_RXCLEAR;

inline constexpr std::uint32_t FLOW_NONE = 0;
inline constexpr std::uint32_t FLOW_RTSCTS = 1;
inline constexpr std::uint32_t FLOW_XONXOFF = 2;

// Bounded waits of the two reads, in milliseconds.
inline constexpr int READ_LONG_WAIT_MS = 5000;
inline constexpr int READ_SHORT_WAIT_MS = 2000;

// Multiplies both bounded waits, process-wide, from the next read on: tests pass a fraction so
// that only the tests timing the real bounds pay them. A value that is not positive and
// finite restores 1.
void com_set_wait_scale(double scale);
double com_wait_scale();
// `wait_ms` as the link scales its bounded waits; at least 1 ms. For the protocol's longer
// waits, made of many reads, so that tests pay the same fraction of them.
std::chrono::milliseconds com_scaled_wait(int wait_ms);

// Opens COM n exclusively. ST_NO_PORT, with `out` left unchanged and com_last_error saying
// why, when its port-map entry is not a usable link (never falling back to another device),
// the device is absent, not a terminal or not accessible, or the port is held: by this
// process (another link to the same device), by a program that set exclusive mode
// (TIOCEXCL, refused also for root), holds a flock on it, or owns a live UUCP lock file
// (LCK..<device name> in the lock folder), or something other than a file is in that lock
// file's place. A lock file whose process is gone, whose content names none, or that names
// this process while none of its links holds it, is removed and taken over. On success the
// link holds a flock, its lock file when the lock folder takes one (it may be unwritable,
// read-only or full), and exclusive mode; com_close gives back exactly those. What cannot be
// noticed: a program that opened the port with none of these.
std::int32_t com_open(std::int32_t n, ComHandle* out);

// Why the last failing com_ call of this thread failed, in system terms, for example
// "/dev/ttyUSB0: Permission denied (join the group dialout)" or "/dev/ttyUSB0 is in use by
// process 4242 (lock file /var/lock/LCK..ttyUSB0)"; empty after a success of com_open.
// com_last_errno gives the errno behind it, 0 when no system call failed (a lock held by
// another program, say). Each thread has its own.
std::string com_last_error();
int com_last_errno();

// The process that held the port when the last com_open of this thread found it in use:
// the live owner of its lock file, or one with the device open that this user may see.
// pid 0 when none was found (or the open did not fail for that).
struct ComHolder {
    std::int32_t pid = 0;
    std::string name;
};
ComHolder com_last_holder();
// A short note on the last com_open of this thread that failed for a reason an operator
// can act on, to follow "Open port fail": "held by minicom, pid 4242", "in use by another
// program", "permission denied: add your user to the dialout group", "already open in this
// program", "/var/lock/LCK..ttyUSB0 is a symbolic link, not a lock file". Empty after a
// success, and for other failures (com_last_error has those).
std::string com_last_open_note();

// Baud rate, parity (0 none, 1 odd, 2 even, 3 mark, 4 space; low byte used), data bits,
// two stop bits when non-zero, flow control (FLOW_*; other values mean none). The line is
// raw, and DTR and RTS are raised where the port has them. ST_BAD_ARG for a null handle,
// ST_IO when the port refuses a setting.
std::int32_t com_setup(ComHandle link, std::uint32_t baud, std::uint32_t parity,
                       std::uint8_t databits, std::uint8_t two_stop, std::uint32_t flow);

// Accepts the five time-out values (read interval, read total constant, read total
// multiplier, write total constant, write total multiplier). Clients pass all zero: the
// port then applies no time-outs of its own and the bounded reads below are the only
// bound. Non-zero values are accepted and have no further effect here. ST_IO for a link
// that is not open.
std::int32_t com_set_timeouts(ComHandle link, std::uint32_t read_interval,
                              std::uint32_t read_total_const, std::uint32_t read_total_mult,
                              std::uint32_t write_total_const, std::uint32_t write_total_mult);

// Discards buffered input (PURGE_RXCLEAR or PURGE_RXABORT: the driver's queue and the bytes
// the link has taken from it but not handed out) and/or output (PURGE_TXCLEAR or
// PURGE_TXABORT). ST_IO when refused.
std::int32_t com_purge(ComHandle link, std::uint32_t flags);

// Waits up to 5000 ms for data and returns the bytes read (1..count). ST_IO on time-out,
// hang-up (readable, then no bytes: the device has gone) or failure; ST_BAD_ARG for a null
// handle. Nothing stays pending after a failure, so a byte that arrives later is read by
// the next call. With count > 1 the call gathers bytes until count or the deadline; bytes
// already taken are returned. The link takes whatever the driver holds in one system call
// and hands it out over the following reads, so reading a reply byte by byte is cheap; the
// bytes it holds behave exactly as if they were still queued in the driver.
std::int32_t com_read_long(ComHandle link, std::uint8_t* buf, std::uint32_t count);

// As com_read_long with a 2000 ms bound: ST_TIMEOUT when nothing arrived in time, ST_IO for
// any other failure.
std::int32_t com_read_short(ComHandle link, std::uint8_t* buf, std::uint32_t count);

// Writes all count bytes, waiting as long as the port needs. Returns count, or ST_IO.
std::int32_t com_write(ComHandle link, const std::uint8_t* buf, std::uint32_t count);

// ST_IO if closing fails; the handle is invalid afterwards either way.
std::int32_t com_close(ComHandle link);

// For a program about to end while its workers may still use their links: gives back the
// claims of every open link that would outlive the process (exclusive mode, which stays
// with a terminal that another process keeps open, and the lock file) and its flock. The
// descriptors stay open until the process ends, so a worker still using one meets no
// reused descriptor; every later com_open fails, and a later com_close gives back nothing
// more. Any thread; waits for opens and closes under way. On Windows a port's claim is its
// handle, which ends with the process.
void com_release_all();

// --- Port map ----------------------------------------------------------------------------
// COM n is the entry "comN" of the port-map directory: a symbolic link to the device.
// The directory is $ZBCONFIG_PORTS, or $HOME/.config/zbconfig/ports. Only a number without
// any entry is /dev/ttyS<n-1>; an entry that is not a usable link makes the port unusable.
// Looked up afresh on every call.
// On Windows COM numbers are the system's own: COM n is \\.\COMn, the port map is the
// registry's serial device map (HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM) and
// com_mapped_ports gives the kernel device names it lists; whether a port exists shows when
// it is opened.

std::string com_port_map_dir();

// Where COM n leads. `problem` is empty when `path` may be opened; otherwise it says why
// not (an entry that is not a symbolic link, a link that leads nowhere or to something that
// is not a character device, an absent /dev/ttyS<n-1>), and `error` holds the errno behind
// it, 0 when no system call failed.
struct ComPortLookup {
    std::string path;
    std::string problem;
    int error = 0;
};
ComPortLookup com_lookup_port(std::int32_t n);

// The path COM n names: the target of its link, the entry itself when that is not a link,
// /dev/ttyS<n-1> when there is no entry.
std::string com_device_path(std::int32_t n);
// The port's stable identity, for the records: which adapter or slot it is, whatever COM
// number or device name it has today.
std::string com_port_id(std::int32_t n);
// The COM numbers that the port map holds, ascending, with the paths their links name.
std::vector<std::pair<std::int32_t, std::string>> com_mapped_ports();

}  // namespace zb
