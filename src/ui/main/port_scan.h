// The add-port dialog's scan: how what a scan saw merges into a port table, whose listed
// rows it never changes. The system's serial devices, their numbering and the port map are
// the jobs layer's (port_list.h), the same as zbctl's.
//
// Plain functions; run them from one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "jobs/model/port_table.h"
#include "jobs/platform/port_list.h"

namespace zb::ui {

using SystemPort = zb::SystemPort;
using SystemPortLister = zb::SystemPortLister;
using zb::ListSystemSerialPorts;

// port_present: one mark per COM number 1..1024, -1 until the scan sees the port.
using PortPresence = std::array<std::int16_t, zb::kPortTableSize>;
PortPresence NoPortsSeen();
// Numbers outside 1..1024 are ignored.
void MarkSeen(PortPresence& present, std::int64_t com);
// Unseen ports in state 0 go to -1; seen ports in state -1 go to 0; state 1 stays.
void MergePresence(const PortPresence& present, zb::PortTable& rows);

}  // namespace zb::ui
