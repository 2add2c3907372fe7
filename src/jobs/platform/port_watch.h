// The serial ports a configuring station watches: which are present now, and what changed
// between two looks. zbctl watch looks every few tens of milliseconds and gives each port
// that appears a job of its own.
//
// A port is its COM number and the path its number leads to: on Linux the target of its
// port-map entry (an adapter's /dev/serial/by-id name, which stays the same when the same
// adapter is plugged in again), on Windows the system's \\.\COMn. PresentPorts is the
// platform's (port_watch_posix.cpp, port_watch_win32.cpp); DiffPorts is pure. Any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "protocol/port_discovery.h"

namespace zb {

struct WatchedPort {
    std::int32_t com = 0;
    std::string path;
    bool is_new = false;  // this look gave it its number, writing its port-map entry
    bool operator==(const WatchedPort& other) const {
        return com == other.com && path == other.path;
    }
};

struct PortChanges {
    std::vector<WatchedPort> appeared;  // ascending by COM
    std::vector<WatchedPort> vanished;  // ascending by COM
};

// What changed from `before` to `now`. A number whose path changed is a port that vanished
// and another that appeared: another adapter has taken the number. The lists need no order.
PortChanges DiffPorts(std::span<const WatchedPort> before, std::span<const WatchedPort> now);

// What one watcher keeps between its looks: listing the system's serial devices costs a
// few hundred system calls, so on Linux they are listed again only when the names in
// /sys/class/tty or /dev/serial/by-id have changed. Unused on Windows.
struct PortLookCache {
    bool listed = false;
    std::string names;
    std::vector<SystemPort> system;
};

// The ports present now, ascending by COM, numbered as `zbctl ports --scan` numbers them: on
// Linux the port map's entries whose device exists and the serial devices of sysfs, which
// get entries written when they have none; on Windows the registry's serial device map.
// With a cache, the system's devices may come from it.
std::vector<WatchedPort> PresentPorts(PortLookCache* cache = nullptr);

// Whether the port is among PresentPorts: a job that failed on a port pulled out may end
// before the next look has seen it go.
bool StillPresent(const WatchedPort& port);

}  // namespace zb
