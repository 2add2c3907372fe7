// COM numbers on Windows are the system's own: COM n is the device \\.\COMn, and the ports
// the machine has are the values of the SERIALCOMM device map.
// Before <windows.h>: it defines the PURGE_* names as macros (with the same values), which
// would otherwise clash with the link's constants.
#include "protocol/serial_link.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "protocol/port_discovery.h"

namespace zb {

namespace {

constexpr const char* kSerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

}  // namespace

std::string com_port_map_dir() {
    return std::string("HKEY_LOCAL_MACHINE\\") + kSerialComm;
}

// Whether the system has the port is known only by opening it: the DOS device names are
// not a reliable list (Wine, for one, resolves COM links only when the port is opened).
ComPortLookup com_lookup_port(std::int32_t n) {
    ComPortLookup out;
    out.path = com_device_path(n);
    if (n < 1) out.problem = "COM" + std::to_string(n) + " is no COM number";
    return out;
}

std::string com_device_path(std::int32_t n) {
    return "\\\\.\\COM" + std::to_string(n);
}

std::string com_port_id(std::int32_t n) {
    return com_device_path(n);
}

std::vector<std::pair<std::int32_t, std::string>> com_mapped_ports() {
    std::vector<std::pair<std::int32_t, std::string>> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        char device[256];
        DWORD device_size = sizeof device;
        char com[32];
        DWORD com_size = sizeof com;
        DWORD type = 0;
        const LONG r = RegEnumValueA(key, i, device, &device_size, nullptr, &type,
                                     reinterpret_cast<BYTE*>(com), &com_size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        // A value too long for its buffer is no COM name; skip it rather than stop.
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        const std::int32_t n = ComNumberOfName(
            std::string_view(com, strnlen(com, std::min<DWORD>(com_size, sizeof com))));
        if (n > 0) ports.emplace_back(n, std::string(device, device_size));
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                ports.end());
    return ports;
}

}  // namespace zb
