// Port discovery: which devices the system lists, which ports count as present, and how new
// devices get their numbers and links.
#include "protocol/port_discovery.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "pty_peer.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using zb::Assignment;
using zb::MapEntry;
using zb::NewDevice;

// The shared scratch folder, seen as a path.
struct TempDir : zbtest::ScratchDir {
    TempDir() : ScratchDir("zbdisc") { EXPECT_FALSE(ScratchDir::path().empty()); }
    fs::path path() const { return ScratchDir::path(); }
};

void Touch(const fs::path& path, const std::string& text = "") {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

void Link(const fs::path& target, const fs::path& link) {
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

std::vector<std::pair<std::int32_t, std::size_t>> Pairs(const std::vector<Assignment>& a) {
    std::vector<std::pair<std::int32_t, std::size_t>> out;
    out.reserve(a.size());
    for (const Assignment& x : a) out.emplace_back(x.com, x.device);
    return out;
}

TEST(UartTest, TypeDecidesAndDriverOtherwise) {
    TempDir sys;
    const fs::path& root = sys.path();
    Touch(root / "ttyS0" / "type", "4\n");
    Touch(root / "ttyS1" / "type", "0\n");
    fs::create_directories(root / "ttyS1" / "device" / "driver");  // a driver, but no UART
    fs::create_directories(root / "ttyS2" / "device" / "driver");  // no type file
    fs::create_directories(root / "ttyS3");
    Touch(root / "ttyS4" / "type", "garbage");
    EXPECT_TRUE(zb::HasRealUart(root / "ttyS0"));
    EXPECT_FALSE(zb::HasRealUart(root / "ttyS1"));
    EXPECT_TRUE(zb::HasRealUart(root / "ttyS2"));
    EXPECT_FALSE(zb::HasRealUart(root / "ttyS3"));
    EXPECT_FALSE(zb::HasRealUart(root / "ttyS4"));
    EXPECT_FALSE(zb::HasRealUart(root / "ttyS9"));
}

TEST(StablePathTest, PrefersAByIdName) {
    TempDir dir;
    const fs::path dev = dir.path() / "ttyUSB0";
    const fs::path other = dir.path() / "ttyUSB1";
    Touch(dev);
    Touch(other);
    const fs::path by_id = dir.path() / "by-id";
    Link(dev, by_id / "usb-Maker_Adapter_B-if00-port0");
    Link(dev, by_id / "usb-Maker_Adapter_A-if00-port0");
    Link(other, by_id / "usb-Other-port0");
    EXPECT_EQ(zb::StablePath(dev.string(), by_id),
              (by_id / "usb-Maker_Adapter_A-if00-port0").string());
    const fs::path lone = dir.path() / "ttyACM0";
    Touch(lone);
    EXPECT_EQ(zb::StablePath(lone.string(), by_id), lone.string());
    EXPECT_EQ(zb::StablePath(lone.string(), "/nonexistent/by-id"), lone.string());
}

// A USB adapter below a host controller's root hub, an ACM modem, a legacy slot with a UART
// and one without, and a virtual terminal.
TEST(SysfsListTest, DevicesWithUartsAndUsbNames) {
    TempDir tmp;
    const fs::path devices = tmp.path() / "devices";
    const fs::path cls = tmp.path() / "class" / "tty";
    const fs::path dev = tmp.path() / "dev";
    const fs::path by_id = dev / "serial" / "by-id";

    Touch(devices / "usb1" / "idVendor", "1d6b\n");
    Touch(devices / "usb1" / "product", "xHCI Host Controller\n");
    Touch(devices / "usb1" / "1-1" / "idVendor", "0403\n");
    Touch(devices / "usb1" / "1-1" / "product", "FT232R USB UART\n");
    Touch(devices / "usb1" / "1-1" / "manufacturer", "FTDI\n");
    fs::create_directories(devices / "usb1" / "1-1" / "1-1:1.0" / "ttyUSB0");
    Touch(devices / "usb1" / "1-2" / "idVendor", "1234\n");
    Touch(devices / "usb1" / "1-2" / "product", "Bridge\n");
    Touch(devices / "usb1" / "1-2" / "manufacturer", "Bridge\n");
    fs::create_directories(devices / "usb1" / "1-2" / "1-2:1.0");
    fs::create_directories(devices / "platform" / "serial8250");

    Link(devices / "usb1" / "1-1" / "1-1:1.0" / "ttyUSB0", cls / "ttyUSB0" / "device");
    Link(devices / "usb1" / "1-2" / "1-2:1.0", cls / "ttyACM0" / "device");
    Touch(cls / "ttyS0" / "type", "0\n");
    Link(devices / "platform" / "serial8250", cls / "ttyS0" / "device");
    Touch(cls / "ttyS1" / "type", "4\n");
    Link(devices / "platform" / "serial8250", cls / "ttyS1" / "device");
    fs::create_directories(cls / "tty0");

    for (const char* node : {"ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "tty0"}) Touch(dev / node);
    Link(dev / "ttyUSB0", by_id / "usb-FTDI_FT232R_USB_UART_A1-if00-port0");

    const std::vector<zb::SystemPort> ports = zb::ListSysfsSerialPorts(cls, dev, by_id);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].name, "ttyACM0");
    EXPECT_EQ(ports[0].path, (dev / "ttyACM0").string());
    EXPECT_EQ(ports[0].stable_path, ports[0].path);
    EXPECT_EQ(ports[0].description, "Bridge");
    EXPECT_EQ(ports[1].name, "ttyS1");
    EXPECT_EQ(ports[1].description, "");
    EXPECT_EQ(ports[2].name, "ttyUSB0");
    EXPECT_EQ(ports[2].stable_path, (by_id / "usb-FTDI_FT232R_USB_UART_A1-if00-port0").string());
    EXPECT_EQ(ports[2].description, "FT232R USB UART, FTDI");

    EXPECT_TRUE(zb::ListSysfsSerialPorts(tmp.path() / "none", dev, by_id).empty());
}

TEST(AssignTest, LowestFreeNumbersAndUartSlots) {
    const std::vector<MapEntry> map{
        {1, "/dev/ttyUSB7"},  // known device
        {2, ""},              // its device is gone, but the number stays taken
        {5, "/dev/ttyACM0"},
    };
    const std::vector<NewDevice> devices{
        {"ttyUSB7", "/dev/ttyUSB7"},  // already mapped as COM1
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"ttyS1", "/dev/ttyS1"},  // takes COM2? taken: gets the lowest free
        {"ttyS3", "/dev/ttyS3"},  // its own slot, COM4
        {"ttyUSB10", "/dev/ttyUSB10"},
        {"ttyUSB2", "/dev/ttyUSB2"},
        {"ttyUSB2b", "/dev/ttyUSB2"},  // the same device twice
        {"gone", ""},
    };
    // ttyS first: ttyS1 -> 3 (2 taken), ttyS3 -> 4; then by name: ttyUSB0 -> 6, ttyUSB2 -> 7,
    // ttyUSB10 -> 8.
    EXPECT_EQ(Pairs(zb::AssignComNumbers(map, devices)),
              (std::vector<std::pair<std::int32_t, std::size_t>>{
                  {3, 2}, {4, 3}, {6, 1}, {7, 5}, {8, 4}}));
}

TEST(AssignTest, NoNumberLeft) {
    std::vector<MapEntry> map;
    for (std::int32_t n = 1; n <= 1024; ++n)
        if (n != 700) map.push_back({n, "/dev/x" + std::to_string(n)});
    const std::vector<NewDevice> devices{{"ttyUSB0", "/dev/ttyUSB0"}, {"ttyUSB1", "/dev/ttyUSB1"}};
    EXPECT_EQ(Pairs(zb::AssignComNumbers(map, devices)),
              (std::vector<std::pair<std::int32_t, std::size_t>>{{700, 0}}));
}

TEST(ScanTest, PresentEntriesAndNewLinks) {
    zbtest::PortMap ports;
    TempDir devs;
    const fs::path map = fs::path(ports.path()) / "not-yet";
    ::setenv("ZBCONFIG_PORTS", map.c_str(), 1);
    const fs::path& d = devs.path();
    Touch(d / "ttyUSB0");
    Touch(d / "ttyUSB1");
    Touch(d / "pts5");

    std::vector<zb::SystemPort> system(1);
    system[0].name = "ttyUSB0";
    system[0].path = (d / "ttyUSB0").string();
    system[0].stable_path = (d / "by-id-usb0").string();
    system[0].description = "USB serial, FT232R";
    // The map directory is created for the first link, to the device's stable name.
    auto present = zb::ScanMachinePorts(system);
    ASSERT_EQ(present.size(), 1u);
    EXPECT_EQ(present[0].com, 1);
    EXPECT_EQ(present[0].path, fs::canonical(d / "ttyUSB0").string());
    EXPECT_TRUE(present[0].is_new);
    EXPECT_EQ(fs::read_symlink(map / "com1"), d / "by-id-usb0");

    fs::remove(map / "com1");
    fs::create_symlink(d / "ttyUSB0", map / "com1");
    fs::create_symlink(d / "pts5", map / "com3");
    fs::create_symlink(d / "unplugged", map / "com4");  // dangling: not present
    fs::create_symlink(d / "ttyUSB1", map / "com2000");
    Touch(map / "com6");  // not a link
    Touch(map / "notes.txt");
    system.push_back({"ttyUSB1", (d / "ttyUSB1").string(), "", "second"});  // mapped as COM2000

    present = zb::ScanMachinePorts(system);
    ASSERT_EQ(present.size(), 3u);
    EXPECT_EQ(present[0].com, 1);  // kept its number
    for (const zb::MachinePort& port : present) EXPECT_FALSE(port.is_new) << port.com;
    EXPECT_EQ(present[0].description, "USB serial, FT232R");
    EXPECT_EQ(present[1].com, 3);
    EXPECT_EQ(present[1].path, fs::canonical(d / "pts5").string());
    EXPECT_EQ(present[1].description, "");
    EXPECT_EQ(present[2].com, 2000);
    EXPECT_EQ(present[2].description, "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(map), fs::directory_iterator()), 6);
}

// A stray file holding the lowest free number must not keep every new device out.
TEST(ScanTest, NumberHeldByAFileIsPassedOver) {
    zbtest::PortMap ports;
    TempDir devs;
    const fs::path map = ports.path();
    Touch(devs.path() / "ttyUSB0");
    Touch(map / "com1", "left behind");

    const std::vector<zb::SystemPort> system{
        {"ttyUSB0", (devs.path() / "ttyUSB0").string(), "", ""}};
    const auto present = zb::ScanMachinePorts(system);
    ASSERT_EQ(present.size(), 1u);
    EXPECT_EQ(present[0].com, 2);
    EXPECT_EQ(fs::read_symlink(map / "com2"), devs.path() / "ttyUSB0");
    EXPECT_FALSE(fs::is_symlink(map / "com1"));
    EXPECT_TRUE(present[0].is_new);
    const auto again = zb::ScanMachinePorts(system);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].com, 2);
    EXPECT_FALSE(again[0].is_new);
}

}  // namespace
