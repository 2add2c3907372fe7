#include <string>

#include "ui_test_support.h"

namespace zbtest {

std::vector<zb::SystemPort> ListedModemPorts(
    const std::vector<std::unique_ptr<zbsim::Simulator>>& sims) {
    std::vector<zb::SystemPort> ports;
    for (const auto& sim : sims) {
        for (int com = sim->first_com(); com < sim->first_com() + sim->count(); ++com) {
            zb::SystemPort port;
            port.name = "COM" + std::to_string(com);
            port.path = sim->device_path(com);
            ports.push_back(std::move(port));
        }
    }
    return ports;
}

}  // namespace zbtest
