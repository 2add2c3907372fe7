#include <gtest/gtest.h>

#include "port_map.h"

namespace zbtest {

PortMap::PortMap() = default;

PortMap::~PortMap() = default;

void PortMap::link(int com, const std::string&) const {
    ADD_FAILURE() << "COM" << com << ": Windows has no port map to link into";
}

// The system has no COM n unless the modem host serves it: nothing to do.
void PortMap::link_missing(int) const {}

}  // namespace zbtest
