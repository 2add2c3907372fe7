// The machine's serial ports for the window's add-port scan, listed and numbered as
// `zbctl ports --scan` lists and numbers them: one lister of the system's devices for both
// programs. SystemPort, SystemPortLister, MachinePort and kMaxComNumber are
// port_discovery.h's. ListSystemSerialPorts is the platform's (port_list_posix.cpp,
// port_list_win32.cpp).
//
// Plain functions; see ScanMachinePorts for processes that scan at once.
#pragma once

#include <vector>

#include "protocol/port_discovery.h"

namespace zb {

// The system's serial devices: on Linux those of sysfs, ttyS slots without a UART left out,
// with their /dev/serial/by-id names and USB descriptions (ListSysfsSerialPorts); on Windows
// the COMn ports of the registry's serial device map, with \\.\COMn as their paths.
std::vector<SystemPort> ListSystemSerialPorts();

// The ports present now, ascending by COM, from the devices `list` gives (none without a
// lister): on Linux the port map's entries whose device exists, new devices getting entries
// written (ScanMachinePorts) and marked `is_new`, for the caller to tell the user that the
// port map has grown; on Windows no port is new.
inline std::vector<MachinePort> ScanPorts(const SystemPortLister& list) {
    return ScanMachinePorts(list ? list() : std::vector<SystemPort>());
}

}  // namespace zb
