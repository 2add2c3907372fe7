// The Windows link without a device: refusals and the codes of a missing link.
#include <gtest/gtest.h>

#include "protocol/serial_link.h"

namespace {

using namespace zb;

TEST(WinLink, NullHandleCodes) {
    std::uint8_t byte = 0;
    EXPECT_EQ(com_setup(ComHandle(), 115200, 0, 8, 0, FLOW_NONE), ST_BAD_ARG);
    EXPECT_EQ(com_read_long(ComHandle(), &byte, 1), ST_BAD_ARG);
    EXPECT_EQ(com_read_short(ComHandle(), &byte, 1), ST_BAD_ARG);
    EXPECT_EQ(com_write(ComHandle(), &byte, 1), ST_BAD_ARG);
    EXPECT_EQ(com_set_timeouts(ComHandle(), 0, 0, 0, 0, 0), ST_IO);
    EXPECT_EQ(com_purge(ComHandle(), PURGE_INPUT), ST_IO);
    EXPECT_EQ(com_close(ComHandle()), ST_IO);
}

TEST(WinLink, ComNumbersAreTheSystemsOwn) {
    EXPECT_EQ(com_device_path(3), "\\\\.\\COM3");
    EXPECT_EQ(com_device_path(15), "\\\\.\\COM15");
    EXPECT_EQ(com_lookup_port(15).path, "\\\\.\\COM15");
}

TEST(WinLink, AbsentPortIsRefusedWithItsReasonAndTheHandleUntouched) {
    const ComHandle before = ComHandle::from_native(77);
    for (const std::int32_t n : {0, -3, 1000}) {
        ComHandle h = before;
        EXPECT_EQ(com_open(n, &h), ST_NO_PORT) << n;
        EXPECT_EQ(h, before) << n;
        EXPECT_FALSE(com_last_error().empty()) << n;
        EXPECT_TRUE(com_last_open_note().empty()) << n;
    }
    EXPECT_NE(com_last_error().find("COM1000"), std::string::npos) << com_last_error();
    EXPECT_EQ(com_open(3, nullptr), ST_NO_PORT);
}

}  // namespace
