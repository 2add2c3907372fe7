// COM numbers on Windows are the system's own: COM n is the device \\.\COMn, and the ports
// the machine has are the values of the SERIALCOMM device map. A port's identity is its
// Plug and Play device instance, which keeps its ID whatever COM number it is given.
// Before <windows.h>: it defines the PURGE_* names as macros (with the same values), which
// would otherwise clash with the link's constants.
#include "protocol/serial_link.h"

#include <windows.h>
// After <windows.h>, whose types it uses.
#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "protocol/port_discovery.h"

namespace zb {

namespace {

constexpr const char* kSerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Where COM ports are found: the COM port interface, which most drivers register, then the
// Ports class, for the virtual ports of drivers that register no interface.
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The COM number a device's driver gave it: the "PortName" value of its device key; 0 when
// it has none.
std::int32_t PortNumberOf(HDEVINFO devices, SP_DEVINFO_DATA* device) {
    const HKEY key =
        SetupDiOpenDevRegKey(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) return 0;
    char name[32];
    DWORD size = sizeof name;
    DWORD type = 0;
    const LONG r =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    // A value too long for the buffer is no COM name.
    if (r != ERROR_SUCCESS || type != REG_SZ) return 0;
    return ComNumberOfName(
        std::string_view(name, strnlen(name, std::min<DWORD>(size, sizeof name))));
}

// The instance ID of the present device of `devices` that is COM n; "" when none is.
std::string InstanceIdOf(HDEVINFO devices, std::int32_t n) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device) != FALSE; ++i) {
        if (PortNumberOf(devices, &device) != n) continue;
        DWORD needed = 0;
        (void)SetupDiGetDeviceInstanceIdA(devices, &device, nullptr, 0, &needed);
        std::string id(needed, '\0');
        if (needed == 0 ||
            SetupDiGetDeviceInstanceIdA(devices, &device, id.data(), needed, nullptr) == FALSE)
            continue;
        id.resize(strnlen(id.c_str(), needed));
        return id;
    }
    return {};
}

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
    const std::pair<const GUID*, DWORD> sources[] = {
        {&kComPortInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE},
        {&kPortsClass, DIGCF_PRESENT},
    };
    for (const auto& [guid, flags] : sources) {
        const HDEVINFO devices = SetupDiGetClassDevsA(guid, nullptr, nullptr, flags);
        if (devices == INVALID_HANDLE_VALUE) continue;
        std::string id = InstanceIdOf(devices, n);
        SetupDiDestroyDeviceInfoList(devices);
        if (!id.empty()) return id;
    }
    // No Plug and Play device (a port of Wine, or of a driver outside Plug and Play).
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
