// Port discovery on Windows: the system numbers its ports itself, so a scan reads COM n from
// the name the lister gives ("COM12") and writes nothing. There are no ttyS slots and no
// /dev/serial/by-id names.
#include <algorithm>

#include "protocol/port_discovery.h"
#include "protocol/serial_link.h"

namespace zb {

bool HasRealUart(const std::filesystem::path&) {
    return false;
}

std::string StablePath(const std::string& device, const std::filesystem::path&) {
    return device;
}

std::vector<MachinePort> ScanMachinePorts(std::span<const SystemPort> system) {
    std::vector<MachinePort> present;
    for (const SystemPort& port : system) {
        const std::int32_t com = ComNumberOfName(port.name);
        if (com > 0) present.push_back({com, com_device_path(com), port.description});
    }
    // A port listed twice keeps its first description.
    std::stable_sort(present.begin(), present.end(),
                     [](const MachinePort& a, const MachinePort& b) { return a.com < b.com; });
    present.erase(
        std::unique(present.begin(), present.end(),
                    [](const MachinePort& a, const MachinePort& b) { return a.com == b.com; }),
        present.end());
    return present;
}

}  // namespace zb
