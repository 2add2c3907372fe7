#include "port_scan.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "serial_link.h"

namespace zb::ui {
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

constexpr std::int32_t kMaxCom = static_cast<std::int32_t>(zb::kPortTableSize);

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

std::vector<SystemPort> ListSystemSerialPorts() {
    std::vector<SystemPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SystemPort port;
        port.name = info.portName().toStdString();
        port.path = info.systemLocation().toStdString();
        if (port.name.rfind("ttyS", 0) == 0 && !HasRealUart(fs::path("/sys/class/tty") / port.name))
            continue;
        port.stable_path = StablePath(port.path, "/dev/serial/by-id");
        QStringList words;
        if (!info.description().isEmpty()) words.append(info.description());
        if (!info.manufacturer().isEmpty() && info.manufacturer() != info.description())
            words.append(info.manufacturer());
        port.description = words.join(QStringLiteral(", "));
        ports.push_back(std::move(port));
    }
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
        if (prefix == "ttyS" && number >= 0 && number < kMaxCom &&
            !taken.contains(static_cast<std::int32_t>(number) + 1))
            com = static_cast<std::int32_t>(number) + 1;
        for (std::int32_t n = 1; com == 0 && n <= kMaxCom; ++n)
            if (!taken.contains(n)) com = n;
        if (com == 0) continue;
        taken.insert(com);
        out.push_back({com, i});
    }
    return out;
}

std::vector<MachinePort> ScanMachinePorts(std::span<const SystemPort> system) {
    std::vector<MapEntry> map;
    for (const auto& [com, path] : zb::com_mapped_ports()) map.push_back({com, Canonical(path)});

    std::vector<NewDevice> devices;
    std::map<std::string, QString> descriptions;
    for (const SystemPort& port : system) {
        devices.push_back({port.name, Canonical(port.path)});
        if (!devices.back().device.empty())
            descriptions.emplace(devices.back().device, port.description);
    }

    const std::vector<Assignment> assigned = AssignComNumbers(map, devices);
    const fs::path dir = zb::com_port_map_dir();
    std::error_code ec;
    if (!assigned.empty()) fs::create_directories(dir, ec);
    for (const Assignment& a : assigned) {
        const SystemPort& port = system[a.device];
        const std::string target = port.stable_path.empty() ? port.path : port.stable_path;
        // Fails when the entry appeared meanwhile; the next scan sees it then.
        fs::create_symlink(target, dir / ("com" + std::to_string(a.com)), ec);
        if (!ec) map.push_back({a.com, devices[a.device].device});
    }

    std::vector<MachinePort> present;
    for (const MapEntry& e : map) {
        if (e.device.empty()) continue;
        const auto it = descriptions.find(e.device);
        present.push_back({e.com, it == descriptions.end() ? QString() : it->second});
    }
    std::sort(present.begin(), present.end(),
              [](const MachinePort& a, const MachinePort& b) { return a.com < b.com; });
    return present;
}

PortPresence NoPortsSeen() {
    PortPresence present;
    present.fill(-1);
    return present;
}

void MarkSeen(PortPresence& present, std::int64_t com) {
    if (const auto k = zb::RowOfCom(com)) present[*k] = 0;
}

void MergePresence(const PortPresence& present, zb::PortTable& rows) {
    for (std::size_t k = 0; k < rows.size(); ++k) {
        std::int16_t& state = rows[k].port_state;
        if (present[k] == -1 && state == 0) {
            state = -1;
        } else if (present[k] == 0 && state == -1) {
            state = 0;
        }
    }
}

}  // namespace zb::ui
