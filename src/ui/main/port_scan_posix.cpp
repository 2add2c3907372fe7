#include "ui/main/port_scan.h"

#include <QSerialPortInfo>

#include <filesystem>

namespace zb::ui {

std::vector<SystemPort> ListSystemSerialPorts() {
    std::vector<SystemPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SystemPort port;
        port.name = info.portName().toStdString();
        port.path = info.systemLocation().toStdString();
        if (port.name.starts_with("ttyS") &&
            !zb::HasRealUart(std::filesystem::path("/sys/class/tty") / port.name))
            continue;
        port.stable_path = zb::StablePath(port.path, "/dev/serial/by-id");
        port.description =
            zb::DescribePort(info.description().toStdString(), info.manufacturer().toStdString());
        ports.push_back(std::move(port));
    }
    return ports;
}

}  // namespace zb::ui
