#include "jobs/platform/port_watch.h"

#include <algorithm>

namespace zb {
namespace {

bool Before(const WatchedPort& a, const WatchedPort& b) {
    return a.com != b.com ? a.com < b.com : a.path < b.path;
}

std::vector<WatchedPort> Sorted(std::span<const WatchedPort> ports) {
    std::vector<WatchedPort> out(ports.begin(), ports.end());
    std::sort(out.begin(), out.end(), Before);
    return out;
}

}  // namespace

PortChanges DiffPorts(std::span<const WatchedPort> before, std::span<const WatchedPort> now) {
    const std::vector<WatchedPort> old_ports = Sorted(before);
    const std::vector<WatchedPort> new_ports = Sorted(now);
    PortChanges changes;
    std::set_difference(new_ports.begin(), new_ports.end(), old_ports.begin(), old_ports.end(),
                        std::back_inserter(changes.appeared), Before);
    std::set_difference(old_ports.begin(), old_ports.end(), new_ports.begin(), new_ports.end(),
                        std::back_inserter(changes.vanished), Before);
    return changes;
}

bool StillPresent(const WatchedPort& port) {
    const std::vector<WatchedPort> present = PresentPorts();
    return std::find(present.begin(), present.end(), port) != present.end();
}

}  // namespace zb
