#include "protocol/port_discovery.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#if __has_include(<linux/serial.h>)
#include <linux/serial.h>
#endif

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <tuple>
#include <utility>

#include "protocol/serial_link.h"

namespace zb {
namespace {

namespace fs = std::filesystem;

std::string Canonical(const fs::path& path) {
    std::error_code ec;
    fs::path resolved = fs::canonical(path, ec);
    return ec ? std::string() : resolved.string();
}

// "ttyUSB12" -> {"ttyUSB", 12}; a name without trailing digits gets -1.
std::pair<std::string, long> SplitName(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    if (digits == name.size() || name.size() - digits > 9) return {name, -1};
    return {name.substr(0, digits), std::stol(name.substr(digits))};
}

// The first line of a sysfs attribute, without its newline; "" when there is none.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    return line;
}

// The tty's device sits below its USB device (an interface, or a usb-serial port below
// that); the USB device is the nearest ancestor with an idVendor. Walking further up would
// reach the host controller's root hub, whose product is the controller's name.
std::string UsbDescription(const fs::path& device_dir) {
    std::error_code ec;
    for (fs::path dir = device_dir; dir.has_relative_path(); dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec))
            return DescribePort(ReadAttribute(dir / "product"),
                                ReadAttribute(dir / "manufacturer"));
    }
    return {};
}

// Whether the serial driver has a UART behind `device`; nothing when the device cannot be
// opened (no permission, held exclusively) or is no serial port. Non-blocking, so that the
// open does not wait for a carrier; not exclusive, and closed at once.
std::optional<bool> DriverSeesUart(const std::string& device) {
#ifdef TIOCGSERIAL
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    serial_struct info{};
    const int asked = ::ioctl(fd, TIOCGSERIAL, &info);
    ::close(fd);
    if (asked != 0) return std::nullopt;
    return info.type != PORT_UNKNOWN;
#else
    (void)device;
    return std::nullopt;
#endif
}

}  // namespace

bool HasRealUart(const fs::path& sysfs_dir) {
    std::ifstream type(sysfs_dir / "type");
    if (type) {
        long value = 0;
        return (type >> value) && value != 0;
    }
    std::error_code ec;
    return fs::exists(sysfs_dir / "device" / "driver", ec);
}

std::string StablePath(const std::string& device, const fs::path& by_id_dir) {
    const std::string target = Canonical(device);
    if (target.empty()) return device;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(by_id_dir, ec), end; !ec && it != end; it.increment(ec))
        if (Canonical(it->path()) == target) names.push_back(it->path().string());
    if (names.empty()) return device;
    return *std::min_element(names.begin(), names.end());
}

std::vector<SystemPort> ListSysfsSerialPorts() {
    return ListSysfsSerialPorts("/sys/class/tty", "/dev", "/dev/serial/by-id");
}

std::vector<SystemPort> ListSysfsSerialPorts(const fs::path& class_tty, const fs::path& dev_dir,
                                             const fs::path& by_id_dir) {
    std::vector<SystemPort> ports;
    std::error_code ec;
    for (fs::directory_iterator it(class_tty, ec), end; !ec && it != end; it.increment(ec)) {
        // Virtual terminals and the console have no device behind them.
        const std::string device_dir = Canonical(it->path() / "device");
        if (device_dir.empty()) continue;
        SystemPort port;
        port.name = it->path().filename().string();
        // sysfs spells a '/' of a device node's name as '!'.
        std::string node = port.name;
        std::replace(node.begin(), node.end(), '!', '/');
        port.path = (dev_dir / node).string();
        if (port.name.starts_with("ttyS")) {
            const std::optional<bool> uart = DriverSeesUart(port.path);
            if (!(uart ? *uart : HasRealUart(it->path()))) continue;
        }
        port.stable_path = StablePath(port.path, by_id_dir);
        port.description = UsbDescription(device_dir);
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(),
              [](const SystemPort& a, const SystemPort& b) { return a.name < b.name; });
    return ports;
}

std::vector<Assignment> AssignComNumbers(std::span<const MapEntry> map,
                                         std::span<const NewDevice> devices) {
    std::set<std::int32_t> taken;
    std::set<std::string> known;
    for (const MapEntry& e : map) {
        taken.insert(e.com);
        if (!e.device.empty()) known.insert(e.device);
    }

    std::vector<std::size_t> order(devices.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto key = [&](std::size_t i) {
        auto [prefix, number] = SplitName(devices[i].name);
        return std::make_tuple(prefix != "ttyS", prefix, number, devices[i].name);
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return key(a) < key(b); });

    std::vector<Assignment> out;
    for (std::size_t i : order) {
        const NewDevice& dev = devices[i];
        if (dev.device.empty() || !known.insert(dev.device).second) continue;
        std::int32_t com = 0;
        const auto [prefix, number] = SplitName(dev.name);
        if (prefix == "ttyS" && number >= 0 && number < kMaxComNumber &&
            !taken.contains(static_cast<std::int32_t>(number) + 1))
            com = static_cast<std::int32_t>(number) + 1;
        for (std::int32_t n = 1; com == 0 && n <= kMaxComNumber; ++n)
            if (!taken.contains(n)) com = n;
        if (com == 0) continue;
        taken.insert(com);
        out.push_back({com, i});
    }
    return out;
}

std::vector<MachinePort> ScanMachinePorts(std::span<const SystemPort> system) {
    std::vector<MapEntry> map;
    for (const auto& [com, path] : com_mapped_ports()) map.push_back({com, Canonical(path)});

    std::vector<NewDevice> devices;
    std::map<std::string, std::string> descriptions;
    for (const SystemPort& port : system) {
        devices.push_back({port.name, Canonical(port.path)});
        if (!devices.back().device.empty())
            descriptions.emplace(devices.back().device, port.description);
    }

    std::set<std::int32_t> written;
    const fs::path dir = com_port_map_dir();
    // A pass ends at the first number found occupied; that number is then taken, so the
    // passes end too.
    for (bool again = true; again;) {
        again = false;
        const std::vector<Assignment> assigned = AssignComNumbers(map, devices);
        std::error_code ec;
        if (!assigned.empty()) fs::create_directories(dir, ec);
        for (const Assignment& a : assigned) {
            const SystemPort& port = system[a.device];
            const std::string target = port.stable_path.empty() ? port.path : port.stable_path;
            const fs::path entry = dir / ("com" + std::to_string(a.com));
            fs::create_symlink(target, entry, ec);
            if (!ec) {
                map.push_back({a.com, devices[a.device].device});
                written.insert(a.com);
            } else if (ec == std::errc::file_exists) {
                // A file that is not a link holds the number, or another scan has just
                // linked it, perhaps to one of these devices: take the entry as it stands
                // and assign the rest afresh, so that no device gets a second number.
                std::error_code link_ec;
                map.push_back({a.com, fs::is_symlink(entry, link_ec) ? Canonical(entry) : ""});
                again = true;
                break;
            }
        }
    }

    std::vector<MachinePort> present;
    for (const MapEntry& e : map) {
        if (e.device.empty()) continue;
        const auto it = descriptions.find(e.device);
        present.push_back(
            {e.com, e.device, it == descriptions.end() ? "" : it->second, written.contains(e.com)});
    }
    std::sort(present.begin(), present.end(),
              [](const MachinePort& a, const MachinePort& b) { return a.com < b.com; });
    return present;
}

}  // namespace zb
