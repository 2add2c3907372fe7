// The add-port dialog over the Linux port map: entries whose device is gone, or whose number
// is beyond COM1024, are not offered.
#include <filesystem>

#include <gtest/gtest.h>

#include "main_form_fixture.h"

namespace {

using zbtest::MainFormTest;

TEST_F(MainFormTest, PortMapEntriesWithoutADeviceOrBeyondTheRangeAreNotOffered) {
    zbsim::Simulator& low = Modems(1, 3);
    const std::filesystem::path map(ports_.path());
    std::filesystem::create_symlink("/nonexistent/tty", map / "com7");
    std::filesystem::create_symlink(low.device_path(3), map / "com1500");
    EXPECT_EQ(AddPorts({}, false), (QStringList{"COM3"}));
}

}  // namespace
