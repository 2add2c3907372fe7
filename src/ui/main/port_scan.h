// The add-port dialog's scan: which serial ports this machine has, by COM number.
//
// COM n is the entry "comN" of the port map (serial_link.h), a symbolic link to a device.
// The port map is this platform's COM database: the scan counts the entries whose device
// still exists, and gives every serial device the system lists but the map lacks the lowest
// free number, writing its entry (to the device's /dev/serial/by-id name when it has one),
// so that an adapter keeps its number across runs and reboots. A legacy ttySn slot counts
// only when a UART answers behind it, and takes COM n+1 when that number is free. What the
// scan saw is then merged into a port table, whose listed rows it never changes.
//
// Plain functions; run them from one thread at a time (they read and write the port-map
// directory, which is the only shared state).
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "port_table.h"

namespace zb::ui {

// A serial device as the system lists it.
struct SystemPort {
    std::string name;         // "ttyUSB0"
    std::string path;         // "/dev/ttyUSB0"
    std::string stable_path;  // the name to link to; the path when empty
    QString description;      // shown after the port's caption; may be empty
};
using SystemPortLister = std::function<std::vector<SystemPort>()>;

// QSerialPortInfo's ports, ttyS slots without a UART left out.
std::vector<SystemPort> ListSystemSerialPorts();

// Whether the ttyS slot described by `sysfs_dir` (/sys/class/tty/ttySn) has a UART: its
// "type" reads a port type other than 0 (unknown); without a type file, it has a driver.
bool HasRealUart(const std::filesystem::path& sysfs_dir);
// The first entry of `by_id_dir` that resolves to `device`, or `device` itself.
std::string StablePath(const std::string& device, const std::filesystem::path& by_id_dir);

// Number assignment, without the filesystem. A map entry names the device its link
// resolves to (canonical), or "" when that device is gone; its number stays taken either
// way. Devices whose canonical path some entry already names get nothing.
struct MapEntry {
    std::int32_t com = 0;
    std::string device;
};
struct NewDevice {
    std::string name;    // "ttyUSB0", "ttyS1"
    std::string device;  // canonical path
};
struct Assignment {
    std::int32_t com = 0;
    std::size_t device = 0;  // index into the devices
};
// ttySn first (COM n+1 when free), then the rest by name; each the lowest free number of
// 1..1024. A device left without a number when all are taken is not assigned.
std::vector<Assignment> AssignComNumbers(std::span<const MapEntry> map,
                                         std::span<const NewDevice> devices);

struct MachinePort {
    std::int32_t com = 0;
    QString description;
};
// The ports present now, ascending: port-map entries whose device exists, and the system's
// devices, which get entries written (the directory is created if missing) when they have
// none. A device whose entry cannot be written is left out.
std::vector<MachinePort> ScanMachinePorts(std::span<const SystemPort> system);

// port_present: one mark per COM number 1..1024, -1 until the scan sees the port.
using PortPresence = std::array<std::int16_t, zb::kPortTableSize>;
PortPresence NoPortsSeen();
// Numbers outside 1..1024 are ignored.
void MarkSeen(PortPresence& present, std::int64_t com);
// Unseen ports in state 0 go to -1; seen ports in state -1 go to 0; state 1 stays.
void MergePresence(const PortPresence& present, zb::PortTable& rows);

}  // namespace zb::ui
