#include "jobs/platform/port_watch.h"
#include "protocol/serial_link.h"

namespace zb {

std::vector<WatchedPort> PresentPorts(PortLookCache* /*cache*/) {
    std::vector<WatchedPort> ports;
    for (auto& [com, path] : com_mapped_ports()) ports.push_back({com, std::move(path), false});
    return ports;
}

}  // namespace zb
