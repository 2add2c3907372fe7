// The port scan: which ports count as present, how new devices get their numbers and
// links, and how a scan merges into the port table.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "port_scan.h"
#include "ui_test_support.h"

namespace {

namespace fs = std::filesystem;
using zb::ui::Assignment;
using zb::ui::MapEntry;
using zb::ui::NewDevice;

void Touch(const fs::path& path, const std::string& text = "") {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::vector<std::pair<std::int32_t, std::size_t>> Pairs(const std::vector<Assignment>& a) {
    std::vector<std::pair<std::int32_t, std::size_t>> out;
    for (const Assignment& x : a) out.emplace_back(x.com, x.device);
    return out;
}

TEST(UartTest, TypeDecidesAndDriverOtherwise) {
    zbtest::TempDir sys;
    const fs::path root = sys.path();
    Touch(root / "ttyS0" / "type", "4\n");
    Touch(root / "ttyS1" / "type", "0\n");
    fs::create_directories(root / "ttyS1" / "device" / "driver");  // a driver, but no UART
    fs::create_directories(root / "ttyS2" / "device" / "driver");  // no type file
    fs::create_directories(root / "ttyS3");
    Touch(root / "ttyS4" / "type", "garbage");
    EXPECT_TRUE(zb::ui::HasRealUart(root / "ttyS0"));
    EXPECT_FALSE(zb::ui::HasRealUart(root / "ttyS1"));
    EXPECT_TRUE(zb::ui::HasRealUart(root / "ttyS2"));
    EXPECT_FALSE(zb::ui::HasRealUart(root / "ttyS3"));
    EXPECT_FALSE(zb::ui::HasRealUart(root / "ttyS4"));
    EXPECT_FALSE(zb::ui::HasRealUart(root / "ttyS9"));
}

TEST(StablePathTest, PrefersAByIdName) {
    zbtest::TempDir dir;
    const fs::path dev = fs::path(dir.path()) / "ttyUSB0";
    const fs::path other = fs::path(dir.path()) / "ttyUSB1";
    Touch(dev);
    Touch(other);
    const fs::path by_id = fs::path(dir.path()) / "by-id";
    fs::create_directories(by_id);
    fs::create_symlink(dev, by_id / "usb-Maker_Adapter_B-if00-port0");
    fs::create_symlink(dev, by_id / "usb-Maker_Adapter_A-if00-port0");
    fs::create_symlink(other, by_id / "usb-Other-port0");
    EXPECT_EQ(zb::ui::StablePath(dev.string(), by_id),
              (by_id / "usb-Maker_Adapter_A-if00-port0").string());
    const fs::path lone = fs::path(dir.path()) / "ttyACM0";
    Touch(lone);
    EXPECT_EQ(zb::ui::StablePath(lone.string(), by_id), lone.string());
    EXPECT_EQ(zb::ui::StablePath(lone.string(), "/nonexistent/by-id"), lone.string());
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
    EXPECT_EQ(Pairs(zb::ui::AssignComNumbers(map, devices)),
              (std::vector<std::pair<std::int32_t, std::size_t>>{
                  {3, 2}, {4, 3}, {6, 1}, {7, 5}, {8, 4}}));
}

TEST(AssignTest, NoNumberLeft) {
    std::vector<MapEntry> map;
    for (std::int32_t n = 1; n <= 1024; ++n)
        if (n != 700) map.push_back({n, "/dev/x" + std::to_string(n)});
    const std::vector<NewDevice> devices{{"ttyUSB0", "/dev/ttyUSB0"}, {"ttyUSB1", "/dev/ttyUSB1"}};
    EXPECT_EQ(Pairs(zb::ui::AssignComNumbers(map, devices)),
              (std::vector<std::pair<std::int32_t, std::size_t>>{{700, 0}}));
}

TEST(ScanTest, PresentEntriesAndNewLinks) {
    zbtest::ScopedPortMap ports;
    zbtest::TempDir devs;
    const fs::path map = fs::path(ports.path()) / "not-yet";
    ::setenv("ZBCONFIG_PORTS", map.c_str(), 1);
    const fs::path d = devs.path();
    Touch(d / "ttyUSB0");
    Touch(d / "ttyUSB1");
    Touch(d / "pts5");

    std::vector<zb::ui::SystemPort> system(1);
    system[0].name = "ttyUSB0";
    system[0].path = (d / "ttyUSB0").string();
    system[0].stable_path = (d / "by-id-usb0").string();
    system[0].description = "USB serial, FT232R";
    // The map directory is created for the first link, to the device's stable name.
    auto present = zb::ui::ScanMachinePorts(system);
    ASSERT_EQ(present.size(), 1u);
    EXPECT_EQ(present[0].com, 1);
    EXPECT_EQ(fs::read_symlink(map / "com1"), d / "by-id-usb0");

    fs::remove(map / "com1");
    fs::create_symlink(d / "ttyUSB0", map / "com1");
    fs::create_symlink(d / "pts5", map / "com3");
    fs::create_symlink(d / "unplugged", map / "com4");  // dangling: not present
    fs::create_symlink(d / "ttyUSB1", map / "com2000");
    Touch(map / "com6");  // not a link
    Touch(map / "notes.txt");
    system.push_back({"ttyUSB1", (d / "ttyUSB1").string(), "", "second"});  // mapped as COM2000

    present = zb::ui::ScanMachinePorts(system);
    ASSERT_EQ(present.size(), 3u);
    EXPECT_EQ(present[0].com, 1);  // kept its number
    EXPECT_EQ(present[0].description, "USB serial, FT232R");
    EXPECT_EQ(present[1].com, 3);
    EXPECT_EQ(present[1].description, "");
    EXPECT_EQ(present[2].com, 2000);
    EXPECT_EQ(present[2].description, "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(map), fs::directory_iterator()), 6);
}

TEST(MergeTest, AppearGoAndListedStay) {
    zb::PortTable rows;
    rows[0].port_state = -1;  // COM1 appears
    rows[1].port_state = 0;   // COM2 has gone
    rows[2].port_state = 0;   // COM3 still there
    zb::AddPort(rows[3], 4);  // COM4 listed, unplugged: stays listed
    zb::AddPort(rows[4], 5);  // COM5 listed and seen
    zb::ui::PortPresence seen = zb::ui::NoPortsSeen();
    for (std::int64_t com : {1, 3, 5, 0, -2, 1025, 70000}) zb::ui::MarkSeen(seen, com);
    zb::ui::MergePresence(seen, rows);
    EXPECT_EQ(rows[0].port_state, 0);
    EXPECT_EQ(rows[1].port_state, -1);
    EXPECT_EQ(rows[2].port_state, 0);
    EXPECT_EQ(rows[3].port_state, 1);
    EXPECT_EQ(rows[4].port_state, 1);
    EXPECT_EQ(rows[1023].port_state, -1);
}

}  // namespace
