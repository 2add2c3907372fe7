// The add-port dialog's scan: the window's lister of the system's serial devices, and how
// what a scan saw merges into a port table, whose listed rows it never changes. Numbering
// and the port map are port_discovery.h's.
//
// Plain functions; run them from one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "jobs/model/port_table.h"
#include "protocol/port_discovery.h"

namespace zb::ui {

using SystemPort = zb::SystemPort;
using SystemPortLister = zb::SystemPortLister;

// The system's serial ports: QSerialPortInfo's, ttyS slots without a UART left out; on
// Windows the COMn ports of the registry's serial device map.
std::vector<SystemPort> ListSystemSerialPorts();

// port_present: one mark per COM number 1..1024, -1 until the scan sees the port.
using PortPresence = std::array<std::int16_t, zb::kPortTableSize>;
PortPresence NoPortsSeen();
// Numbers outside 1..1024 are ignored.
void MarkSeen(PortPresence& present, std::int64_t com);
// Unseen ports in state 0 go to -1; seen ports in state -1 go to 0; state 1 stays.
void MergePresence(const PortPresence& present, zb::PortTable& rows);

}  // namespace zb::ui
