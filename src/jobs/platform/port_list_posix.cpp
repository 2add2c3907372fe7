#include "jobs/platform/port_list.h"

namespace zb {

std::vector<SystemPort> ListSystemSerialPorts() {
    return ListSysfsSerialPorts();
}

}  // namespace zb
