#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "serial_link.h"

namespace zb {

namespace fs = std::filesystem;

std::string com_port_map_dir() {
    if (const char* dir = std::getenv("ZBCONFIG_PORTS"); dir != nullptr && *dir != '\0') return dir;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/zbconfig/ports";
}

std::string com_device_path(std::int32_t n) {
    const fs::path entry = fs::path(com_port_map_dir()) / ("com" + std::to_string(n));
    std::error_code ec;
    if (fs::is_symlink(entry, ec)) {
        fs::path target = fs::read_symlink(entry, ec);
        if (!ec) return (target.is_relative() ? entry.parent_path() / target : target).string();
    }
    return "/dev/ttyS" + std::to_string(n - 1);
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
