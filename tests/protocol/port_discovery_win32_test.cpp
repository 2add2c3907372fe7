// The Windows scan: COM numbers come from the names the system lists.
#include <gtest/gtest.h>

#include "protocol/port_discovery.h"

namespace {

TEST(WindowsScan, NumbersComeFromTheNamesTheSystemLists) {
    const std::vector<zb::SystemPort> system = {
        {"COM12", "\\\\.\\COM12", "", "USB Serial Port"},
        {"com3", "\\\\.\\COM3", "", "first"},
        {"COM3", "\\\\.\\COM3", "", "second"},  // listed twice: the first one counts
        {"COM1024", "", "", ""},
        {"COM0", "", "", ""},
        {"COM007", "", "", ""},
        {"COM", "", "", ""},
        {"COM1X", "", "", ""},
        {"LPT1", "", "", ""},
        {"COM99999999999", "", "", ""},
    };
    const std::vector<zb::MachinePort> found = zb::ScanMachinePorts(system);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].com, 3);
    EXPECT_EQ(found[0].path, "\\\\.\\COM3");
    EXPECT_EQ(found[0].description, "first");
    EXPECT_EQ(found[1].com, 12);
    EXPECT_EQ(found[1].description, "USB Serial Port");
    EXPECT_EQ(found[2].com, 1024);
    EXPECT_EQ(found[2].path, "\\\\.\\COM1024");
}

}  // namespace
