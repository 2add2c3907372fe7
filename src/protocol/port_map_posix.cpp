#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "protocol/port_discovery.h"
#include "protocol/serial_link.h"

namespace zb {

namespace fs = std::filesystem;

std::string com_port_map_dir() {
    if (const char* dir = std::getenv("ZBCONFIG_PORTS"); dir != nullptr && *dir != '\0') return dir;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/zbconfig/ports";
}

namespace {

fs::path entry_of(std::int32_t n) {
    return fs::path(com_port_map_dir()) / ("com" + std::to_string(n));
}

// What the entry names, whether or not that exists. `is_link` tells a link from any other
// kind of entry; false with an empty result means there is no entry.
fs::path entry_target(const fs::path& entry, bool* is_link, std::error_code& ec) {
    *is_link = false;
    const fs::file_status st = fs::symlink_status(entry, ec);
    if (ec || !fs::exists(st)) return {};
    if (!fs::is_symlink(st)) return entry;
    *is_link = true;
    const fs::path target = fs::read_symlink(entry, ec);
    if (ec) return {};
    return target.is_relative() ? entry.parent_path() / target : target;
}

}  // namespace

ComPortLookup com_lookup_port(std::int32_t n) {
    ComPortLookup out;
    const fs::path entry = entry_of(n);
    const std::string where = "port map entry " + entry.string();
    std::error_code ec;
    bool is_link = false;
    const fs::path target = entry_target(entry, &is_link, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        out.path = entry.string();
        out.problem = where + ": " + ec.message();
        out.error = ec.value();
        return out;
    }
    if (target.empty()) {
        out.path = "/dev/ttyS" + std::to_string(n - 1);
    } else if (!is_link) {
        out.path = target.string();
        out.problem = where + " is not a symbolic link to a device";
        return out;
    } else {
        out.path = target.string();
    }

    const fs::file_status st = fs::status(out.path, ec);
    if (ec || !fs::exists(st)) {
        const int err = ec ? ec.value() : ENOENT;
        if (!is_link)
            out.problem = out.path + " does not exist (COM" + std::to_string(n) +
                          " has no entry in the port map " + com_port_map_dir() + ")";
        else if (err == ENOENT)
            out.problem = where + " leads to " + out.path + ", which does not exist";
        else
            out.problem = where + " leads to " + out.path + ": " + ec.message();
        out.error = err;
    } else if (!fs::is_character_file(st)) {
        out.problem = (is_link ? where + " leads to " + out.path + ", which" : out.path) +
                      " is not a serial port";
    }
    return out;
}

std::string com_device_path(std::int32_t n) {
    std::error_code ec;
    bool is_link = false;
    const fs::path target = entry_target(entry_of(n), &is_link, ec);
    if (!target.empty()) return target.string();
    // An entry whose link cannot be read still must not lead to another port.
    if (ec && ec != std::errc::no_such_file_or_directory) return entry_of(n).string();
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::string com_port_id(std::int32_t n) {
    // The adapter's by-id name outlives a renumbered /dev/ttyUSB*; an entry that links to
    // the ttyUSB name gets the by-id name of the same device, when udev made one.
    constexpr const char* kById = "/dev/serial/by-id";
    std::error_code ec;
    bool is_link = false;
    const fs::path target = entry_target(entry_of(n), &is_link, ec);
    if (!is_link || target.empty()) return com_device_path(n);
    std::string device = target.lexically_normal().string();
    if (device.rfind(std::string(kById) + "/", 0) == 0) return device;
    return StablePath(device, kById);
}

std::vector<std::pair<std::int32_t, std::string>> com_mapped_ports() {
    std::vector<std::pair<std::int32_t, std::string>> ports;
    std::error_code ec;
    for (fs::directory_iterator it(com_port_map_dir(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < 4 || name.compare(0, 3, "com") != 0) continue;
        std::int32_t n = 0;
        bool digits = name[3] != '0';
        for (std::size_t i = 3; i < name.size() && digits; ++i) {
            if (name[i] < '0' || name[i] > '9' || n > 100000)
                digits = false;
            else
                n = n * 10 + (name[i] - '0');
        }
        if (!digits || !it->is_symlink(ec)) continue;
        ports.emplace_back(n, com_device_path(n));
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

}  // namespace zb
