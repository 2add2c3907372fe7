#include "jobs/port_watch.h"
#include "protocol/port_discovery.h"
#include "protocol/serial_link.h"

namespace zb {

std::vector<WatchedPort> PresentPorts() {
    std::vector<WatchedPort> ports;
    // The entry's own target, not the device it resolves to: that is the name that stays.
    for (const MachinePort& port : ScanMachinePorts(ListSysfsSerialPorts()))
        ports.push_back({port.com, com_device_path(port.com)});
    return ports;
}

}  // namespace zb
