// Protocol tests wait 0.3 of the link's bounds, which still outlasts the virtual loader's
// 'C' once a second; the tests that time the real bounds take them back with
// zbtest::RealWaits.
#include <gtest/gtest.h>

#include "protocol/serial_link.h"

namespace {

class ShortWaits : public ::testing::Environment {
public:
    void SetUp() override { zb::com_set_wait_scale(0.3); }
};

[[maybe_unused]] ::testing::Environment* const short_waits =
    ::testing::AddGlobalTestEnvironment(new ShortWaits);

}  // namespace
