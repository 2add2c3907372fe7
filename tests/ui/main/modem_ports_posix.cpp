#include "ui_test_support.h"

namespace zbtest {

std::vector<zb::SystemPort> ListedModemPorts(
    const std::vector<std::unique_ptr<zbsim::Simulator>>&) {
    return {};
}

}  // namespace zbtest
