#include <filesystem>
#include <system_error>

#include "jobs/platform/port_watch.h"
#include "protocol/port_discovery.h"
#include "protocol/serial_link.h"

namespace zb {
namespace {

// The names in the folders where a serial device shows as it comes and goes.
std::string DeviceNames() {
    std::string names;
    for (const char* dir : {"/sys/class/tty", "/dev/serial/by-id"}) {
        std::error_code ec;
        for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end;
             it.increment(ec))
            names += it->path().filename().string() + '/';
        names += '\n';
    }
    return names;
}

}  // namespace

std::vector<WatchedPort> PresentPorts(PortLookCache* cache) {
    std::vector<SystemPort> listed;
    const std::vector<SystemPort>* system = &listed;
    if (cache == nullptr) {
        listed = ListSysfsSerialPorts();
    } else {
        std::string names = DeviceNames();
        if (!cache->listed || names != cache->names) {
            cache->system = ListSysfsSerialPorts();
            cache->names = std::move(names);
            cache->listed = true;
        }
        system = &cache->system;
    }
    std::vector<WatchedPort> ports;
    // The entry's own target, not the device it resolves to: that is the name that stays.
    for (const MachinePort& port : ScanMachinePorts(*system))
        ports.push_back({port.com, com_device_path(port.com), port.is_new});
    return ports;
}

}  // namespace zb
