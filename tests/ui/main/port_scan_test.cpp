// How a port scan merges into the port table.
#include <gtest/gtest.h>

#include "ui/main/port_scan.h"

namespace {

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
