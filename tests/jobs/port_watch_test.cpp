// What a station's watcher makes of two looks at the machine's ports.
#include <gtest/gtest.h>

#include "jobs/platform/port_watch.h"

namespace {

using Ports = std::vector<zb::WatchedPort>;

TEST(PortWatch, TwoLooksGiveThePortsThatAppearedAndVanished) {
    const zb::WatchedPort a{3, "/dev/serial/by-id/usb-A"};
    const zb::WatchedPort b{4, "/dev/serial/by-id/usb-B"};
    const zb::WatchedPort a_elsewhere{5, "/dev/serial/by-id/usb-A"};
    const zb::WatchedPort c_on_3{3, "/dev/serial/by-id/usb-C"};
    const struct {
        const char* what;
        Ports before, now, appeared, vanished;
    } cases[] = {
        {"nothing changed", {a, b}, {b, a}, {}, {}},
        {"one plugged in", {a}, {b, a}, {b}, {}},
        {"one pulled out", {a, b}, {b}, {}, {a}},
        {"the first look", {}, {b, a}, {a, b}, {}},
        {"an adapter under another number", {a}, {a_elsewhere}, {a_elsewhere}, {a}},
        {"another adapter under the same number", {a, b}, {c_on_3, b}, {c_on_3}, {a}},
    };
    for (const auto& c : cases) {
        const zb::PortChanges changes = zb::DiffPorts(c.before, c.now);
        EXPECT_EQ(changes.appeared, c.appeared) << c.what;
        EXPECT_EQ(changes.vanished, c.vanished) << c.what;
    }
}

}  // namespace
