// Port discovery: which serial ports this machine has, by COM number.
//
// COM n is the entry "comN" of the port map (serial_link.h), a symbolic link to a device.
// The port map is this platform's COM database: a scan counts the entries whose device still
// exists, and gives every serial device the system lists but the map lacks the lowest free
// number, writing its entry (to the device's /dev/serial/by-id name when it has one), so
// that an adapter keeps its number across runs and reboots. The ports given a number so are
// marked new, for the programs to tell the user that their port map has grown. A legacy
// ttySn slot counts only when a UART answers behind it, and takes COM n+1 when that number
// is free.
//
// On Windows the system numbers its ports itself: a scan reads the numbers from the names
// the lister gives, and only ScanMachinePorts and ComNumberOfName are built there.
//
// The system's devices come from a lister, so that tests can feed their own; the window and
// the command-line tool list them alike (ListSysfsSerialPorts on Linux).
//
// Plain functions without state of their own. The port-map directory is shared with other
// processes: two scans running at once never give one device two numbers, though the one
// that loses a race for a number may leave a device out until its next scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zb {

// The highest COM number a scan hands out.
inline constexpr std::int32_t kMaxComNumber = 1024;

// A serial device as the system lists it.
struct SystemPort {
    std::string name;         // "ttyUSB0"
    std::string path;         // "/dev/ttyUSB0"
    std::string stable_path;  // the name to link to; the path when empty
    std::string description;  // e.g. the adapter's product name; may be empty (UTF-8)
};
using SystemPortLister = std::function<std::vector<SystemPort>()>;

// The machine's serial devices from sysfs (/sys/class/tty/*/device), ttyS slots without a
// UART left out, with their /dev/serial/by-id names as stable paths and a description from
// the USB product/manufacturer attributes where there are any. Ascending by name. Whether a
// ttyS slot has a UART is asked of its driver (TIOCGSERIAL, the device opened for a moment
// without waiting for a carrier, non-exclusively); HasRealUart decides when the device
// cannot be opened or does not answer.
std::vector<SystemPort> ListSysfsSerialPorts();
// The same over other roots: `class_tty` for /sys/class/tty, `dev_dir` for /dev and
// `by_id_dir` for /dev/serial/by-id.
std::vector<SystemPort> ListSysfsSerialPorts(const std::filesystem::path& class_tty,
                                             const std::filesystem::path& dev_dir,
                                             const std::filesystem::path& by_id_dir);

// Whether the ttyS slot described by `sysfs_dir` (/sys/class/tty/ttySn) has a UART: its
// "type" reads a port type other than 0 (unknown); without a type file, it has a driver.
bool HasRealUart(const std::filesystem::path& sysfs_dir);
// The first entry of `by_id_dir` (by name) that resolves to `device`, or `device` itself.
std::string StablePath(const std::string& device, const std::filesystem::path& by_id_dir);
// A port's description from its product and manufacturer names: "product, manufacturer",
// either alone when the other is empty, the manufacturer left out when it repeats the product.
std::string DescribePort(const std::string& product, const std::string& manufacturer);

// Number assignment, without the filesystem. A map entry names the device its link
// resolves to (canonical), or "" when that device is gone; its number stays taken either
// way. Devices whose canonical path some entry already names, or whose path is "", get
// nothing.
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
// 1..kMaxComNumber. A device left without a number when all are taken is not assigned.
std::vector<Assignment> AssignComNumbers(std::span<const MapEntry> map,
                                         std::span<const NewDevice> devices);

struct MachinePort {
    std::int32_t com = 0;
    std::string path;         // the device its entry resolves to (canonical)
    std::string description;  // the system port's, when the system lists the device
    bool is_new = false;      // this scan gave it its number and wrote its entry
};
// The ports present now, ascending by COM: port-map entries whose device exists (numbers
// above kMaxComNumber included), and the system's devices, which get entries written (the
// directory is created if missing) when they have none. A number held by something that is
// not a link, or by a link written meanwhile, is passed over. A device whose entry cannot be
// written is left out.
// On Windows, whose COM numbers are the system's own, they are the system's ports named
// "COMn" (any case), with \\.\COMn as their path; nothing is written and no port is new.
std::vector<MachinePort> ScanMachinePorts(std::span<const SystemPort> system);

// The number of a Windows port name: "COM12" (any case) is 12; 0 for anything else.
std::int32_t ComNumberOfName(std::string_view name);

}  // namespace zb
