#include "jobs/platform/port_list.h"

#include <string>
#include <utility>

#include "protocol/serial_link.h"

namespace zb {

// The system numbers its ports itself; the scan reads each number back from the name.
std::vector<SystemPort> ListSystemSerialPorts() {
    std::vector<SystemPort> ports;
    for (const auto& [com, device] : com_mapped_ports()) {
        SystemPort port;
        port.name = "COM" + std::to_string(com);
        port.path = com_device_path(com);
        ports.push_back(std::move(port));
    }
    return ports;
}

}  // namespace zb
